// libFuzzer harness over the C interface, as a hostile host would drive it
// (only the choice of kernel set reaches inside):
// creation with any mode and channel flag, parameter blocks with any word
// anywhere, processing calls of any length with any samples, latency
// queries and the curve functions with any arguments.
//
// Besides the sanitizers' own checks it traps when
// - an instance gives a non-finite output sample although, since its
//   creation, every input sample was finite and within the documented
//   magnitude and every band in effect had its settings in the documented
//   ranges (lintaq.h, PeqParams);
// - a curve value is not finite, or a grid's point count is out of bounds;
// - the latency differs from the one the mode (and the kind of instance)
//   fixes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "lintaq.h"
#include "stream/kernel_set.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The documented ranges (lintaq.h, PeqParams).
constexpr double kMaxInput = 1000.0;
constexpr int kMinRate = 8000, kMaxRate = 384000;
constexpr float kMinFreq = 10.0f, kMinGain = -30.0f, kMaxGain = 30.0f;
constexpr float kMinQ = 0.1f, kMaxPeakQ = 20.0f, kMaxShelfQ = 2.0f, kMaxPassQ = 10.0f;

[[noreturn]] void fail(const char *what, double value)
{
    std::fprintf(stderr, "lintaq_fuzz: %s (%g)\n", what, value);
    std::abort();
}

const float kHostileFloats[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.7f, 6.0f, -6.0f, 24.0f, -60.0f, 1000.0f,
                                20000.0f, 21768.72f, 1e-30f, -1e-30f, 1e-40f, 1e30f, -1e30f, 3e38f,
                                -3e38f, kInf, -kInf, kNaN, -kNaN, 0.1f, 10.0f, 40.0f, 12345.0f, 1e4f};
const int32_t kHostileRates[] = {0, -1, 1, -48000, 8000, 22050, 44100, 44999, 45000, 48000, 63999,
                                 64000, 96000, 192000, 384000, 1000000, 2147483647, -2147483647 - 1};
const uint32_t kHostileCodes[] = {0, 1, 2, 3, 4, 5, 6, 7, 255, 0x80000000u, 0xffffffffu};

float hostileFloat(FuzzedDataProvider &in)
{
    if (in.ConsumeBool())
        return in.PickValueInArray(kHostileFloats);
    return in.ConsumeFloatingPoint<float>();
}

bool inEffect(const PeqParams &p, int k)
{
    // Mono calls run every nonzero code, so a stereo instance's bands count too.
    return p.enable[k] != 0 && p.type[k] <= LINTAQ_LOW_PASS && p.freq[k] > 0.0f &&
           static_cast<double>(p.freq[k]) < p.sampleRate * 0.453515 && p.q[k] > 0.0f;
}

bool settingsInRange(const PeqParams &p)
{
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        if (!inEffect(p, k))
            continue;
        const float maxQ = p.type[k] == LINTAQ_PEAK ? kMaxPeakQ
                           : p.type[k] <= LINTAQ_HIGH_SHELF ? kMaxShelfQ
                                                             : kMaxPassQ;
        const bool gainUsed = p.type[k] <= LINTAQ_HIGH_SHELF;
        if (p.sampleRate < kMinRate || p.sampleRate > kMaxRate || !(p.freq[k] >= kMinFreq) ||
            !(p.q[k] >= kMinQ && p.q[k] <= maxQ) ||
            (gainUsed && !(p.gain[k] >= kMinGain && p.gain[k] <= kMaxGain)))
            return false;
    }
    return true;
}

// Fills a block: a sine, a constant or raw words, then a few hostile samples.
bool fillSamples(FuzzedDataProvider &in, float *x, int n)
{
    const int kind = in.ConsumeIntegralInRange(0, 2);
    const float level = hostileFloat(in);
    const float step = in.ConsumeFloatingPointInRange(0.0f, 3.2f);
    for (int i = 0; i < n; ++i)
        x[i] = kind == 0 ? level * static_cast<float>(std::sin(step * i)) : kind == 1 ? level : 0.0f;
    if (kind == 2 && n > 0) {
        const std::vector<uint8_t> raw = in.ConsumeBytes<uint8_t>(static_cast<size_t>(n) * sizeof(float));
        if (!raw.empty())
            std::memcpy(x, raw.data(), raw.size());
    }
    for (int spikes = in.ConsumeIntegralInRange(0, 3); spikes > 0 && n > 0; --spikes)
        x[in.ConsumeIntegralInRange(0, n - 1)] = hostileFloat(in);
    bool fine = true;
    for (int i = 0; i < n; ++i)
        fine = fine && std::isfinite(x[i]) && std::fabs(x[i]) <= kMaxInput;
    return fine;
}

void checkOutput(const float *x, int n, bool clean)
{
    if (!clean)
        return;
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(x[i]))
            fail("non-finite output from finite input and in-range settings", x[i]);
}

struct Session {
    PeqInstance *inst = nullptr;
    int mode = 0;
    bool stereo = false;
    bool evenLoad = false;
    bool clean = true; // nothing outside the documented ranges since creation
    int sampleBudget = 200000;
    PeqParams params{};
    PeqGraph *grid = nullptr;
    std::vector<float> left, right;

    ~Session()
    {
        LintaqExit(inst);
        ExitPeqGraph(grid);
    }

    void create(FuzzedDataProvider &in)
    {
        LintaqExit(inst);
        mode = in.ConsumeBool() ? in.ConsumeIntegralInRange(-2, 5) : in.ConsumeIntegral<int>();
        const int flag = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 2) : in.ConsumeIntegral<int>();
        // Both kinds of instance: the even-load one cuts frames into pieces.
        evenLoad = in.ConsumeBool();
        inst = evenLoad ? LintaqInitSmooth(mode, flag) : LintaqInit(mode, flag);
        if (inst == nullptr)
            fail("creation failed", mode);
        stereo = flag != 0;
        clean = true;
        params = PeqParams{};
        for (int k = 0; k < LINTAQ_BANDS; ++k)
            params.freq[k] = 1000.0f, params.q[k] = 0.7f;
        params.sampleRate = 48000;
    }

    void setBand(FuzzedDataProvider &in)
    {
        const int k = in.ConsumeIntegralInRange(0, LINTAQ_BANDS - 1);
        params.freq[k] = hostileFloat(in);
        params.gain[k] = hostileFloat(in);
        params.q[k] = hostileFloat(in);
        params.enable[k] = in.PickValueInArray(kHostileCodes);
        params.type[k] = in.PickValueInArray(kHostileCodes);
    }

    void setWords(FuzzedDataProvider &in)
    {
        if (in.ConsumeBool())
            setBand(in);
        for (int words = in.ConsumeIntegralInRange(0, 8); words > 0; --words) {
            const int w = in.ConsumeIntegralInRange(0, 62);
            uint32_t *word = reinterpret_cast<uint32_t *>(&params) + w;
            if (w < 36) {
                const float f = hostileFloat(in);
                std::memcpy(word, &f, sizeof f);
            } else if (w < 60) {
                *word = in.ConsumeBool() ? in.PickValueInArray(kHostileCodes) : in.ConsumeIntegral<uint32_t>();
            } else if (w == 60) {
                params.sampleRate = in.ConsumeBool() ? in.PickValueInArray(kHostileRates) : in.ConsumeIntegral<int32_t>();
            } else {
                *word = in.ConsumeBool() ? (*word == 0 ? 1u : 0u) : in.ConsumeIntegral<uint32_t>();
            }
        }
        LintaqSetPar(in.ConsumeBool() ? inst : nullptr, in.ConsumeBool() ? &params : nullptr);
        LintaqSetPar(inst, &params);
    }

    void process(FuzzedDataProvider &in)
    {
        int n = in.ConsumeIntegralInRange(-3, 20000);
        // A budget per input keeps every run well inside the time limit.
        n = n < sampleBudget ? n : sampleBudget;
        sampleBudget -= n > 0 ? n : 0;
        const bool wantStereo = in.ConsumeBool();
        const bool sameArray = wantStereo && in.ConsumeIntegralInRange(0, 15) == 0;
        left.assign(static_cast<size_t>(n > 0 ? n : 0), 0.0f);
        right.assign(left.size(), 0.0f);
        bool fine = fillSamples(in, left.data(), n);
        if (wantStereo)
            fine = fillSamples(in, right.data(), n) && fine;
        // Settings take effect at the start of the call: judge them first.
        clean = clean && fine && settingsInRange(params) && !(sameArray && stereo);
        if (!wantStereo) {
            LintaqProc(inst, left.data(), n);
        } else {
            const std::vector<float> inLeft = left, inRight = right;
            LintaqProcST(inst, left.data(), sameArray ? left.data() : right.data(), n);
            // A mono instance has no second channel: the arrays stay as they were.
            if (!stereo && n > 0 && (std::memcmp(inLeft.data(), left.data(), left.size() * sizeof(float)) != 0 ||
                            std::memcmp(inRight.data(), right.data(), right.size() * sizeof(float)) != 0))
                fail("stereo call on a mono instance touched the arrays", n);
            checkOutput(right.data(), n, clean && stereo);
        }
        checkOutput(left.data(), n, clean);
    }

    void queries()
    {
        static const int kLatency[4] = {36938, 20554, 12362, 8266};
        const int m = mode < 0 ? 0 : mode > 3 ? 3 : mode;
        if (LintaqGetLatency(inst) != kLatency[m] + (evenLoad ? 2048 : 0))
            fail("latency", LintaqGetLatency(inst));
        if (LintaqGetLatency(nullptr) != 0 || LintaqGetVersion() != LINTAQ_VERSION)
            fail("latency of no instance or version", 0);
    }

    void curves(FuzzedDataProvider &in)
    {
        if (grid == nullptr || in.ConsumeBool()) {
            ExitPeqGraph(grid);
            // Up to 65536 points: larger only means a larger allocation,
            // which libFuzzer's memory limit would report as a crash.
            const int n = in.ConsumeBool() ? in.ConsumeIntegralInRange(-2, 600) : in.ConsumeIntegralInRange(-100000, 1 << 16);
            const float fmin = hostileFloat(in), fmax = hostileFloat(in);
            grid = InitPeqGraph(in.ConsumeIntegralInRange(0, 7) == 0 ? nullptr : &params, n, fmin, fmax);
            if (grid != nullptr && (grid->pointCount < 0 || grid->pointCount > n || grid->warpedSq == nullptr))
                fail("grid point count", grid->pointCount);
        }
        const int count = grid != nullptr ? grid->pointCount : 0;
        std::unique_ptr<float[]> out(new float[static_cast<size_t>(count)]); // exactly: overruns show
        const PeqParams *p = in.ConsumeIntegralInRange(0, 15) == 0 ? nullptr : &params;
        LintaqGraph(p, grid, out.get(), in.ConsumeIntegral<int>());
        if (p == nullptr || grid == nullptr)
            return;
        for (int band = 0; band < LINTAQ_BANDS; ++band) {
            LintaqGraph(p, grid, out.get(), band);
            for (int i = 0; i < count; ++i)
                if (!std::isfinite(out[i]))
                    fail("non-finite curve value", out[i]);
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    // Every kernel set this processor runs gets hostile input too.
    constexpr int kSets = static_cast<int>(sizeof lintaq::kAllKernelSets / sizeof lintaq::kAllKernelSets[0]);
    const lintaq::KernelSet set = lintaq::kAllKernelSets[in.ConsumeIntegralInRange(0, kSets - 1)];
    lintaq::forceKernelSet(lintaq::kernelSetAvailable(set) ? set : lintaq::KernelSet::plain);
    Session s;
    s.create(in);
    for (int op = 0; op < 48 && in.remaining_bytes() > 0; ++op) {
        switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0: s.create(in); break;
        case 1:
        case 2: s.setWords(in); break;
        case 3:
        case 4:
        case 5: s.process(in); break;
        case 6: s.queries(); break;
        default: s.curves(in); break;
        }
    }
    return 0;
}
