// Equaliser settings as a user writes them: bands with names instead of
// codes, from a JSON preset and/or --band options, checked before use and
// turned into the engine's parameter block.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "lintaq.h"

namespace lintaq_cli {

enum class Routing { Both, Left, Right, Mid, Side };

struct Band {
    unsigned type = LINTAQ_PEAK;
    double freq = 1000.0;  // Hz
    double gain = 0.0;     // dB
    double q = 0.7071;
    Routing routing = Routing::Both;
    bool enabled = true;
    std::string origin;    // where the user wrote it, for messages
};

struct Settings {
    std::string name;
    std::vector<Band> bands;
    int mode = 2;
    std::optional<bool> oversample;  // unset: on wherever the rate allows it
    bool noise = false;  // off: output reproducible bit for bit (see the README)
};

// Limits the tool accepts; the engine itself takes anything.
constexpr double kMaxAbsGainDb = 30.0;
constexpr double kMaxQ = 100.0;
constexpr int kOversampleBelowRate = 64000;
constexpr float kBandLimitFactor = 0.453515f;

const char *typeName(unsigned type);
const char *routingName(Routing r);
bool isPassType(unsigned type);

// Parses a preset held in memory; `source` names it in messages.
Settings parsePreset(const std::string &text, const std::string &source);
Settings loadPresetFile(const std::string &path);
// The presets compiled into the tool ("smile" is the default).
std::vector<std::string> builtinPresetNames();
Settings builtinPreset(const std::string &name);
// One --band option: TYPE,freq=F[,gain=G][,q=Q][,channel=C][,off].
Band parseBandOption(const std::string &text, int index);
std::string presetToJson(const Settings &s);

// Checks that need no sample rate: names, finiteness and ranges.
void validateSettings(const Settings &s);
// Checks that do: every band below the band limit at `rate`; warnings for
// bands that ring longer than the chosen mode's lookahead can hold.
void validateForRate(const Settings &s, int rate);
// Advice for a file processed as mono streams (one channel, or more than
// two), where the engine applies every routing alike.
void warnMonoRouting(const Settings &s, int channels);

bool oversampleActive(const Settings &s, int rate);
float bandLimitHz(int rate);

// Parameter block at `rate`; a band is switched on when it is enabled and
// `include` (if given) accepts its index.
PeqParams toParams(const Settings &s, int rate,
                   const std::vector<bool> *include = nullptr);

}  // namespace lintaq_cli
