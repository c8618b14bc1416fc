// The bundle's Turtle as a host reads it (through liblilv) agrees with the
// plugin code: port indices, ranges, defaults, labels and the latency port.
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lv2/port-props/port-props.h>
#include <lv2/units/units.h>

#include "lv2_support.h"
#include "port_table.h"

namespace {

using namespace lv2test;
using lintaq_lv2::Variant;

struct Node {
    explicit Node(const char *uri) : n(lilv_new_uri(sharedWorld().world, uri)) {}
    ~Node() { lilv_node_free(n); }
    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;
    LilvNode *n;
};

struct Case {
    const char *uri;
    Variant variant;
};
const Case kCases[] = {{kMonoUri, Variant::mono}, {kStereoUri, Variant::stereo}};

// The symbols hosts and presets see, written out here rather than taken
// from the code, so a reordering of the table shows up.
std::vector<std::string> expectedSymbols(Variant v)
{
    std::vector<std::string> s = {"quality", "oversample", "noise", "latency"};
    for (int k = 1; k <= LINTAQ_BANDS; ++k)
        for (const char *f : {"enable", "type", "freq", "gain", "q"})
            s.push_back("band" + std::to_string(k) + "_" + f);
    if (v == Variant::mono)
        s.insert(s.end(), {"in", "out"});
    else
        s.insert(s.end(), {"in_l", "in_r", "out_l", "out_r"});
    return s;
}

TEST(Description, BothPluginsLoadAreValidAndNeedNoFeature)
{
    Node paraEq(LV2_CORE__ParaEQPlugin);
    Node rdfType("http://www.w3.org/1999/02/22-rdf-syntax-ns#type");
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.uri);
        const LilvPlugin *p = sharedWorld().plugin(c.uri);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(lilv_plugin_verify(p));
        LilvNodes *required = lilv_plugin_get_required_features(p);
        EXPECT_EQ(lilv_nodes_size(required), 0u);
        lilv_nodes_free(required);
        EXPECT_TRUE(lilv_world_ask(sharedWorld().world, lilv_plugin_get_uri(p), rdfType.n, paraEq.n));
        EXPECT_EQ(lilv_plugin_get_num_ports(p), lintaq_lv2::portCount(c.variant));
        for (double rate : {22050.0, 44100.0, 48000.0, 96000.0, 192000.0}) {
            Runner r(c.uri, rate);
            EXPECT_TRUE(r.ok()) << rate;
        }
    }
}

TEST(Description, EveryPortIndexCarriesTheSymbolAndKindTheCodeUses)
{
    Node control(LV2_CORE__ControlPort), audio(LV2_CORE__AudioPort);
    Node input(LV2_CORE__InputPort), output(LV2_CORE__OutputPort);
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.uri);
        const LilvPlugin *p = sharedWorld().plugin(c.uri);
        ASSERT_NE(p, nullptr);
        const auto symbols = expectedSymbols(c.variant);
        ASSERT_EQ(symbols.size(), lilv_plugin_get_num_ports(p));
        for (uint32_t i = 0; i < symbols.size(); ++i) {
            const LilvPort *port = lilv_plugin_get_port_by_index(p, i);
            ASSERT_NE(port, nullptr);
            EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(p, port)), symbols[i].c_str()) << i;
            const bool isControl = i < lintaq_lv2::kControlCount;
            EXPECT_TRUE(lilv_port_is_a(p, port, isControl ? control.n : audio.n)) << i;
            const bool isOut = i == lintaq_lv2::kLatency ||
                               (c.variant == Variant::mono ? i == lintaq_lv2::kMonoOut
                                                           : i >= lintaq_lv2::kStereoOutL);
            EXPECT_TRUE(lilv_port_is_a(p, port, isOut ? output.n : input.n)) << i;
        }
        // The enum's named indices point at the ports of those names.
        for (int k = 0; k < LINTAQ_BANDS; ++k) {
            const std::string b = "band" + std::to_string(k + 1) + "_";
            EXPECT_EQ(symbols[lintaq_lv2::bandPort(k, lintaq_lv2::kFreq)], b + "freq");
            EXPECT_EQ(symbols[lintaq_lv2::bandPort(k, lintaq_lv2::kQ)], b + "q");
        }
        EXPECT_EQ(symbols[lintaq_lv2::kQuality], "quality");
        EXPECT_EQ(symbols[lintaq_lv2::kAudioIn0], c.variant == Variant::mono ? "in" : "in_l");
    }
}

TEST(Description, RangesAndDefaultsAreTheOnesTheCodeClampsTo)
{
    Node logarithmic(LV2_PORT_PROPS__logarithmic), integer(LV2_CORE__integer);
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.uri);
        const LilvPlugin *p = sharedWorld().plugin(c.uri);
        ASSERT_NE(p, nullptr);
        const uint32_t n = lilv_plugin_get_num_ports(p);
        std::vector<float> lo(n), hi(n), def(n);
        lilv_plugin_get_port_ranges_float(p, lo.data(), hi.data(), def.data());
        for (uint32_t i = 0; i < lintaq_lv2::kControlCount; ++i) {
            if (i == lintaq_lv2::kLatency)
                continue;
            const auto r = lintaq_lv2::controlRange(c.variant, i);
            const LilvPort *port = lilv_plugin_get_port_by_index(p, i);
            // The Turtle holds the shortest decimal of each float, which
            // reads back as the same float: exact equality is the check.
            EXPECT_EQ(lo[i], r.min) << i;
            EXPECT_EQ(hi[i], r.max) << i;
            EXPECT_EQ(def[i], r.def) << i;
            EXPECT_LT(lo[i], hi[i]) << i;
            EXPECT_TRUE(lo[i] <= def[i] && def[i] <= hi[i]) << i;
            const bool isLog = lilv_port_has_property(p, port, logarithmic.n);
            if (isLog) {
                EXPECT_GT(lo[i], 0.0f) << i; // a log scale cannot reach zero
            }
            const bool isInteger = lilv_port_has_property(p, port, integer.n);
            EXPECT_EQ(isInteger, r.kind != lintaq_lv2::Kind::real) << i;
            if (isInteger) {
                EXPECT_EQ(def[i], std::floor(def[i])) << i;
            }
        }
        // Frequency and Q are the logarithmic ones; frequency spans the
        // audible range, gain is symmetric.
        const uint32_t f = lintaq_lv2::bandPort(0, lintaq_lv2::kFreq);
        const uint32_t g = lintaq_lv2::bandPort(0, lintaq_lv2::kGain);
        EXPECT_TRUE(lilv_port_has_property(p, lilv_plugin_get_port_by_index(p, f), logarithmic.n));
        EXPECT_LE(lo[f], 20.0f);
        EXPECT_GE(hi[f], 20000.0f);
        EXPECT_EQ(lo[g], -hi[g]);
    }
}

TEST(Description, EveryEnumerationValueHasOneLabel)
{
    Node enumeration(LV2_CORE__enumeration);
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.uri);
        const LilvPlugin *p = sharedWorld().plugin(c.uri);
        ASSERT_NE(p, nullptr);
        int enumerations = 0;
        for (uint32_t i = 0; i < lintaq_lv2::kControlCount; ++i) {
            const LilvPort *port = lilv_plugin_get_port_by_index(p, i);
            if (!lilv_port_has_property(p, port, enumeration.n))
                continue;
            ++enumerations;
            const auto r = lintaq_lv2::controlRange(c.variant, i);
            LilvScalePoints *points = lilv_port_get_scale_points(p, port);
            std::multiset<int> values;
            LILV_FOREACH (scale_points, it, points) {
                const LilvScalePoint *sp = lilv_scale_points_get(points, it);
                values.insert(static_cast<int>(lilv_node_as_float(lilv_scale_point_get_value(sp))));
            }
            lilv_scale_points_free(points);
            std::multiset<int> want;
            for (int v = static_cast<int>(r.min); v <= static_cast<int>(r.max); ++v)
                want.insert(v);
            EXPECT_EQ(values, want) << i;
        }
        // quality and twelve types, plus twelve routings in stereo
        EXPECT_EQ(enumerations, c.variant == Variant::mono ? 13 : 25);
    }
}

TEST(Description, LatencyPortIsDesignatedAndReported)
{
    Node output(LV2_CORE__OutputPort), designation(LV2_CORE__latency);
    Node reports(LV2_CORE__reportsLatency), frames(LV2_UNITS__frame);
    Node unit(LV2_UNITS__unit);
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.uri);
        const LilvPlugin *p = sharedWorld().plugin(c.uri);
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(lilv_plugin_has_latency(p));
        EXPECT_EQ(lilv_plugin_get_latency_port_index(p), static_cast<uint32_t>(lintaq_lv2::kLatency));
        const LilvPort *byDesignation = lilv_plugin_get_port_by_designation(p, output.n, designation.n);
        ASSERT_NE(byDesignation, nullptr);
        EXPECT_EQ(lilv_port_get_index(p, byDesignation), static_cast<uint32_t>(lintaq_lv2::kLatency));
        EXPECT_TRUE(lilv_port_has_property(p, byDesignation, reports.n));
        LilvNodes *units = lilv_port_get_value(p, byDesignation, unit.n);
        EXPECT_TRUE(units != nullptr && lilv_nodes_contains(units, frames.n));
        lilv_nodes_free(units);
    }
}

} // namespace
