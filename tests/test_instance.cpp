// Creation, release, latency and parameter intake.
#include <cmath>
#include <limits>
#include <memory>

#include <gtest/gtest.h>

#include "interface/instance.h"
#include "lintaq.h"

namespace {

struct InstanceDeleter {
    void operator()(PeqInstance *p) const { LintaqExit(p); }
};
using Instance = std::unique_ptr<PeqInstance, InstanceDeleter>;

PeqParams creationValues()
{
    PeqParams p{};
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        p.freq[k] = 1000.0f;
        p.q[k] = 0.7f;
    }
    p.sampleRate = 48000;
    return p;
}

bool anyFlag(const PeqInstance &inst)
{
    bool any = inst.redesignAll != 0 || inst.bandsChanged != 0;
    for (unsigned d : inst.bandDirty)
        any = any || d != 0;
    return any;
}

TEST(Latency, DependsOnlyOnTheClampedMode)
{
    const struct { int mode; int latency; } cases[] = {
        {-5, 36938}, {0, 36938}, {1, 20554}, {2, 12362}, {3, 8266}, {9, 8266},
    };
    for (const auto &c : cases) {
        Instance inst(LintaqInit(c.mode, 1));
        ASSERT_NE(inst, nullptr);
        EXPECT_EQ(LintaqGetLatency(inst.get()), c.latency) << "mode " << c.mode;
        for (int rate : {22050, 44100, 48000, 96000}) {
            PeqParams p = creationValues();
            p.sampleRate = rate;
            p.oversample = 1;
            LintaqSetPar(inst.get(), &p);
            EXPECT_EQ(LintaqGetLatency(inst.get()), c.latency);
        }
    }
    EXPECT_EQ(LintaqGetVersion(), 65547);
}

TEST(ParameterIntake, CreationValuesRaiseNoFlag)
{
    Instance inst(LintaqInit(3, 0));
    const PeqParams p = creationValues();
    LintaqSetPar(inst.get(), &p);
    EXPECT_FALSE(anyFlag(*inst));
}

TEST(ParameterIntake, FlagsFollowWhatChanged)
{
    Instance inst(LintaqInit(3, 0));
    PeqParams p = creationValues();
    p.noise = 1; // read per frame: no redesign needed
    LintaqSetPar(inst.get(), &p);
    EXPECT_FALSE(anyFlag(*inst));
    EXPECT_EQ(inst->noise, 1u);

    p.gain[4] = -0.0f; // equal to +0 as a float
    LintaqSetPar(inst.get(), &p);
    EXPECT_FALSE(anyFlag(*inst));

    p.oversample = 1;
    p.sampleRate = 96000; // no doubling at this rate, but still a redesign
    LintaqSetPar(inst.get(), &p);
    EXPECT_EQ(inst->redesignAll, 1u);
    EXPECT_EQ(inst->bandsChanged, 0u);

    p.type[2] = 1;
    LintaqSetPar(inst.get(), &p);
    p.enable[7] = 3;
    LintaqSetPar(inst.get(), &p);
    EXPECT_EQ(inst->bandsChanged, 1u);
    for (int k = 0; k < LINTAQ_BANDS; ++k)
        EXPECT_EQ(inst->bandDirty[k], (k == 2 || k == 7) ? 1u : 0u) << k;
}

TEST(ParameterIntake, NanIsFlaggedOnEveryCall)
{
    Instance inst(LintaqInit(3, 0));
    PeqParams p = creationValues();
    p.freq[5] = std::numeric_limits<float>::quiet_NaN();
    LintaqSetPar(inst.get(), &p);
    EXPECT_EQ(inst->bandDirty[5], 1u);
    LintaqProc(inst.get(), nullptr, 0); // designs and clears
    EXPECT_FALSE(anyFlag(*inst));
    LintaqSetPar(inst.get(), &p);
    EXPECT_EQ(inst->bandDirty[5], 1u);
}

TEST(NullArguments, AreIgnored)
{
    const PeqParams p = creationValues();
    LintaqSetPar(nullptr, &p);
    LintaqExit(nullptr);
    float x[4] = {1, 2, 3, 4};
    LintaqProc(nullptr, x, 4);
    EXPECT_EQ(x[3], 4.0f);
    Instance inst(LintaqInit(0, 0));
    LintaqSetPar(inst.get(), nullptr);
    EXPECT_FALSE(anyFlag(*inst));
}

} // namespace
