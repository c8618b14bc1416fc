// Turns a preset of the command-line tool (the JSON that `lintaq preset`
// prints and `lintaq process --preset` reads) into an LV2 preset bundle for
// the stereo and the mono plugin, which LV2 hosts list beside the factory
// presets once the bundle is in ~/.lv2.
//
// usage: lintaq-lv2-preset PRESET.json OUT_DIR
//
// Writes OUT_DIR/lintaq-preset-NAME.lv2/. The preset is read by the tool's
// own reader, so a file converts exactly when `lintaq process` takes it.
// Bands fill the plugin's bands in order; the rest are switched off. Frame
// noise is not a plugin setting and is dropped; an unset oversampling means
// on, as in the tool. Values the plugin's ranges do not hold (say a Q of
// 50) are held to them, with a warning.
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "errors.h"
#include "parameters.h"
#include "settings.h"

namespace {

using namespace lintaq_plugin;

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
Values valuesFor(const lintaq_cli::Settings &preset, Variant v)
{
    Values x{};
    for (uint32_t i = 0; i < kParamCount; ++i)
        x[i] = paramRange(v, i).def;
    x[kQuality] = held(v, kQuality, preset.mode);
    x[kOversample] = preset.oversample.value_or(true) ? 1.0f : 0.0f;
    // The tool's block gives each band's channel code (0 when switched off).
    const PeqParams block = lintaq_cli::toParams(preset, 48000);
    for (int k = 0; k < static_cast<int>(preset.bands.size()); ++k) {
        const lintaq_cli::Band &b = preset.bands[static_cast<size_t>(k)];
        const uint32_t route = block.enable[k];
        x[bandParam(k, kEnable)] = v == Variant::mono ? (route != LINTAQ_OFF ? 1.0f : 0.0f) : static_cast<float>(route);
        x[bandParam(k, kType)] = static_cast<float>(b.type);
        x[bandParam(k, kFreq)] = held(v, bandParam(k, kFreq), b.freq);
        x[bandParam(k, kGain)] = held(v, bandParam(k, kGain), b.gain);
        x[bandParam(k, kQ)] = held(v, bandParam(k, kQ), b.q > maxQFor(b.type) ? maxQFor(b.type) : b.q);
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
void writeBundle(const lintaq_cli::Settings &preset, const std::filesystem::path &final, const std::string &name)
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
        std::ostringstream text;
        text << in.rdbuf();
        const lintaq_cli::Settings preset = lintaq_cli::parsePreset(text.str(), std::string("\"") + argv[1] + "\"");
        if (preset.bands.size() > LINTAQ_BANDS)
            throw Failure{"bands must be an array of at most " + std::to_string(LINTAQ_BANDS)};
        const std::string name = preset.name.empty() ? std::filesystem::path(argv[1]).stem().string() : preset.name;
        const std::filesystem::path dir = std::filesystem::path(argv[2]) / ("lintaq-preset-" + slug(name) + ".lv2");
        writeBundle(preset, dir, name);
        std::cout << dir.string() << "\n";
    } catch (const Failure &f) {
        std::cerr << "lintaq-lv2-preset: " << argv[1] << ": " << f.message << "\n";
        return 1;
    } catch (const lintaq_cli::CliError &e) {
        std::cerr << "lintaq-lv2-preset: " << e.what() << "\n";
        return 1;
    } catch (const std::filesystem::filesystem_error &e) {
        std::cerr << "lintaq-lv2-preset: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
