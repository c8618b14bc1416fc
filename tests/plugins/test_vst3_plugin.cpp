// The VST3 plugins, loaded by GetPluginFactory as a DAW loads them.
#include "plugin_expect.h"
#include "vst3_host.h"

namespace ptest {
namespace {

std::string vst3Path(Variant v)
{
    const std::string name = v == Variant::stereo ? "lintaq-stereo" : "lintaq-mono";
#if defined(_WIN32)
    return std::string(LINTAQ_VST3_DIR) + "/" + name + ".vst3/Contents/x86_64-win/" + name + ".vst3";
#else
    return std::string(LINTAQ_VST3_DIR) + "/" + name + ".vst3/Contents/x86_64-linux/" + name + ".so";
#endif
}

constexpr Variant kBoth[] = {Variant::mono, Variant::stereo};

// The values as the plugin receives them through normalised parameters.
Values asSent(const Values &x, Variant v)
{
    Values sent = x;
    for (uint32_t i = 0; i < kParamCount; ++i)
        sent[i] = vst3Plain(paramRange(v, i), x[i]);
    return sent;
}

Channels runVst3(Variant v, const Values &x, double rate, const Channels &input, int32_t block, uint32_t *latency = nullptr)
{
    Vst3Module module(vst3Path(v));
    Vst3Instance p(module);
    EXPECT_TRUE(p.ok()) << vst3Path(v);
    if (!p.ok() || !p.activate(rate))
        return {};
    Channels io = input;
    p.setAll(x, v);
    p.process(io, block);
    if (latency != nullptr)
        *latency = p.latency();
    return io;
}

std::string ascii(const int16_t *s)
{
    std::string out;
    for (; *s != 0; ++s)
        out += static_cast<char>(*s);
    return out;
}

TEST(Vst3Plugin, ListsEveryParameterWithItsPermanentIdAndRange)
{
    for (Variant v : kBoth) {
        Vst3Module module(vst3Path(v));
        Vst3Instance p(module);
        ASSERT_TRUE(p.ok()) << vst3Path(v);
        v3_edit_controller **c = p.editController();
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(v3_cpp_obj(c)->get_parameter_count(c), static_cast<int32_t>(kVst3FirstParamId + kParamCount));
        for (uint32_t i = 0; i < kParamCount; ++i) {
            v3_param_info info{};
            ASSERT_EQ(v3_cpp_obj(c)->get_parameter_info(c, static_cast<int32_t>(kVst3FirstParamId + i), &info), V3_OK);
            SCOPED_TRACE(ascii(info.title));
            EXPECT_EQ(info.param_id, kVst3FirstParamId + i) << "ids follow the table, which hosts store";
            EXPECT_FALSE(ascii(info.title).empty());
            if (i == kBypass) {
                EXPECT_NE(info.flags & V3_PARAM_IS_BYPASS, 0);
                continue;
            }
            const Range r = paramRange(v, i);
            EXPECT_NE(info.flags & V3_PARAM_CAN_AUTOMATE, 0);
            EXPECT_NEAR(info.default_normalised_value, (double(r.def) - r.min) / (double(r.max) - r.min), 1e-7);
            const bool stepped = r.kind == Kind::enumeration || r.kind == Kind::toggle;
            EXPECT_EQ(info.step_count, stepped ? static_cast<int32_t>(r.max - r.min) : 0);
            // The plain range, through the controller's own conversion.
            EXPECT_NEAR(v3_cpp_obj(c)->normalised_parameter_to_plain(c, info.param_id, 1.0), r.max, 1e-4);
            EXPECT_NEAR(v3_cpp_obj(c)->normalised_parameter_to_plain(c, info.param_id, 0.0), r.min, 1e-4);
        }
    }
}

TEST(Vst3Plugin, OutputEqualsTheLibrarysBitForBit)
{
    for (Variant v : kBoth)
        for (int rate : {44100, 48000}) {
            Values x = busy(v, 3);
            x[kOversample] = rate == 44100 ? 1.0f : 0.0f;
            const Channels in = testSignal(channelsOf(v), static_cast<size_t>(modeLatency(3)) + 9000, 100, rate);
            uint32_t latency = 0;
            expectSameBits(runVst3(v, x, rate, in, 1000 - 3, &latency), libraryOutput(asSent(x, v), rate, in),
                           "busy setting");
            EXPECT_EQ(latency, static_cast<uint32_t>(modeLatency(3)));
        }
}

TEST(Vst3Plugin, ImpulsePeaksAtTheReportedLatencyAfterAQualityChange)
{
    Vst3Module module(vst3Path(Variant::stereo));
    Vst3Instance p(module);
    ASSERT_TRUE(p.ok());
    ASSERT_TRUE(p.activate(44100));
    EXPECT_EQ(p.latency(), static_cast<uint32_t>(modeLatency(kDefaultMode)));
    Channels warm = impulse(2, 1000, 0);
    p.process(warm, 500);
    p.set(kQuality, Variant::stereo, 1);
    Channels io = impulse(2, static_cast<size_t>(modeLatency(1)) + 2000, 0);
    p.process(io, 1024);
    EXPECT_EQ(p.latency(), static_cast<uint32_t>(modeLatency(1)));
    EXPECT_EQ(peakIndex(io[0]), static_cast<size_t>(modeLatency(1)));
    EXPECT_EQ(peakIndex(io[1]), static_cast<size_t>(modeLatency(1)));
}

TEST(Vst3Plugin, SavedStateRestoresTheOutput)
{
    for (Variant v : kBoth) {
        const Values x = busy(v, 3);
        std::vector<uint8_t> saved;
        {
            Vst3Module module(vst3Path(v));
            Vst3Instance a(module);
            ASSERT_TRUE(a.ok());
            ASSERT_TRUE(a.activate(48000));
            a.setAll(x, v);
            Channels warm = testSignal(channelsOf(v), 512, 0, 48000);
            a.process(warm, 512);
            saved = a.save();
            ASSERT_FALSE(saved.empty());
        }
        Vst3Module module(vst3Path(v));
        Vst3Instance b(module);
        ASSERT_TRUE(b.ok());
        ASSERT_TRUE(b.load(saved));
        ASSERT_TRUE(b.activate(48000));
        const Channels in = testSignal(channelsOf(v), static_cast<size_t>(modeLatency(3)) + 5000, 3, 48000);
        Channels io = in;
        b.process(io, 800);
        expectSameBits(io, libraryOutput(asSent(x, v), 48000, in), "after loading the state");
    }
}

TEST(Vst3Plugin, BypassPassesTheInputDelayedByTheLatency)
{
    for (Variant v : kBoth) {
        Values x = busy(v, 3);
        x[kBypass] = 1;
        const Channels in = testSignal(channelsOf(v), static_cast<size_t>(modeLatency(3)) + 5000, 0, 48000);
        expectSameBits(runVst3(v, x, 48000, in, 512), delayed(in, static_cast<size_t>(modeLatency(3))), "bypassed");
    }
}

} // namespace
} // namespace ptest
