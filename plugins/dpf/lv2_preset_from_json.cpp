// Turns a preset of the command-line tool (the JSON that `lintaq preset`
// prints and `lintaq process --preset` reads) into an LV2 preset bundle for
// the stereo and the mono plugin, which LV2 hosts list beside the factory
// presets once the bundle is in ~/.lv2.
//
// usage: lintaq-lv2-preset PRESET.json OUT_DIR
//
// Writes OUT_DIR/lintaq-preset-NAME.lv2/. Bands fill the plugin's bands in
// order; the rest are switched off. Frame noise is not a plugin setting and
// is dropped; an unset oversampling means on, as in the tool. Values the
// plugin's ranges do not hold (say a Q of 50) are held to them, with a
// warning.
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "parameters.h"

namespace {

using namespace lintaq_plugin;
using json = nlohmann::json;

struct Failure {
    std::string message;
};

// Shortest text that reads back as the same float.
std::string number(float x)
{
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, x);
    std::string s(buf, res.ptr);
    if (s.find_first_of(".e") == std::string::npos)
        s += ".0";
    return s;
}

uint32_t typeCode(const std::string &name)
{
    const struct {
        const char *name;
        uint32_t code;
    } types[] = {{"peak", LINTAQ_PEAK},
                 {"lowshelf", LINTAQ_LOW_SHELF},
                 {"highshelf", LINTAQ_HIGH_SHELF},
                 {"highpass", LINTAQ_HIGH_PASS},
                 {"lowpass", LINTAQ_LOW_PASS}};
    for (const auto &t : types)
        if (name == t.name)
            return t.code;
    throw Failure{"unknown band type \"" + name + "\""};
}

uint32_t routeCode(const std::string &name)
{
    const char *names[] = {"both", "left", "right", "mid", "side"};
    for (uint32_t i = 0; i < 5; ++i)
        if (name == names[i])
            return LINTAQ_BOTH + i;
    throw Failure{"unknown channel \"" + name + "\""};
}

double numberField(const json &j, const char *key, double fallback)
{
    if (!j.contains(key))
        return fallback;
    if (!j.at(key).is_number())
        throw Failure{std::string(key) + " must be a number"};
    return j.at(key).get<double>();
}

// The plugin's value, held to its range with a warning.
float held(Variant v, uint32_t p, double value)
{
    const Range r = paramRange(v, p);
    const float x = clampParam(r, static_cast<float>(value));
    if (x != static_cast<float>(value) && v == Variant::stereo && r.kind != Kind::enumeration)
        std::cerr << "lintaq-lv2-preset: warning: " << paramSymbol(p) << " " << value << " held to " << x << "\n";
    return x;
}

// Every parameter's value for one plugin, from the preset.
Values valuesFor(const json &preset, Variant v)
{
    Values x{};
    for (uint32_t i = 0; i < kParamCount; ++i)
        x[i] = paramRange(v, i).def;
    const int mode = preset.contains("mode") ? preset.at("mode").get<int>() : kDefaultMode;
    x[kQuality] = held(v, kQuality, mode);
    x[kOversample] = !preset.contains("oversample") || preset.at("oversample").get<bool>() ? 1.0f : 0.0f;
    const json &bands = preset.at("bands");
    if (!bands.is_array() || bands.size() > LINTAQ_BANDS)
        throw Failure{"bands must be an array of at most " + std::to_string(LINTAQ_BANDS)};
    for (int k = 0; k < static_cast<int>(bands.size()); ++k) {
        const json &b = bands[static_cast<size_t>(k)];
        if (!b.is_object() || !b.contains("type") || !b.contains("freq"))
            throw Failure{"band " + std::to_string(k + 1) + " needs a type and a freq"};
        const uint32_t type = typeCode(b.at("type").get<std::string>());
        const bool on = !b.contains("enabled") || b.at("enabled").get<bool>();
        const uint32_t route = b.contains("channel") ? routeCode(b.at("channel").get<std::string>()) : uint32_t{LINTAQ_BOTH};
        x[bandParam(k, kEnable)] = on ? (v == Variant::mono ? 1.0f : static_cast<float>(route)) : 0.0f;
        x[bandParam(k, kType)] = static_cast<float>(type);
        x[bandParam(k, kFreq)] = held(v, bandParam(k, kFreq), numberField(b, "freq", 1000));
        x[bandParam(k, kGain)] = held(v, bandParam(k, kGain), numberField(b, "gain", 0));
        const double q = numberField(b, "q", 0.7071);
        x[bandParam(k, kQ)] = held(v, bandParam(k, kQ), q > maxQFor(type) ? maxQFor(type) : q);
    }
    return x;
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

// A file name from the preset's name: letters, digits and dashes.
std::string slug(const std::string &name)
{
    std::string s;
    for (char c : name)
        s += std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(static_cast<unsigned char>(c))) : '-';
    return s.empty() ? "preset" : s;
}

// Written beside the destination first and moved into place whole.
void writeBundle(const json &preset, const std::filesystem::path &final, const std::string &name)
{
    const std::filesystem::path dir = final.string() + ".partial";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ostringstream manifest;
    const char *prefixes = "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                           "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                           "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n";
    manifest << prefixes;
    for (Variant v : {Variant::stereo, Variant::mono}) {
        const std::string plugin = v == Variant::stereo ? "urn:lintaq:lv2:stereo" : "urn:lintaq:lv2:mono";
        const char *uri = v == Variant::stereo ? "<stereo.ttl>" : "<mono.ttl>";
        manifest << uri << "\n    a pset:Preset ;\n    lv2:appliesTo <" << plugin << "> ;\n    rdfs:seeAlso " << uri
                 << " .\n\n";
        std::ofstream one(dir / (v == Variant::stereo ? "stereo.ttl" : "mono.ttl"));
        one << prefixes << "<>\n    a pset:Preset ;\n    lv2:appliesTo <" << plugin << "> ;\n    rdfs:label "
            << quoted(name) << " ;\n    lv2:port";
        const Values x = valuesFor(preset, v);
        for (uint32_t i = 0; i < kBypass; ++i)
            one << (i ? " ,\n" : "\n") << "        [ lv2:symbol " << quoted(paramSymbol(i)) << " ; pset:value "
                << number(x[i]) << " ]";
        one << " .\n";
        one.close();
        if (!one)
            throw Failure{"cannot write to " + dir.string()};
    }
    std::ofstream m(dir / "manifest.ttl");
    m << manifest.str();
    m.close();
    if (!m)
        throw Failure{"cannot write to " + dir.string()};
    std::filesystem::remove_all(final);
    std::filesystem::rename(dir, final);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::cerr << "usage: lintaq-lv2-preset PRESET.json OUT_DIR\n";
        return 2;
    }
    try {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in)
            throw Failure{std::string("cannot read ") + argv[1]};
        json preset;
        try {
            preset = json::parse(in);
        } catch (const json::exception &e) {
            throw Failure{std::string("invalid JSON: ") + e.what()};
        }
        if (!preset.is_object() || !preset.contains("bands"))
            throw Failure{"not a preset: no bands"};
        const std::string name = preset.value("name", std::filesystem::path(argv[1]).stem().string());
        const std::filesystem::path dir = std::filesystem::path(argv[2]) / ("lintaq-preset-" + slug(name) + ".lv2");
        writeBundle(preset, dir, name);
        std::cout << dir.string() << "\n";
    } catch (const Failure &f) {
        std::cerr << "lintaq-lv2-preset: " << argv[1] << ": " << f.message << "\n";
        return 1;
    } catch (const json::exception &e) {
        std::cerr << "lintaq-lv2-preset: " << argv[1] << ": " << e.what() << "\n";
        return 1;
    } catch (const std::filesystem::filesystem_error &e) {
        std::cerr << "lintaq-lv2-preset: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
