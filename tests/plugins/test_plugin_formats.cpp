// What every plugin format must do, written once and run against the CLAP,
// VST3 and LV2 builds, each driven by its own host through a small adapter:
// the library's output bit for bit, an impulse at the reported latency,
// state that restores the output, the trim, bypass as a pure delay, and
// permanent parameter ids and ranges where the format lists parameters
// itself (LV2's ports are checked against the Turtle in test_lv2_plugin.cpp).
#include <limits>
#include <optional>
#include <utility>

#include <lv2/atom/atom.h>

#include "clap_host.h"
#include "lv2_host.h"
#include "plugin_expect.h"
#include "vst3_host.h"

// The adapters are outside the anonymous namespace so the test names read
// <ptest::ClapFormat> and so on.
namespace ptest {

// One parameter as the format lists it.
struct ListedParam {
    uint32_t id;
    std::string name;
    double min, max, defaultNormalised;
    int32_t steps; // 0 for a continuous parameter
    bool automatable, bypass;
};

// Each adapter: an instance made at a rate and started by activate();
// settings take effect with the next block (or at activation when made
// before it); the reported latency; state saved and loaded; and the values
// as the plugin receives them.
class ClapFormat {
public:
    static constexpr uint32_t kFirstParamId = 0;
    // CLAP reports the latency from activation, so settings made before it
    // must already count.
    static constexpr bool kLatencyKnownAtActivation = true;

    ClapFormat(Variant v, int rate) : module_(clapPath(v)), p_(module_), rate_(rate) {}
    bool ok() const { return p_.plugin != nullptr; }
    bool activate() { return active_ = p_.activate(rate_); }
    void setAll(const Values &x)
    {
        p_.setAll(x);
        if (!active_)
            p_.flush(); // outside processing, as hosts send changes to an inactive plugin
    }
    void process(Channels &io, uint32_t block) { p_.process(io, block); }
    double latency() const { return p_.reportedLatency(); }
    std::vector<uint8_t> save() const { return p_.save(); }
    bool load(const std::vector<uint8_t> &saved) { return p_.load(saved); }
    static Values heard(const Values &x, Variant) { return x; }
    float value(uint32_t i) const
    {
        double x = std::numeric_limits<double>::quiet_NaN();
        p_.params->get_value(p_.plugin, i, &x);
        return static_cast<float>(x);
    }

    uint32_t paramCount() const { return p_.params->count(p_.plugin); }
    std::optional<ListedParam> listed(uint32_t i) const
    {
        clap_param_info_t info{};
        if (!p_.params->get_info(p_.plugin, i, &info))
            return std::nullopt;
        const bool stepped = (info.flags & CLAP_PARAM_IS_STEPPED) != 0;
        return ListedParam{info.id, info.name, info.min_value, info.max_value,
                           (info.default_value - info.min_value) / (info.max_value - info.min_value),
                           stepped ? static_cast<int32_t>(info.max_value - info.min_value) : 0,
                           (info.flags & CLAP_PARAM_IS_AUTOMATABLE) != 0, (info.flags & CLAP_PARAM_IS_BYPASS) != 0};
    }

private:
    ClapModule module_;
    ClapInstance p_;
    int rate_;
    bool active_ = false;
};

class Vst3Format {
public:
    static constexpr uint32_t kFirstParamId = kVst3FirstParamId;
    static constexpr bool kLatencyKnownAtActivation = false; // settings arrive with blocks

    Vst3Format(Variant v, int rate) : variant_(v), module_(vst3Path(v)), p_(module_), rate_(rate) {}
    bool ok() const { return p_.ok(); }
    bool activate() { return p_.activate(rate_); }
    void setAll(const Values &x) { p_.setAll(x, variant_); }
    void process(Channels &io, uint32_t block) { p_.process(io, static_cast<int32_t>(block)); }
    double latency() const { return p_.latency(); }
    std::vector<uint8_t> save() const { return p_.save(); }
    bool load(const std::vector<uint8_t> &saved) { return p_.load(saved); }
    // Sent normalised, received as DPF maps them back.
    static Values heard(const Values &x, Variant v)
    {
        Values sent = x;
        for (uint32_t i = 0; i < kParamCount; ++i)
            sent[i] = vst3Plain(paramRange(v, i), x[i]);
        return sent;
    }

    uint32_t paramCount()
    {
        v3_edit_controller **c = p_.editController();
        return c == nullptr ? 0 : static_cast<uint32_t>(v3_cpp_obj(c)->get_parameter_count(c));
    }
    // The plain range through the controller's own conversion.
    std::optional<ListedParam> listed(uint32_t i)
    {
        v3_edit_controller **c = p_.editController();
        v3_param_info info{};
        if (c == nullptr || v3_cpp_obj(c)->get_parameter_info(c, static_cast<int32_t>(kFirstParamId + i), &info) != V3_OK)
            return std::nullopt;
        std::string title;
        for (const int16_t *s = info.title; *s != 0; ++s)
            title += static_cast<char>(*s);
        return ListedParam{info.param_id, title, v3_cpp_obj(c)->normalised_parameter_to_plain(c, info.param_id, 0.0),
                           v3_cpp_obj(c)->normalised_parameter_to_plain(c, info.param_id, 1.0),
                           info.default_normalised_value, info.step_count, (info.flags & V3_PARAM_CAN_AUTOMATE) != 0,
                           (info.flags & V3_PARAM_IS_BYPASS) != 0};
    }

private:
    Variant variant_;
    Vst3Module module_;
    Vst3Instance p_;
    int rate_;
};

// The state is the host's control values, written out as Turtle the way a
// session keeps them.
class Lv2Format {
public:
    static constexpr bool kLatencyKnownAtActivation = false; // the latency port is written in run()

    Lv2Format(Variant v, int rate) : p_(v, rate) {}
    bool ok() const { return p_.ok(); }
    bool activate() { return true; } // the host activates what it instantiates
    void setAll(const Values &x) { p_.setAll(x); }
    void process(Channels &io, uint32_t block) { p_.process(io, block); }
    double latency() const { return p_.latency(); }
    std::string save()
    {
        LilvState *state = lilv_state_new_from_instance(
            p_.plugin(), p_.instance(), &urids().map_, nullptr, nullptr, nullptr, nullptr,
            [](const char *symbol, void *data, uint32_t *size, uint32_t *type) -> const void * {
                *size = sizeof(float);
                *type = urids().id(LV2_ATOM__Float);
                return &static_cast<Lv2Instance *>(data)->control(symbol);
            },
            &p_, 0, nullptr);
        UridMap &m = urids();
        char *text = state ? lilv_state_to_string(lv2World(), &m.map_, &m.unmap_, state, "urn:lintaq:test:state", nullptr)
                           : nullptr;
        const std::string saved = text ? text : "";
        lilv_free(text);
        lilv_state_free(state);
        return saved;
    }
    bool load(const std::string &saved)
    {
        LilvState *state = lilv_state_new_from_string(lv2World(), &urids().map_, saved.c_str());
        if (state == nullptr)
            return false;
        lilv_state_restore(
            state, p_.instance(),
            [](const char *symbol, void *data, const void *value, uint32_t, uint32_t type) {
                static_cast<Lv2Instance *>(data)->control(symbol) = atomNumber(value, type);
            },
            &p_, 0, nullptr);
        lilv_state_free(state);
        return true;
    }
    static Values heard(const Values &x, Variant) { return x; }

private:
    Lv2Instance p_;
};

namespace {

constexpr Variant kBoth[] = {Variant::mono, Variant::stereo};

template <typename Format> class PluginFormat : public ::testing::Test {};
using AllFormats = ::testing::Types<ClapFormat, Vst3Format, Lv2Format>;
TYPED_TEST_SUITE(PluginFormat, AllFormats);

template <typename Format> class PluginParameterList : public ::testing::Test {};
using ListingFormats = ::testing::Types<ClapFormat, Vst3Format>;
TYPED_TEST_SUITE(PluginParameterList, ListingFormats);

TYPED_TEST(PluginParameterList, ListsEveryParameterWithItsPermanentIdAndRange)
{
    for (Variant v : kBoth) {
        TypeParam p(v, 48000);
        ASSERT_TRUE(p.ok());
        ASSERT_EQ(p.paramCount(), TypeParam::kFirstParamId + kParamCount);
        for (uint32_t i = 0; i < kParamCount; ++i) {
            const std::optional<ListedParam> info = p.listed(i);
            ASSERT_TRUE(info) << paramSymbol(i);
            SCOPED_TRACE(info->name);
            EXPECT_EQ(info->id, TypeParam::kFirstParamId + i) << "ids follow the table, which hosts store";
            EXPECT_FALSE(info->name.empty());
            if (i == kBypass) {
                EXPECT_TRUE(info->bypass);
                continue;
            }
            const Range r = paramRange(v, i);
            EXPECT_NEAR(info->min, r.min, 1e-4);
            EXPECT_NEAR(info->max, r.max, 1e-4);
            EXPECT_NEAR(info->defaultNormalised, (double(r.def) - r.min) / (double(r.max) - r.min), 1e-7);
            const bool stepped = r.kind == Kind::enumeration || r.kind == Kind::toggle;
            EXPECT_EQ(info->steps, stepped ? static_cast<int32_t>(r.max - r.min) : 0);
            EXPECT_TRUE(info->automatable);
        }
    }
}

TYPED_TEST(PluginFormat, OutputEqualsTheLibrarysBitForBit)
{
    for (Variant v : kBoth)
        for (int rate : {44100, 48000}) {
            Values x = busy(v, 3);
            x[kOversample] = rate == 44100 ? 1.0f : 0.0f;
            x[kEvenLoad] = v == Variant::mono && rate == 48000 ? 0.0f : 1.0f; // both kinds of engine
            const Channels in = testSignal(channelsOf(v), static_cast<size_t>(modeLatency(3)) + 9000, 100, rate);
            TypeParam p(v, rate);
            ASSERT_TRUE(p.ok() && p.activate());
            p.setAll(x);
            Channels io = in;
            p.process(io, 1000 - 3); // an odd block size, so blocks never line up with the engine's hops
            expectSameBits(io, libraryOutput(TypeParam::heard(x, v), rate, in), "busy setting");
            EXPECT_EQ(p.latency(), modeLatency(3, x[kEvenLoad] > 0.5f));
        }
}

// Settings made before activation and switched to while running (from the
// defaults) must both move the reported latency and where an impulse comes
// out.
TYPED_TEST(PluginFormat, ImpulsePeaksAtTheReportedLatencyInEveryMode)
{
    for (int mode = 0; mode < kModeCount; ++mode)
        for (bool evenLoad : {false, true})
            for (bool whileRunning : {false, true}) {
                SCOPED_TRACE("mode " + std::to_string(mode) + (evenLoad ? ", even load" : "") +
                             (whileRunning ? ", switched while running" : ""));
                const int rate = mode % 2 ? 44100 : 48000;
                const int want = modeLatency(mode, evenLoad);
                TypeParam p(Variant::stereo, rate);
                ASSERT_TRUE(p.ok());
                Values x = defaults(Variant::stereo);
                x[kQuality] = static_cast<float>(mode);
                x[kEvenLoad] = evenLoad ? 1.0f : 0.0f;
                x[bandParam(4, kEnable)] = LINTAQ_BOTH; // a gentle bell keeps the peak where it is
                x[bandParam(4, kGain)] = 3;
                if (whileRunning) {
                    ASSERT_TRUE(p.activate());
                    Channels warm = testSignal(2, 1000, 0, rate); // below the impulse that follows
                    p.process(warm, 500);
                    p.setAll(x);
                } else {
                    p.setAll(x);
                    ASSERT_TRUE(p.activate());
                    if (TypeParam::kLatencyKnownAtActivation) {
                        EXPECT_EQ(p.latency(), want) << "at activation";
                    }
                }
                Channels io = impulse(2, static_cast<size_t>(want) + 3000, 0);
                p.process(io, 512);
                EXPECT_EQ(p.latency(), want);
                if (evenLoad) {
                    EXPECT_EQ(want, modeLatency(mode, false) + 2048);
                }
                EXPECT_EQ(peakIndex(io[0]), static_cast<size_t>(want));
                EXPECT_EQ(peakIndex(io[1]), static_cast<size_t>(want));
            }
}

TYPED_TEST(PluginFormat, SavedStateRestoresEveryParameterAndTheOutput)
{
    for (Variant v : kBoth) {
        const Values x = busy(v, 3);
        decltype(std::declval<TypeParam &>().save()) saved;
        {
            TypeParam a(v, 48000);
            ASSERT_TRUE(a.ok() && a.activate());
            a.setAll(x);
            Channels warm = testSignal(channelsOf(v), 512, 0, 48000);
            a.process(warm, 512);
            saved = a.save();
        }
        ASSERT_FALSE(saved.empty());
        TypeParam b(v, 48000);
        ASSERT_TRUE(b.ok());
        ASSERT_TRUE(b.load(saved));
        if constexpr (requires { b.value(0u); }) { // where the format reads values back
            for (uint32_t i = 0; i < kParamCount; ++i)
                EXPECT_EQ(b.value(i), x[i]) << paramSymbol(i);
        }
        ASSERT_TRUE(b.activate());
        const Channels in = testSignal(channelsOf(v), static_cast<size_t>(modeLatency(3)) + 5000, 7, 48000);
        Channels io = in;
        b.process(io, 800);
        expectSameBits(io, libraryOutput(TypeParam::heard(x, v), 48000, in), "after loading the state");
    }
}

TYPED_TEST(PluginFormat, TrimScalesTheEnginesOutput)
{
    Values x = busy(Variant::stereo, 3);
    x[kTrim] = -6;
    const Channels in = testSignal(2, static_cast<size_t>(modeLatency(3)) + 3000, 0, 48000);
    TypeParam p(Variant::stereo, 48000);
    ASSERT_TRUE(p.ok() && p.activate());
    p.setAll(x);
    Channels io = in;
    p.process(io, 512);
    const Values heard = TypeParam::heard(x, Variant::stereo);
    const Channels engine = libraryOutput(heard, 48000, in);
    const float gain = std::pow(10.0f, heard[kTrim] / 20.0f);
    for (size_t c = 0; c < 2; ++c)
        for (size_t i = 512; i < in[c].size(); ++i) // the first block ramps from 0 dB
            ASSERT_NEAR(io[c][i], engine[c][i] * gain, 1e-6f) << "sample " << i;
}

TYPED_TEST(PluginFormat, BypassPassesTheInputDelayedByTheLatency)
{
    for (Variant v : kBoth) {
        Values x = busy(v, 3);
        x[kBypass] = 1;
        x[kTrim] = -6; // the trim is bypassed too
        const Channels in = testSignal(channelsOf(v), static_cast<size_t>(modeLatency(3)) + 5000, 0, 44100);
        TypeParam p(v, 44100);
        ASSERT_TRUE(p.ok() && p.activate());
        p.setAll(x);
        Channels io = in;
        p.process(io, 700);
        expectSameBits(io, delayed(in, static_cast<size_t>(modeLatency(3))), "bypassed");
    }
}

} // namespace
} // namespace ptest
