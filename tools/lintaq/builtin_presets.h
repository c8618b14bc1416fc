// Presets compiled into the tool, so it equalises usefully with no files.
#pragma once

#include <vector>

namespace lintaq_cli {

struct BuiltinPreset {
    const char *name;
    const char *json;
};

// The first one is the default.
const std::vector<BuiltinPreset> &builtinPresets();

}  // namespace lintaq_cli
