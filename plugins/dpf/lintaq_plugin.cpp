// The equaliser as a DPF plugin: one source for LV2, VST3 and CLAP, built
// once per channel count. A thin shell around engine instances.
//
// Parameters reach the engine at block boundaries only: run() forms one
// parameter block from whatever changed since the last call and hands it to
// the engine once, so a block with many parameter events redesigns at most
// once.
//
// Quality (the latency mode) is fixed per engine instance, so instances for
// every mode are created up front and a change switches instances at the
// start of a run() call; the new one starts from silence (for its latency
// the output is silent, then it carries the input from the switch on), and
// the host is told the new latency.
//
// The even-load switch works the same way: each mode has instances of both
// kinds (see createEngine), and a change switches between them.
//
// Oversampling can change inside a running instance, but the engine then
// rebuilds its frames and the output dips for about a frame. So each mode
// has a second instance: a switch starts it with the new setting, both run
// on the same input until the new one has seen twice its latency of input
// (its output is then steady), and an equal-gain crossfade moves to it. The
// latency is the same on both paths, so they line up sample for sample.
//
// An instance that is left is fed silence for twice its latency (one block
// per run() call), which flushes what it held before it may be used again.
//
// Bypass gives the input delayed by the latency, exactly, from a delay line
// beside the engine; switching it fades between the two over a short ramp.
// The engine keeps running meanwhile, so leaving bypass needs no refill.
#include <cmath>
#include <cstring>
#include <iterator>
#include <vector>

#include "DistrhoPlugin.hpp"

#include "lintaq.h"
#include "parameters.h"
#include "presets.h"

START_NAMESPACE_DISTRHO

namespace {

using namespace lintaq_plugin;

constexpr Variant kVariant = DISTRHO_PLUGIN_NUM_INPUTS == 2 ? Variant::stereo : Variant::mono;
constexpr int kChannels = DISTRHO_PLUGIN_NUM_INPUTS;
constexpr int kSlots = 2;                // per mode: the running path and the one faded to
constexpr uint32_t kChunk = 256;         // samples per step while two paths run
constexpr int64_t kFadeLength = 4096;    // samples of the oversampling crossfade
constexpr float kBypassStep = 1.0f / 1024; // bypass fades over 1024 samples

// An engine choice is a quality mode and a kind of instance: the even-load
// kind adds a hop of latency, so, like a mode, it is fixed per instance and
// a change switches instances. Choices 0..3 are the modes on the plain kind,
// 4..7 the same modes on the even-load kind.
constexpr int kChoiceCount = 2 * kModeCount;
constexpr int choiceOf(int mode, bool evenLoad) { return mode + (evenLoad ? kModeCount : 0); }

// Every engine instance the plugin uses is made here, so how instances are
// created (and so their latency) is decided in one place.
PeqInstance *createEngine(int choice)
{
    return newEngine(choice % kModeCount, choice >= kModeCount, kChannels == 2);
}

// Silence fed to an instance after it is left: twice its latency. Within one
// latency the audio it held has come out; the second lets its bands' carried
// state ring down for longer than the lookahead.
int64_t drainLength(int latency) { return 2 * static_cast<int64_t>(latency); }

void processEngine(PeqInstance *e, float *const *ch, uint32_t offset, uint32_t n)
{
    if (e == nullptr) { // out of memory at activation: silence, never stale audio
        for (int c = 0; c < kChannels; ++c)
            std::memset(ch[c] + offset, 0, sizeof(float) * n);
        return;
    }
    // The engine counts in int; a block past its range goes in pieces.
    for (uint32_t pos = 0; pos < n;) {
        const uint32_t left = n - pos;
        const int count = static_cast<int>(left > 0x40000000u ? 0x40000000u : left);
        if (kChannels == 2)
            LintaqProcST(e, ch[0] + offset + pos, ch[kChannels - 1] + offset + pos, count);
        else
            LintaqProc(e, ch[0] + offset + pos, count);
        pos += static_cast<uint32_t>(count);
    }
}

struct Label {
    int value;
    const char *text;
};
constexpr Label kTypeLabels[] = {{LINTAQ_PEAK, "Peak"},
                                 {LINTAQ_LOW_SHELF, "Low shelf"},
                                 {LINTAQ_HIGH_SHELF, "High shelf"},
                                 {LINTAQ_HIGH_PASS, "High-pass 24 dB/oct"},
                                 {LINTAQ_LOW_PASS, "Low-pass 24 dB/oct"}};
constexpr Label kRouteLabels[] = {{LINTAQ_OFF, "Off"},   {LINTAQ_BOTH, "Both"}, {LINTAQ_LEFT, "Left"},
                                  {LINTAQ_RIGHT, "Right"}, {LINTAQ_MID, "Mid"}, {LINTAQ_SIDE, "Side"}};

void setLabels(Parameter &p, const Label *labels, size_t count)
{
    ParameterEnumerationValue *v = new ParameterEnumerationValue[count];
    for (size_t i = 0; i < count; ++i) {
        v[i].value = static_cast<float>(labels[i].value);
        v[i].label = labels[i].text;
    }
    p.enumValues.count = static_cast<uint8_t>(count);
    p.enumValues.restrictedMode = true;
    p.enumValues.values = v;
}

class LintaqEq : public Plugin {
public:
    LintaqEq() : Plugin(kParamCount, kPresetCount, 0)
    {
        for (uint32_t i = 0; i < kParamCount; ++i)
            fValues[i] = paramRange(kVariant, i).def;
        for (int m = 0; m < kChoiceCount; ++m) {
            for (int s = 0; s < kSlots; ++s)
                fEngine[m][s] = createEngine(m);
            fLatency[m] = LintaqGetLatency(fEngine[m][0]);
        }
        fChoice = choiceOf(kDefaultMode, true);
        setLatency(static_cast<uint32_t>(fLatency[fChoice]));
    }

    ~LintaqEq() override
    {
        for (auto &mode : fEngine)
            for (PeqInstance *e : mode)
                LintaqExit(e);
    }

protected:
    const char *getLabel() const override { return kVariant == Variant::stereo ? "LintaqStereo" : "LintaqMono"; }
    const char *getDescription() const override
    {
        return "Twelve-band linear-phase parametric equaliser. Each band runs forwards and backwards over "
               "overlapping frames, so only the magnitude changes.";
    }
    const char *getMaker() const override { return "Lintaq"; }
    const char *getLicense() const override { return "ISC"; }
    uint32_t getVersion() const override { return d_version(1, 0, 11); }
    int64_t getUniqueId() const override { return d_cconst('L', 'q', 'E', kVariant == Variant::stereo ? 's' : 'm'); }

    // The earlier plugin's names; DPF puts "lv2_" before LV2 symbols.
    void initAudioPort(bool input, uint32_t index, AudioPort &port) override
    {
        port.groupId = kVariant == Variant::stereo ? kPortGroupStereo : kPortGroupMono;
        if (kVariant == Variant::mono) {
            port.name = input ? "In" : "Out";
            port.symbol = input ? "in" : "out";
        } else {
            port.name = String(input ? "In " : "Out ") + (index == 0 ? "left" : "right");
            port.symbol = String(input ? "in_" : "out_") + (index == 0 ? "l" : "r");
        }
    }

    void initParameter(uint32_t index, Parameter &p) override
    {
        if (index == kBypass) {
            p.initDesignation(kParameterDesignationBypass);
            return;
        }
        const Range r = paramRange(kVariant, index);
        p.symbol = paramSymbol(index).c_str();
        p.ranges = ParameterRanges(r.def, r.min, r.max);
        p.hints = kParameterIsAutomatable;
        switch (r.kind) {
        case Kind::enumeration: p.hints |= kParameterIsInteger; break;
        case Kind::toggle: p.hints |= kParameterIsInteger | kParameterIsBoolean; break;
        case Kind::logarithmic: p.hints |= kParameterIsLogarithmic; break;
        case Kind::real: break;
        }
        switch (index) {
        case kQuality: {
            p.name = "Quality";
            p.description = "Lookahead per frame: more holds longer band responses (low, narrow bands) at the "
                            "cost of latency. A change restarts the output from silence.";
            static char text[kModeCount][80];
            Label labels[kModeCount];
            for (int m = 0; m < kModeCount; ++m) {
                std::snprintf(text[m], sizeof text[m], "%d: %d samples latency (%d with even load)", m,
                              fLatency[choiceOf(m, false)], fLatency[choiceOf(m, true)]);
                labels[m] = {m, text[m]};
            }
            setLabels(p, labels, kModeCount);
            return;
        }
        case kOversample:
            p.name = "2x oversampling";
            p.description = "Below 64 kHz, filter at twice the rate so bands near the top keep their shape. "
                            "Latency does not change; a switch crossfades.";
            return;
        case kEvenLoad:
            p.name = "Even CPU load, +2048 samples latency";
            p.shortName = "Even load";
            p.description = "Spreads each frame's filtering over the following host blocks, so every block "
                            "costs about the same, for 2048 more samples of latency. The sound is the same. "
                            "A change restarts the output from silence.";
            return;
        case kTrim:
            p.name = "Output trim";
            p.unit = "dB";
            return;
        default: break;
        }
        const String n(bandOf(index) + 1);
        switch (fieldOf(index)) {
        case kEnable:
            if (kVariant == Variant::mono) {
                p.name = "Band " + n + " on";
            } else {
                p.name = "Band " + n + " channels";
                p.description = "Off, both channels, left, right, mid (L+R) or side (L-R).";
                setLabels(p, kRouteLabels, std::size(kRouteLabels));
            }
            break;
        case kType:
            p.name = "Band " + n + " type";
            setLabels(p, kTypeLabels, std::size(kTypeLabels));
            break;
        case kFreq:
            p.name = "Band " + n + " frequency";
            p.unit = "Hz";
            p.description = "Centre or corner. A band at or above 0.4535 x the sample rate is bypassed.";
            break;
        case kGain:
            p.name = "Band " + n + " gain";
            p.unit = "dB";
            p.description = "Unused by the high- and low-pass types.";
            break;
        case kQ:
            p.name = "Band " + n + " Q";
            p.description = "Width of a peak (up to 20), slope of a shelf (up to 2); high- and low-pass: level "
                            "Q squared at the corner (up to 10).";
            break;
        default: break;
        }
        p.shortName = p.name;
    }

    void initProgramName(uint32_t index, String &name) override { name = kPresets[index].name; }

    float getParameterValue(uint32_t index) const override { return index < kParamCount ? fValues[index] : 0.0f; }

    void setParameterValue(uint32_t index, float value) override
    {
        if (index >= kParamCount)
            return;
        fValues[index] = clampParam(paramRange(kVariant, index), value);
        fChanged = true;
    }

    void loadProgram(uint32_t index) override
    {
        if (index >= kPresetCount)
            return;
        const Preset &p = kPresets[index];
        // A preset is a sound: the host's bypass and the choice of engine
        // kind are not part of it and stay as they are.
        for (uint32_t i = 0; i < kParamCount; ++i)
            if (i != kBypass && i != kEvenLoad)
                fValues[i] = paramRange(kVariant, i).def;
        fValues[kQuality] = static_cast<float>(p.quality);
        fValues[kOversample] = p.oversample ? 1.0f : 0.0f;
        for (int k = 0; k < p.bandCount; ++k) {
            const PresetBand &b = p.bands[k];
            fValues[bandParam(b.band, kEnable)] = LINTAQ_BOTH; // mono: on
            fValues[bandParam(b.band, kType)] = static_cast<float>(b.type);
            fValues[bandParam(b.band, kFreq)] = b.freq;
            fValues[bandParam(b.band, kGain)] = b.gain;
            fValues[bandParam(b.band, kQ)] = b.q;
        }
        fChanged = true;
    }

    // Outside the audio thread, so creating instances is allowed: every
    // instance that has taken audio is replaced by a fresh one, the only way
    // to a state with no trace of earlier audio.
    void activate() override
    {
        for (int m = 0; m < kChoiceCount; ++m)
            for (int s = 0; s < kSlots; ++s) {
                if (fUsed[m][s] || fEngine[m][s] == nullptr) {
                    LintaqExit(fEngine[m][s]);
                    fEngine[m][s] = createEngine(m);
                }
                fUsed[m][s] = false;
                fDrainLeft[m][s] = 0;
            }
        // Room for the longest latency and the largest block the host may send.
        int longest = 0;
        for (int latency : fLatency)
            longest = latency > longest ? latency : longest;
        size_t ring = 1;
        while (ring < static_cast<size_t>(longest) + getBufferSize() + 1)
            ring *= 2;
        for (auto &r : fRing)
            r.assign(ring, 0.0f);
        fRingMask = ring - 1;
        fRingPos = 0;
        fBlockLimit = getBufferSize() > 0 ? getBufferSize() : 1;
        fBypassMix = fValues[kBypass] > 0.5f ? 1.0f : 0.0f;

        fChoice = choiceOf(static_cast<int>(fValues[kQuality]), fValues[kEvenLoad] > 0.5f);
        fSlot = 0;
        fOversample = fValues[kOversample] > 0.5f;
        fFading = false;
        fFresh = true;
        fGain = targetGain();
        fChanged = true;
        setLatency(static_cast<uint32_t>(fLatency[fChoice]));
    }

    void sampleRateChanged(double) override { fChanged = true; }

    // Blocks longer than the host announced (which hosts should not send)
    // go in pieces the delay line has room for.
    void run(const float **inputs, float **outputs, uint32_t frames) override
    {
        if (fRing[0].empty())
            return;
        for (uint32_t pos = 0; pos < frames;) {
            const uint32_t n = frames - pos < fBlockLimit ? frames - pos : fBlockLimit;
            const float *in[kChannels];
            float *out[kChannels];
            for (int c = 0; c < kChannels; ++c) {
                in[c] = inputs[c] + pos;
                out[c] = outputs[c] + pos;
            }
            runPiece(in, out, n);
            pos += n;
        }
    }

private:
    void runPiece(const float **inputs, float **outputs, uint32_t frames)
    {
        const bool changed = fChanged;
        if (changed) {
            fillParams();
            fChanged = false;
        }
        const bool switched = choosePaths();
        if (changed || switched)
            sendParams();

        writeRing(inputs, frames);
        copyInput(outputs, frames);
        uint32_t done = 0;
        if (fFading)
            done = runFade(outputs, frames);
        if (done < frames) {
            processEngine(fEngine[fChoice][fSlot], outputs, done, frames - done);
            fUsed[fChoice][fSlot] = true;
        }
        applyBypass(outputs, frames);
        applyTrim(outputs, frames);
        drainLeftPaths(frames);
        fRingPos = (fRingPos + frames) & fRingMask;
    }

    // Two straight copies, split where the ring wraps (a masked index per
    // sample cost the plugin about 1% of the engine's time).
    void writeRing(const float **inputs, uint32_t frames)
    {
        const size_t first = frames < fRingMask + 1 - fRingPos ? frames : fRingMask + 1 - fRingPos;
        for (int c = 0; c < kChannels; ++c) {
            std::memcpy(fRing[c].data() + fRingPos, inputs[c], sizeof(float) * first);
            std::memcpy(fRing[c].data(), inputs[c] + first, sizeof(float) * (frames - first));
        }
    }

    // Mixes in the delayed input as far as bypass is engaged; fully bypassed,
    // the output is the delayed input itself.
    void applyBypass(float **outputs, uint32_t frames)
    {
        const float target = fValues[kBypass] > 0.5f ? 1.0f : 0.0f;
        float mix = fBypassMix; // a local: the output stores could alias the member
        if (mix == 0.0f && target == 0.0f)
            return;
        const size_t mask = fRingMask;
        const size_t first = fRingPos + mask + 1 - static_cast<size_t>(fLatency[fChoice]);
        const float *ring[kChannels];
        for (int c = 0; c < kChannels; ++c)
            ring[c] = fRing[c].data();
        for (uint32_t i = 0; i < frames; ++i) {
            if (mix != target)
                mix = target > mix ? std::fmin(target, mix + kBypassStep) : std::fmax(target, mix - kBypassStep);
            const size_t at = (first + i) & mask;
            for (int c = 0; c < kChannels; ++c) {
                float &o = outputs[c][i];
                const float dry = ring[c][at];
                o = mix == 1.0f ? dry : o + mix * (dry - o);
            }
        }
        fBypassMix = mix;
    }

    float targetGain() const
    {
        const float trim = fValues[kTrim];
        return fValues[kBypass] > 0.5f || trim == 0.0f ? 1.0f : std::pow(10.0f, trim / 20.0f);
    }

    // The engine's block and the engine path wanted, from the parameter values.
    void fillParams()
    {
        fillEngineParams(fValues, getSampleRate(), fParams);
        fWantOversample = fValues[kOversample] > 0.5f;
        fWantChoice = choiceOf(static_cast<int>(fValues[kQuality]), fValues[kEvenLoad] > 0.5f);
    }

    int freeSlot(int mode) const
    {
        for (int s = 0; s < kSlots; ++s)
            if (fDrainLeft[mode][s] == 0 && !(mode == fChoice && (s == fSlot || (fFading && s == fFadeSlot))))
                return s;
        return -1;
    }

    void leave(int mode, int slot)
    {
        fDrainLeft[mode][slot] = fEngine[mode][slot] ? drainLength(fLatency[mode]) : 0;
    }

    // Switches instances for a new quality or starts a crossfade for a new
    // oversampling setting; either waits while the instance it needs is
    // still being flushed. Returns whether the running path changed.
    bool choosePaths()
    {
        // Before the first sample there is nothing to fade from or flush.
        if (fFresh) {
            fFresh = false;
            fChoice = fWantChoice;
            fOversample = fWantOversample;
            setLatency(static_cast<uint32_t>(fLatency[fChoice]));
            return true;
        }
        if (fWantChoice != fChoice) {
            const int s = freeSlot(fWantChoice);
            if (s < 0)
                return false;
            leave(fChoice, fSlot);
            if (fFading)
                leave(fChoice, fFadeSlot);
            fFading = false;
            fChoice = fWantChoice;
            fSlot = s;
            fOversample = fWantOversample;
            setLatency(static_cast<uint32_t>(fLatency[fChoice]));
            return true;
        }
        if (!fFading && fWantOversample != fOversample) {
            const int s = freeSlot(fChoice);
            if (s < 0)
                return false;
            fFading = true;
            fFadeSlot = s;
            fFadeOversample = fWantOversample;
            fFadeWait = drainLength(fLatency[fChoice]);
            fFadePos = 0;
            return true;
        }
        return false;
    }

    void sendParams()
    {
        fParams.oversample = fOversample ? 1u : 0u;
        LintaqSetPar(fEngine[fChoice][fSlot], &fParams);
        if (fFading) {
            fParams.oversample = fFadeOversample ? 1u : 0u;
            LintaqSetPar(fEngine[fChoice][fFadeSlot], &fParams);
        }
    }

    // The outputs start as the input, taken from the delay line just
    // written: hosts may hand the same buffer as input and output, or even
    // one channel's input as the other's output.
    void copyInput(float **outputs, uint32_t frames) const
    {
        const size_t first = frames < fRingMask + 1 - fRingPos ? frames : fRingMask + 1 - fRingPos;
        for (int c = 0; c < kChannels; ++c) {
            std::memcpy(outputs[c], fRing[c].data() + fRingPos, sizeof(float) * first);
            std::memcpy(outputs[c] + first, fRing[c].data(), sizeof(float) * (frames - first));
        }
    }

    // Both paths of the current mode on the same input, the output moving
    // from the old to the new once the new one is steady. Returns how many
    // samples it produced: all of them, or those up to the fade's end.
    uint32_t runFade(float **outputs, uint32_t frames)
    {
        PeqInstance *from = fEngine[fChoice][fSlot], *to = fEngine[fChoice][fFadeSlot];
        fUsed[fChoice][fSlot] = fUsed[fChoice][fFadeSlot] = true;
        float *next[kChannels];
        for (int c = 0; c < kChannels; ++c)
            next[c] = fNext[c];
        uint32_t pos = 0;
        while (pos < frames && fFading) {
            const uint32_t n = frames - pos < kChunk ? frames - pos : kChunk;
            for (int c = 0; c < kChannels; ++c)
                std::memcpy(next[c], outputs[c] + pos, sizeof(float) * n);
            processEngine(from, outputs, pos, n);
            processEngine(to, next, 0, n);
            // The new path's output is not steady before fFadeWait more samples.
            uint32_t i = fFadeWait < n ? static_cast<uint32_t>(fFadeWait) : n;
            fFadeWait -= i;
            for (; i < n && fFadePos < kFadeLength; ++i) {
                const float g = static_cast<float>(fFadePos + 1) / static_cast<float>(kFadeLength + 1);
                for (int c = 0; c < kChannels; ++c) {
                    float &o = outputs[c][pos + i];
                    o = (1.0f - g) * o + g * next[c][i];
                }
                ++fFadePos;
            }
            if (fFadePos == kFadeLength) {
                for (; i < n; ++i)
                    for (int c = 0; c < kChannels; ++c)
                        outputs[c][pos + i] = next[c][i];
                leave(fChoice, fSlot);
                fSlot = fFadeSlot;
                fOversample = fFadeOversample;
                fFading = false;
            }
            pos += n;
        }
        return pos;
    }

    // The trim ramps over a block when it changes; at 0 dB the output is
    // the engine's, untouched.
    void applyTrim(float **outputs, uint32_t frames)
    {
        const float target = targetGain();
        if (target == 1.0f && fGain == 1.0f)
            return;
        const float start = fGain, step = frames > 0 ? (target - start) / static_cast<float>(frames) : 0.0f;
        for (int c = 0; c < kChannels; ++c) {
            float *o = outputs[c];
            for (uint32_t i = 0; i < frames; ++i)
                o[i] *= start + step * static_cast<float>(i + 1);
        }
        fGain = target;
    }

    void drainLeftPaths(uint32_t frames)
    {
        for (int m = 0; m < kChoiceCount; ++m)
            for (int s = 0; s < kSlots; ++s) {
                if (fDrainLeft[m][s] == 0)
                    continue;
                int64_t count = fDrainLeft[m][s] < frames ? fDrainLeft[m][s] : frames;
                fDrainLeft[m][s] -= count;
                float *silence[kChannels];
                for (int c = 0; c < kChannels; ++c)
                    silence[c] = fNext[c];
                while (count > 0) {
                    const uint32_t n = static_cast<uint32_t>(count < kChunk ? count : kChunk);
                    for (int c = 0; c < kChannels; ++c)
                        std::memset(fNext[c], 0, sizeof(float) * n);
                    if (fEngine[m][s] != nullptr)
                        processEngine(fEngine[m][s], silence, 0, n);
                    count -= n;
                }
            }
    }

    float fValues[kParamCount];
    bool fChanged = true;
    PeqParams fParams{};
    bool fWantOversample = false;
    int fWantChoice = choiceOf(kDefaultMode, true);

    PeqInstance *fEngine[kChoiceCount][kSlots] = {};
    int fLatency[kChoiceCount] = {};
    bool fUsed[kChoiceCount][kSlots] = {};       // has taken samples since it was created
    int64_t fDrainLeft[kChoiceCount][kSlots] = {}; // silence still to feed after being left

    int fChoice = choiceOf(kDefaultMode, true), fSlot = 0; // the path whose output run() gives
    bool fOversample = false;
    bool fFading = false;
    bool fFresh = true; // activated, no sample processed yet
    int fFadeSlot = 1;
    bool fFadeOversample = false;
    int64_t fFadeWait = 0, fFadePos = 0;
    float fGain = 1.0f;

    float fNext[kChannels][kChunk];

    std::vector<float> fRing[kChannels]; // the input, for bypass
    size_t fRingMask = 0, fRingPos = 0;
    uint32_t fBlockLimit = 1;
    float fBypassMix = 0.0f; // 0: engine output, 1: delayed input

    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(LintaqEq)
};

} // namespace

Plugin *createPlugin() { return new LintaqEq(); }

END_NAMESPACE_DISTRHO
