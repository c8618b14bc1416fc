// The LV2 plugins: a mono and a stereo twelve-band equaliser, each a thin
// shell around engine instances.
//
// Quality mode changes while running: one engine instance per mode is
// created up front. A change switches instances at the start of a run()
// call, and the new one starts from silence: for its latency the output is
// silent, then it carries the input from the switch on. The instance left
// behind is fed silence for twice its latency (one block per run() call,
// so the cost stays that of a second running instance), which flushes the
// audio it held; a switch back to it waits until that is done, so old audio
// never comes out again. The latency port always reports the instance whose
// output run() is giving.
#include <array>
#include <cmath>
#include <cstring>
#include <new>

#include <lv2/core/lv2.h>

#include "lintaq.h"
#include "port_table.h"

namespace lintaq_lv2 {
namespace {

// Silence fed to an instance after it is left: twice its latency. Within
// one latency the audio it held has come out; the second lets its bands'
// carried state ring down for longer than the lookahead, the longest
// response its frames are meant to hold.
int64_t drainLength(int latency) { return 2 * static_cast<int64_t>(latency); }
constexpr int kScratch = 256;

struct Plugin {
    Variant variant;
    int32_t rate;
    std::array<const float *, kControlCount> control{};
    float *latencyOut = nullptr;
    const float *in[2] = {nullptr, nullptr};
    float *out[2] = {nullptr, nullptr};

    std::array<Range, kControlCount> ranges{};
    PeqInstance *engine[kModeCount] = {};
    int latency[kModeCount] = {};
    bool used[kModeCount] = {};       // has taken samples since it was created
    int64_t drainLeft[kModeCount] = {}; // silence still to feed after being left
    int active = -1;                  // -1: the first run() after activate picks

    std::array<uint32_t, kControlCount> lastRaw{}; // bit patterns, so NaN compares equal to itself
    bool paramsKnown = false;
    bool paramsSent = false;
    int wantedMode = kDefaultMode;
    PeqParams params{};

    float scratch[2][kScratch];
};

bool isStereo(const Plugin &p) { return p.variant == Variant::stereo; }

void freeEngines(Plugin &p)
{
    for (PeqInstance *&e : p.engine) {
        LintaqExit(e);
        e = nullptr;
    }
}

LV2_Handle instantiate(Variant variant, double sampleRate)
{
    // The engine takes a whole number of Hz in a signed 32-bit word.
    if (!(sampleRate >= 1.0 && sampleRate <= 2147483647.0))
        return nullptr;
    Plugin *p = new (std::nothrow) Plugin;
    if (p == nullptr)
        return nullptr;
    p->variant = variant;
    p->rate = static_cast<int32_t>(std::lround(sampleRate));
    for (uint32_t i = 0; i < kControlCount; ++i)
        p->ranges[i] = controlRange(variant, i);
    for (int m = 0; m < kModeCount; ++m) {
        p->engine[m] = LintaqInit(m, isStereo(*p) ? 1 : 0);
        if (p->engine[m] == nullptr) {
            freeEngines(*p);
            delete p;
            return nullptr;
        }
        p->latency[m] = LintaqGetLatency(p->engine[m]);
    }
    return p;
}

LV2_Handle instantiateMono(const LV2_Descriptor *, double rate, const char *, const LV2_Feature *const *)
{
    return instantiate(Variant::mono, rate);
}

LV2_Handle instantiateStereo(const LV2_Descriptor *, double rate, const char *, const LV2_Feature *const *)
{
    return instantiate(Variant::stereo, rate);
}

void connectPort(LV2_Handle handle, uint32_t port, void *data)
{
    Plugin &p = *static_cast<Plugin *>(handle);
    if (port == kLatency)
        p.latencyOut = static_cast<float *>(data);
    else if (port < kControlCount)
        p.control[port] = static_cast<const float *>(data);
    else if (port == kAudioIn0)
        p.in[0] = static_cast<const float *>(data);
    else if (!isStereo(p) && port == kMonoOut)
        p.out[0] = static_cast<float *>(data);
    else if (isStereo(p) && port == kStereoInR)
        p.in[1] = static_cast<const float *>(data);
    else if (isStereo(p) && port == kStereoOutL)
        p.out[0] = static_cast<float *>(data);
    else if (isStereo(p) && port == kStereoOutR)
        p.out[1] = static_cast<float *>(data);
}

// Outside the audio thread, so creating instances is allowed here: every
// instance that has taken audio is replaced by a fresh one, which is the
// only way to a state with no trace of earlier audio.
void activate(LV2_Handle handle)
{
    Plugin &p = *static_cast<Plugin *>(handle);
    for (int m = 0; m < kModeCount; ++m) {
        if (p.used[m] || p.engine[m] == nullptr) {
            LintaqExit(p.engine[m]);
            // Out of memory leaves the mode without an instance; run() then
            // gives silence for it rather than stale audio.
            p.engine[m] = LintaqInit(m, isStereo(p) ? 1 : 0);
        }
        p.used[m] = false;
        p.drainLeft[m] = 0;
    }
    p.active = -1;
    p.paramsKnown = false;
    p.paramsSent = false;
}

// Reads every control once; turns them into a parameter block only when
// one of them differs from the last call (lv2apply calls run() per frame).
void readControls(Plugin &p)
{
    std::array<uint32_t, kControlCount> raw;
    std::array<float, kControlCount> value;
    for (uint32_t i = 0; i < kControlCount; ++i) {
        const float *c = p.control[i];
        value[i] = (c != nullptr && i != kLatency) ? *c : p.ranges[i].def;
        std::memcpy(&raw[i], &value[i], sizeof(float));
    }
    if (p.paramsKnown && raw == p.lastRaw)
        return;
    p.lastRaw = raw;
    p.paramsKnown = true;
    p.paramsSent = false;

    PeqParams &q = p.params;
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        auto get = [&](BandField f) {
            const uint32_t i = bandPort(k, f);
            return clampControl(p.ranges[i], value[i]);
        };
        q.enable[k] = static_cast<uint32_t>(get(kEnable));
        q.type[k] = static_cast<uint32_t>(get(kType));
        q.freq[k] = get(kFreq);
        q.gain[k] = get(kGain);
        q.q[k] = get(kQ);
    }
    q.sampleRate = p.rate;
    q.noise = clampControl(p.ranges[kNoise], value[kNoise]) > 0 ? 1u : 0u;
    q.oversample = clampControl(p.ranges[kOversample], value[kOversample]) > 0 ? 1u : 0u;
    p.wantedMode = static_cast<int>(clampControl(p.ranges[kQuality], value[kQuality]));
}

void chooseInstance(Plugin &p)
{
    const int want = p.wantedMode;
    if (p.active < 0) {
        p.active = want;
        p.paramsSent = false;
    } else if (want != p.active && p.drainLeft[want] == 0) {
        p.drainLeft[p.active] = p.engine[p.active] ? drainLength(p.latency[p.active]) : 0;
        p.active = want;
        p.paramsSent = false;
    }
    if (!p.paramsSent) {
        LintaqSetPar(p.engine[p.active], &p.params);
        p.paramsSent = true;
    }
}

// Non-finite samples would enter the filters' carried state for good, so
// they become silence. Each index is read in full before it is written,
// which keeps this right for in-place and separate buffers alike.
void copyInput(Plugin &p, uint32_t n)
{
    if (isStereo(p)) {
        const float *inL = p.in[0], *inR = p.in[1];
        float *outL = p.out[0], *outR = p.out[1];
        for (uint32_t i = 0; i < n; ++i) {
            const float l = inL[i], r = inR[i];
            outL[i] = std::isfinite(l) ? l : 0.0f;
            outR[i] = std::isfinite(r) ? r : 0.0f;
        }
    } else {
        const float *in = p.in[0];
        float *out = p.out[0];
        for (uint32_t i = 0; i < n; ++i) {
            const float x = in[i];
            out[i] = std::isfinite(x) ? x : 0.0f;
        }
    }
}

void feedSilence(Plugin &p, int m, int64_t count)
{
    PeqInstance *e = p.engine[m];
    while (count > 0) {
        const int chunk = static_cast<int>(count < kScratch ? count : kScratch);
        std::memset(p.scratch, 0, sizeof p.scratch);
        if (isStereo(p))
            LintaqProcST(e, p.scratch[0], p.scratch[1], chunk);
        else
            LintaqProc(e, p.scratch[0], chunk);
        count -= chunk;
    }
}

void run(LV2_Handle handle, uint32_t n)
{
    Plugin &p = *static_cast<Plugin *>(handle);
    readControls(p);
    chooseInstance(p);
    const int m = p.active;
    if (p.latencyOut != nullptr)
        *p.latencyOut = static_cast<float>(p.latency[m]);

    const int channels = isStereo(p) ? 2 : 1;
    bool connected = true;
    for (int c = 0; c < channels; ++c)
        connected = connected && p.in[c] != nullptr && p.out[c] != nullptr;
    if (connected && n > 0) {
        copyInput(p, n);
        PeqInstance *e = p.engine[m];
        if (e == nullptr) {
            for (int c = 0; c < channels; ++c)
                std::memset(p.out[c], 0, sizeof(float) * n);
        }
        // The engine counts in int; a block past its range goes in pieces.
        for (uint32_t pos = 0; e != nullptr && pos < n;) {
            const uint32_t left = n - pos;
            const int count = static_cast<int>(left > 0x40000000u ? 0x40000000u : left);
            if (isStereo(p))
                LintaqProcST(e, p.out[0] + pos, p.out[1] + pos, count);
            else
                LintaqProc(e, p.out[0] + pos, count);
            pos += static_cast<uint32_t>(count);
        }
        p.used[m] = true;
    }

    for (int k = 0; k < kModeCount; ++k) {
        if (k == m || p.drainLeft[k] == 0)
            continue;
        const int64_t step = p.drainLeft[k] < n ? p.drainLeft[k] : n;
        if (p.engine[k] != nullptr)
            feedSilence(p, k, step);
        p.drainLeft[k] -= step;
    }
}

void deactivate(LV2_Handle) {}

void cleanup(LV2_Handle handle)
{
    Plugin *p = static_cast<Plugin *>(handle);
    freeEngines(*p);
    delete p;
}

const void *extensionData(const char *) { return nullptr; }

const LV2_Descriptor kMono = {kMonoUri, instantiateMono, connectPort, activate, run,
                              deactivate, cleanup,        extensionData};
const LV2_Descriptor kStereo = {kStereoUri, instantiateStereo, connectPort, activate, run,
                                deactivate, cleanup,          extensionData};

} // namespace
} // namespace lintaq_lv2

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor *lv2_descriptor(uint32_t index)
{
    switch (index) {
    case 0: return &lintaq_lv2::kMono;
    case 1: return &lintaq_lv2::kStereo;
    default: return nullptr;
    }
}
