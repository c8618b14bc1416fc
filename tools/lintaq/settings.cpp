#include "settings.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <sstream>

#include <nlohmann/json.hpp>

#include "builtin_presets.h"
#include "errors.h"
#include "ring_rule.h"

namespace lintaq_cli {
namespace {

using nlohmann::json;

struct NamedType { const char *name; unsigned code; };
constexpr NamedType kTypes[] = {
    {"peak", LINTAQ_PEAK},          {"bell", LINTAQ_PEAK},
    {"lowshelf", LINTAQ_LOW_SHELF}, {"highshelf", LINTAQ_HIGH_SHELF},
    {"highpass", LINTAQ_HIGH_PASS}, {"lowpass", LINTAQ_LOW_PASS},
};
struct NamedRouting { const char *name; Routing routing; };
constexpr NamedRouting kRoutings[] = {
    {"both", Routing::Both}, {"left", Routing::Left}, {"right", Routing::Right},
    {"mid", Routing::Mid},   {"side", Routing::Side},
};

std::string lowerName(std::string s, bool dropSeparators)
{
    std::string out;
    for (char c : s) {
        if (dropSeparators && (c == '-' || c == '_' || c == ' ')) continue;
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string fmt(const char *format, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

unsigned parseType(const std::string &text, const std::string &where)
{
    const std::string key = lowerName(text, true);
    for (const auto &t : kTypes)
        if (key == t.name) return t.code;
    throw usageError(where + ": unknown type \"" + text +
                     "\" (expected peak, lowshelf, highshelf, highpass or lowpass)");
}

Routing parseRouting(const std::string &text, const std::string &where)
{
    const std::string key = lowerName(text, false);
    for (const auto &r : kRoutings)
        if (key == r.name) return r.routing;
    throw usageError(where + ": unknown channel \"" + text +
                     "\" (expected both, left, right, mid or side)");
}

// A number for an option value: the whole text must be used; "k" means
// thousands where `allowKilo` (frequencies).
double parseNumber(const std::string &text, const std::string &where, bool allowKilo)
{
    std::string t = text;
    double scale = 1.0;
    if (allowKilo && !t.empty() && (t.back() == 'k' || t.back() == 'K')) {
        t.pop_back();
        scale = 1000.0;
    }
    char *end = nullptr;
    const double v = t.empty() ? 0.0 : std::strtod(t.c_str(), &end);
    if (t.empty() || end == nullptr || *end != '\0')
        throw usageError(where + ": \"" + text + "\" is not a number");
    return v * scale;
}

double jsonNumber(const json &v, const std::string &where, const char *unit)
{
    if (!v.is_number())
        throw usageError(where + " must be a number" + unit + ", not " + v.dump());
    return v.get<double>();
}

Band bandFromJson(const json &j, const std::string &where)
{
    if (!j.is_object()) throw usageError(where + ": a band must be a JSON object");
    Band b;
    b.origin = where;
    if (!j.contains("type")) throw usageError(where + ": type is missing");
    if (!j.contains("freq")) throw usageError(where + ": freq is missing");
    for (const auto &[key, value] : j.items()) {
        if (key == "type") {
            if (!value.is_string()) throw usageError(where + ": type must be a string");
            b.type = parseType(value.get<std::string>(), where);
        } else if (key == "freq") {
            b.freq = jsonNumber(value, where + ": freq", " (Hz)");
        } else if (key == "gain") {
            b.gain = jsonNumber(value, where + ": gain", " (dB)");
        } else if (key == "q") {
            b.q = jsonNumber(value, where + ": q", "");
        } else if (key == "channel") {
            if (!value.is_string()) throw usageError(where + ": channel must be a string");
            b.routing = parseRouting(value.get<std::string>(), where);
        } else if (key == "enabled") {
            if (!value.is_boolean()) throw usageError(where + ": enabled must be true or false");
            b.enabled = value.get<bool>();
        } else {
            throw usageError(where + ": unknown field \"" + key +
                             "\" (a band has type, freq, gain, q, channel, enabled)");
        }
    }
    return b;
}

}  // namespace

void warn(const std::string &message) { std::fprintf(stderr, "lintaq: warning: %s\n", message.c_str()); }

const char *typeName(unsigned type)
{
    switch (type) {
    case LINTAQ_PEAK: return "peak";
    case LINTAQ_LOW_SHELF: return "lowshelf";
    case LINTAQ_HIGH_SHELF: return "highshelf";
    case LINTAQ_HIGH_PASS: return "highpass";
    case LINTAQ_LOW_PASS: return "lowpass";
    default: return "?";
    }
}

const char *routingName(Routing r)
{
    for (const auto &n : kRoutings)
        if (n.routing == r) return n.name;
    return "?";
}

bool isPassType(unsigned type) { return type == LINTAQ_HIGH_PASS || type == LINTAQ_LOW_PASS; }

Settings parsePreset(const std::string &text, const std::string &source)
{
    json j;
    try {
        j = json::parse(text);
    } catch (const json::parse_error &e) {
        // Keep nlohmann's "line L, column C: reason" and drop its prefix.
        std::string what = e.what();
        const auto at = what.find("parse error");
        throw usageError("preset " + source + ": invalid JSON: " +
                         (at == std::string::npos ? what : what.substr(at)));
    }
    if (!j.is_object()) throw usageError("preset " + source + ": the top level must be a JSON object");
    Settings s;
    for (const auto &[key, value] : j.items()) {
        const std::string where = "preset " + source + ": " + key;
        if (key == "name") {
            if (!value.is_string()) throw usageError(where + " must be a string");
            s.name = value.get<std::string>();
        } else if (key == "description") {
            // For people reading the file.
        } else if (key == "mode") {
            if (!value.is_number_integer())
                throw usageError(where + " must be a whole number from 0 to 3");
            s.mode = value.get<int>();
        } else if (key == "oversample") {
            if (!value.is_boolean()) throw usageError(where + " must be true or false");
            s.oversample = value.get<bool>();
        } else if (key == "noise") {
            if (!value.is_boolean()) throw usageError(where + " must be true or false");
            s.noise = value.get<bool>();
        } else if (key == "bands") {
            if (!value.is_array()) throw usageError(where + " must be an array of bands");
            for (std::size_t i = 0; i < value.size(); ++i)
                s.bands.push_back(bandFromJson(value[i], "preset " + source + ", band " +
                                                             std::to_string(i + 1)));
        } else {
            throw usageError("preset " + source + ": unknown field \"" + key +
                             "\" (a preset has name, description, mode, oversample, noise, bands)");
        }
    }
    if (!j.contains("bands")) throw usageError("preset " + source + ": bands is missing");
    return s;
}

Settings loadPresetFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw usageError("cannot read preset \"" + path + "\"");
    std::ostringstream text;
    text << in.rdbuf();
    Settings s = parsePreset(text.str(), "\"" + path + "\"");
    if (s.name.empty()) s.name = path;
    return s;
}

std::vector<std::string> builtinPresetNames()
{
    std::vector<std::string> names;
    for (const auto &p : builtinPresets()) names.emplace_back(p.name);
    return names;
}

Settings builtinPreset(const std::string &name)
{
    for (const auto &p : builtinPresets())
        if (name == p.name) return parsePreset(p.json, "\"" + name + "\" (built in)");
    std::string known;
    for (const auto &n : builtinPresetNames()) known += (known.empty() ? "" : ", ") + n;
    throw usageError("no built-in preset \"" + name + "\" (built in: " + known + ")");
}

Band parseBandOption(const std::string &text, int index)
{
    const std::string where = "--band #" + std::to_string(index) + " \"" + text + "\"";
    Band b;
    b.origin = where;
    std::vector<std::string> items;
    std::stringstream ss(text);
    for (std::string item; std::getline(ss, item, ',');) items.push_back(item);
    if (items.empty() || items[0].find('=') != std::string::npos)
        throw usageError(where + ": start with the type, e.g. peak,freq=1000,gain=-3,q=1.4");
    b.type = parseType(items[0], where);
    bool haveFreq = false;
    for (std::size_t i = 1; i < items.size(); ++i) {
        const std::string &item = items[i];
        if (item == "off") {
            b.enabled = false;
            continue;
        }
        const auto eq = item.find('=');
        if (eq == std::string::npos)
            throw usageError(where + ": \"" + item + "\" is not key=value");
        const std::string key = lowerName(item.substr(0, eq), false);
        const std::string value = item.substr(eq + 1);
        if (key == "freq" || key == "f") {
            b.freq = parseNumber(value, where + ": freq", true);
            haveFreq = true;
        } else if (key == "gain" || key == "g") {
            b.gain = parseNumber(value, where + ": gain", false);
        } else if (key == "q") {
            b.q = parseNumber(value, where + ": q", false);
        } else if (key == "channel" || key == "ch") {
            b.routing = parseRouting(value, where);
        } else {
            throw usageError(where + ": unknown key \"" + key + "\" (freq, gain, q, channel)");
        }
    }
    if (!haveFreq) throw usageError(where + ": freq is missing");
    return b;
}

std::string presetToJson(const Settings &s)
{
    // Ordered, so the file reads in the order a person writes one.
    nlohmann::ordered_json j = nlohmann::ordered_json::object();
    if (!s.name.empty()) j["name"] = s.name;
    j["mode"] = s.mode;
    if (s.oversample) j["oversample"] = *s.oversample;
    j["noise"] = s.noise;
    j["bands"] = nlohmann::ordered_json::array();
    for (const Band &b : s.bands) {
        nlohmann::ordered_json jb = nlohmann::ordered_json::object();
        jb["type"] = typeName(b.type);
        jb["freq"] = b.freq;
        if (!isPassType(b.type)) jb["gain"] = b.gain;
        jb["q"] = b.q;
        jb["channel"] = routingName(b.routing);
        if (!b.enabled) jb["enabled"] = false;
        j["bands"].push_back(jb);
    }
    return j.dump(2) + "\n";
}

void validateSettings(const Settings &s)
{
    if (s.mode < 0 || s.mode > 3)
        throw usageError("quality mode " + std::to_string(s.mode) + " is not 0, 1, 2 or 3");
    if (s.bands.size() > LINTAQ_BANDS)
        throw usageError(std::to_string(s.bands.size()) + " bands given; the equaliser has " +
                         std::to_string(LINTAQ_BANDS) + " (the 13th is " + s.bands[LINTAQ_BANDS].origin + ")");
    for (const Band &b : s.bands) {
        if (!std::isfinite(b.freq) || b.freq <= 0.0)
            throw usageError(b.origin + ": freq " + fmt("%g", b.freq) + " Hz must be above 0");
        if (!std::isfinite(b.q) || b.q <= 0.0 || b.q > kMaxQ)
            throw usageError(b.origin + ": q " + fmt("%g", b.q) + " must be above 0 and at most " +
                             fmt("%g", kMaxQ));
        if (!std::isfinite(b.gain))
            throw usageError(b.origin + ": gain " + fmt("%g", b.gain) + " is not a finite number of dB");
        if (std::fabs(b.gain) > kMaxAbsGainDb)
            throw usageError(b.origin + ": gain " + fmt("%g", b.gain) + " dB must lie within ±" +
                             fmt("%g", kMaxAbsGainDb) + " dB");
        if (isPassType(b.type) && b.gain != 0.0)
            warn(b.origin + ": gain is ignored by a " + typeName(b.type) +
                 " band (its level at freq is set by q: 40·log10(q) dB)");
    }
}

float bandLimitHz(int rate) { return static_cast<float>(rate) * kBandLimitFactor; }

bool oversampleActive(const Settings &s, int rate)
{
    return s.oversample.value_or(true) && rate < kOversampleBelowRate;
}

void validateForRate(const Settings &s, int rate)
{
    const float limit = bandLimitHz(rate);
    const double lookahead = lintaq_ring::lookaheadSeconds(s.mode, rate);
    for (const Band &b : s.bands) {
        // The engine bypasses a band at or above the limit: say so instead
        // of silently doing nothing.
        if (static_cast<float>(b.freq) >= limit)
            throw usageError(b.origin + ": freq " + fmt("%g", b.freq) +
                             " Hz is at or above the band limit of " + fmt("%.1f", limit) +
                             " Hz for " + std::to_string(rate) + " Hz audio (0.453515 × rate)");
        if (!b.enabled) continue;
        if (lintaq_ring::ringsPastLookahead(b.freq, b.q, s.mode, rate)) {
            const double ring = lintaq_ring::ringSeconds(b.freq, b.q);
            const int fits = lintaq_ring::shortestModeHolding(ring, rate);
            warn(b.origin + ": this band rings for about " + fmt("%.0f", ring * 1000) +
                 " ms, longer than mode " + std::to_string(s.mode) + "'s lookahead of " +
                 fmt("%.0f", lookahead * 1000) + " ms, so its shape is approximate" +
                 (fits >= 0 ? " (--mode " + std::to_string(fits) + " holds it)"
                            : " (even mode 0 is too short: widen it or raise its frequency)"));
        }
    }
}

void warnMonoRouting(const Settings &s, int channels)
{
    for (const Band &b : s.bands)
        if (b.enabled && b.routing != Routing::Both)
            warn(b.origin + ": routed to " + routingName(b.routing) +
                 (channels == 1 ? ", but a mono file has one channel: the band applies to it"
                                : ", but a file of " + std::to_string(channels) +
                                      " channels runs channel by channel: the band applies to each"));
}

PeqParams toParams(const Settings &s, int rate, const std::vector<bool> *include)
{
    PeqParams p{};
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        p.freq[k] = 1000.0f;
        p.q[k] = 0.7f;
        p.enable[k] = LINTAQ_OFF;
        p.type[k] = LINTAQ_PEAK;
    }
    for (std::size_t k = 0; k < s.bands.size() && k < LINTAQ_BANDS; ++k) {
        const Band &b = s.bands[k];
        p.freq[k] = static_cast<float>(b.freq);
        p.gain[k] = static_cast<float>(b.gain);
        p.q[k] = static_cast<float>(b.q);
        p.type[k] = b.type;
        const bool on = b.enabled && (include == nullptr || (*include)[k]);
        if (on) {
            switch (b.routing) {
            case Routing::Both: p.enable[k] = LINTAQ_BOTH; break;
            case Routing::Left: p.enable[k] = LINTAQ_LEFT; break;
            case Routing::Right: p.enable[k] = LINTAQ_RIGHT; break;
            case Routing::Mid: p.enable[k] = LINTAQ_MID; break;
            case Routing::Side: p.enable[k] = LINTAQ_SIDE; break;
            }
        }
    }
    p.sampleRate = rate;
    p.noise = s.noise ? 1u : 0u;
    p.oversample = oversampleActive(s, rate) ? 1u : 0u;
    return p;
}

}  // namespace lintaq_cli
