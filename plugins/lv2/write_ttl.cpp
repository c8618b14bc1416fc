// Writes the bundle's manifest.ttl and lintaq.ttl from the port table, so
// the Turtle cannot drift from the code. The latencies in the labels come
// from the library itself.
//
// usage: lintaq_lv2_ttl OUT_DIR BINARY_FILE_NAME MINOR MICRO
#include <charconv>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "lintaq.h"
#include "port_table.h"

namespace {

using namespace lintaq_lv2;

// Shortest text that reads back as the same float, always a decimal.
std::string number(float x)
{
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, x);
    std::string s(buf, res.ptr);
    if (s.find_first_of(".e") == std::string::npos)
        s += ".0";
    return s;
}

std::string integer(float x) { return std::to_string(static_cast<long>(x)); }

struct Label {
    int value;
    std::string text;
};

int modeLatency(int mode)
{
    PeqInstance *e = LintaqInit(mode, 0);
    if (e == nullptr) {
        std::cerr << "lintaq_lv2_ttl: no engine instance for mode " << mode << "\n";
        std::exit(1);
    }
    const int latency = LintaqGetLatency(e);
    LintaqExit(e);
    return latency;
}

std::vector<Label> qualityLabels()
{
    const char *reach[kModeCount] = {"longest band responses", "long band responses",
                                     "medium band responses", "shortest band responses"};
    std::vector<Label> out;
    for (int m = 0; m < kModeCount; ++m)
        out.push_back({m, std::to_string(m) + ": " + std::to_string(modeLatency(m)) +
                              " samples latency, " + reach[m]});
    return out;
}

const std::vector<Label> kTypeLabels = {{LINTAQ_PEAK, "Peak"},
                                        {LINTAQ_LOW_SHELF, "Low shelf"},
                                        {LINTAQ_HIGH_SHELF, "High shelf"},
                                        {LINTAQ_HIGH_PASS, "High-pass 24 dB/oct"},
                                        {LINTAQ_LOW_PASS, "Low-pass 24 dB/oct"}};
const std::vector<Label> kRouteLabels = {{LINTAQ_OFF, "Off"},   {LINTAQ_BOTH, "Both"},
                                         {LINTAQ_LEFT, "Left"}, {LINTAQ_RIGHT, "Right"},
                                         {LINTAQ_MID, "Mid"},   {LINTAQ_SIDE, "Side"}};

struct PortText {
    std::string symbol, name, comment, unit;
    bool logarithmic = false;
    std::vector<Label> labels;
};

PortText describe(Variant v, uint32_t port)
{
    switch (port) {
    case kQuality:
        return {"quality", "Quality",
                "Lookahead per frame: more holds longer band responses (low, narrow bands) "
                "at the cost of latency. A change restarts the output from silence.",
                "", false, qualityLabels()};
    case kOversample:
        return {"oversample", "2x oversampling",
                "Below 64 kHz, filter at twice the rate so bands near the top keep their shape. "
                "Latency does not change.",
                "", false, {}};
    case kNoise:
        return {"noise", "Frame noise",
                "Adds a tiny noise (below 4e-16) to every frame, keeping silence off exact zero "
                "and away from slow subnormal arithmetic.",
                "", false, {}};
    case kLatency:
        return {"latency", "Latency", "Delay of the output behind the input, in samples.", "frame",
                false, {}};
    default: break;
    }
    const std::string n = std::to_string(bandOfPort(port) + 1);
    const std::string b = "band" + n + "_";
    switch (fieldOfPort(port)) {
    case kEnable:
        if (v == Variant::mono)
            return {b + "enable", "Band " + n + " on", "", "", false, {}};
        return {b + "enable", "Band " + n + " channels",
                "Off, both channels, left, right, mid (L+R) or side (L-R).", "", false,
                kRouteLabels};
    case kType: return {b + "type", "Band " + n + " type", "", "", false, kTypeLabels};
    case kFreq:
        return {b + "freq", "Band " + n + " frequency",
                "Centre or corner. A band at or above 0.4535 x the sample rate is bypassed.", "hz",
                true, {}};
    case kGain:
        return {b + "gain", "Band " + n + " gain", "Unused by the high- and low-pass types.", "db",
                false, {}};
    case kQ:
        return {b + "q", "Band " + n + " Q",
                "Width of a peak, slope of a shelf; high- and low-pass: level Q squared at the "
                "corner.",
                "", true, {}};
    default: return {};
    }
}

std::string quoted(const std::string &s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

void writeControl(std::ostream &o, Variant v, uint32_t port, int maxLatency)
{
    const Range r = controlRange(v, port);
    const PortText t = describe(v, port);
    const bool isOutput = r.kind == Kind::output;
    o << "    [\n        a lv2:" << (isOutput ? "OutputPort" : "InputPort") << " , lv2:ControlPort ;\n"
      << "        lv2:index " << port << " ;\n"
      << "        lv2:symbol " << quoted(t.symbol) << " ;\n"
      << "        lv2:name " << quoted(t.name) << " ;\n";
    if (!t.comment.empty())
        o << "        rdfs:comment " << quoted(t.comment) << " ;\n";
    if (isOutput) {
        o << "        lv2:minimum 0 ;\n        lv2:maximum " << maxLatency << " ;\n"
          << "        lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
          << "        lv2:designation lv2:latency ;\n";
    } else if (r.kind == Kind::real) {
        o << "        lv2:default " << number(r.def) << " ;\n"
          << "        lv2:minimum " << number(r.min) << " ;\n"
          << "        lv2:maximum " << number(r.max) << " ;\n";
        if (t.logarithmic)
            o << "        lv2:portProperty pprops:logarithmic ;\n";
    } else {
        o << "        lv2:default " << integer(r.def) << " ;\n"
          << "        lv2:minimum " << integer(r.min) << " ;\n"
          << "        lv2:maximum " << integer(r.max) << " ;\n"
          << "        lv2:portProperty lv2:integer , "
          << (r.kind == Kind::toggle ? "lv2:toggled" : "lv2:enumeration") << " ;\n";
    }
    for (const Label &l : t.labels)
        o << "        lv2:scalePoint [ rdfs:label " << quoted(l.text) << " ; rdf:value " << l.value
          << " ] ;\n";
    if (!t.unit.empty())
        o << "        units:unit units:" << t.unit << " ;\n";
    o << "    ]";
}

void writeAudio(std::ostream &o, uint32_t index, bool input, const std::string &symbol,
                const std::string &name)
{
    o << "    [\n        a lv2:" << (input ? "InputPort" : "OutputPort") << " , lv2:AudioPort ;\n"
      << "        lv2:index " << index << " ;\n"
      << "        lv2:symbol " << quoted(symbol) << " ;\n"
      << "        lv2:name " << quoted(name) << " ;\n    ]";
}

void writePlugin(std::ostream &o, Variant v, const std::string &minor, const std::string &micro,
                 int maxLatency)
{
    const bool mono = v == Variant::mono;
    o << "<" << (mono ? kMonoUri : kStereoUri) << ">\n"
      << "    a lv2:Plugin , lv2:ParaEQPlugin ;\n"
      << "    doap:name " << quoted(mono ? "Lintaq EQ mono" : "Lintaq EQ stereo") << " ;\n"
      << "    rdfs:comment "
      << quoted("Twelve-band linear-phase parametric equaliser. Each band runs forwards and "
                "backwards over overlapping frames, so only the magnitude changes.")
      << " ;\n"
      << "    lv2:minorVersion " << minor << " ;\n"
      << "    lv2:microVersion " << micro << " ;\n"
      << "    lv2:optionalFeature lv2:hardRTCapable ;\n"
      << "    lv2:port\n";
    for (uint32_t i = 0; i < kControlCount; ++i) {
        writeControl(o, v, i, maxLatency);
        o << " ,\n";
    }
    if (mono) {
        writeAudio(o, kAudioIn0, true, "in", "In");
        o << " ,\n";
        writeAudio(o, kMonoOut, false, "out", "Out");
    } else {
        writeAudio(o, kAudioIn0, true, "in_l", "In left");
        o << " ,\n";
        writeAudio(o, kStereoInR, true, "in_r", "In right");
        o << " ,\n";
        writeAudio(o, kStereoOutL, false, "out_l", "Out left");
        o << " ,\n";
        writeAudio(o, kStereoOutR, false, "out_r", "Out right");
    }
    o << " .\n";
}

const char *kPrefixes = "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                        "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                        "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
                        "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
                        "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                        "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n\n";

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::cerr << "usage: lintaq_lv2_ttl OUT_DIR BINARY_FILE_NAME MINOR MICRO\n";
        return 2;
    }
    const std::string dir = argv[1], binary = argv[2], minor = argv[3], micro = argv[4];
    const int maxLatency = modeLatency(0);

    std::ofstream manifest(dir + "/manifest.ttl");
    manifest << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
             << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n";
    for (const char *uri : {kMonoUri, kStereoUri})
        manifest << "<" << uri << ">\n    a lv2:Plugin ;\n    lv2:binary <" << binary
                 << "> ;\n    rdfs:seeAlso <lintaq.ttl> .\n\n";

    std::ofstream ttl(dir + "/lintaq.ttl");
    ttl << kPrefixes;
    writePlugin(ttl, Variant::mono, minor, micro, maxLatency);
    ttl << "\n";
    writePlugin(ttl, Variant::stereo, minor, micro, maxLatency);

    manifest.close();
    ttl.close();
    if (!manifest || !ttl) {
        std::cerr << "lintaq_lv2_ttl: cannot write to " << dir << "\n";
        return 1;
    }
    return 0;
}
