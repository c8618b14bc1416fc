// What the tests share: where the built plugins are, and the comparison of
// outputs.
#pragma once

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "plugin_support.h"

namespace ptest {

inline std::string clapPath(Variant v)
{
    return std::string(LINTAQ_CLAP_DIR) + (v == Variant::stereo ? "/lintaq-stereo.clap" : "/lintaq-mono.clap");
}

inline std::string vst3Path(Variant v)
{
    const std::string name = v == Variant::stereo ? "lintaq-stereo" : "lintaq-mono";
    return std::string(LINTAQ_VST3_DIR) + "/" + name + ".vst3/Contents/x86_64-linux/" + name + ".so";
}

// Bit patterns, so -0 and 0 differ and the first difference is reported.
inline void expectSameBits(const Channels &got, const Channels &want, const char *what)
{
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t c = 0; c < got.size(); ++c) {
        ASSERT_EQ(got[c].size(), want[c].size()) << what;
        for (size_t i = 0; i < got[c].size(); ++i) {
            uint32_t a, b;
            std::memcpy(&a, &got[c][i], 4);
            std::memcpy(&b, &want[c][i], 4);
            ASSERT_EQ(a, b) << what << ": channel " << c << " sample " << i << ": " << got[c][i] << " vs "
                            << want[c][i];
        }
    }
}

} // namespace ptest
