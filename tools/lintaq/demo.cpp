#include "demo.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

#include "audio_file.h"
#include "errors.h"

namespace lintaq_cli {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// A fixed-seed generator, so every demo file is the same.
struct Noise {
    std::uint32_t state = 0x12345678u;
    double next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state / 2147483648.0 - 1.0;
    }
};

double midiHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

}  // namespace

// 120 beats a minute: a kick on every beat, a bass line, a soft chord pad
// spread across the channels and hi-hats on the off-beats panned right, so
// lows, mids and highs all give the equaliser something to act on.
int runGenerateDemo(const DemoOptions &opt)
{
    if (opt.rate < 8000 || opt.rate > 384000)
        throw usageError("--rate " + std::to_string(opt.rate) + " must lie from 8000 to 384000 Hz");
    if (!(opt.seconds > 0.0 && opt.seconds <= 600.0))
        throw usageError("--seconds must be above 0 and at most 600");
    if (opt.channels != 1 && opt.channels != 2) throw usageError("--channels must be 1 or 2");
    const int format = chooseOutputFormat(SF_FORMAT_WAV | SF_FORMAT_PCM_24, opt.output, opt.format,
                                          opt.floatSamples, opt.rate, opt.channels);

    const auto frames = static_cast<std::size_t>(opt.seconds * opt.rate);
    const double rate = opt.rate, beat = 0.5;
    static const int kChords[4][3] = {{57, 60, 64}, {53, 57, 60}, {48, 52, 55}, {55, 59, 62}};
    static const int kBass[4] = {33, 29, 36, 31};
    std::vector<float> out(frames * static_cast<std::size_t>(opt.channels));
    Noise noise;
    double hatState = 0.0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const int beatIndex = static_cast<int>(t / beat);
        const double inBeat = t - beatIndex * beat;
        const int bar = (beatIndex / 4) % 4;
        // Kick: a falling sine with a fast decay.
        const double kickPhase = kTwoPi * (45.0 * inBeat + 90.0 * (1.0 - std::exp(-inBeat * 30.0)) / 30.0);
        const double kick = 0.8 * std::sin(kickPhase) * std::exp(-inBeat * 9.0);
        // Bass: two harmonics, plucked on each beat.
        const double fb = midiHz(kBass[bar]);
        const double bass = 0.35 * (std::sin(kTwoPi * fb * t) + 0.4 * std::sin(2 * kTwoPi * fb * t)) *
                            std::exp(-inBeat * 3.0);
        // Pad: three notes with a few harmonics, slightly detuned per side.
        double padL = 0.0, padR = 0.0;
        for (int n : kChords[bar]) {
            const double f = midiHz(n);
            for (int h = 1; h <= 6; ++h) {
                const double a = 0.05 / h;
                padL += a * std::sin(kTwoPi * f * h * t * 0.999);
                padR += a * std::sin(kTwoPi * f * h * t * 1.001);
            }
        }
        // Hi-hat: differenced noise (so mostly highs) on the off-beat.
        const double white = noise.next();
        const double hiss = white - hatState;
        hatState = white;
        const double offBeat = inBeat - beat / 2;
        const double hat = offBeat >= 0 ? 0.18 * hiss * std::exp(-offBeat * 40.0) : 0.0;
        const double centre = kick + bass;
        if (opt.channels == 2) {
            out[2 * i] = static_cast<float>(centre + padL + 0.4 * hat);
            out[2 * i + 1] = static_cast<float>(centre + padR + hat);
        } else {
            out[i] = static_cast<float>(centre + 0.5 * (padL + padR) + 0.7 * hat);
        }
    }
    // Peak at -6 dBFS: room for boosts.
    float peak = 0.0f;
    for (float v : out) peak = std::max(peak, std::fabs(v));
    const float scale = peak > 0 ? 0.5f / peak : 1.0f;
    for (float &v : out) v *= scale;

    SafeOutput file(opt.output, nullptr, false);
    SF_INFO info{};
    info.samplerate = opt.rate;
    info.channels = opt.channels;
    info.format = format;
    SNDFILE *sf = openSoundOutput(file, info);
    sf_set_string(sf, SF_STR_TITLE, "Lintaq demo");
    const auto written = sf_writef_float(sf, out.data(), static_cast<sf_count_t>(frames));
    const int closeError = sf_close(sf);
    if (written != static_cast<sf_count_t>(frames) || closeError != 0)
        throw ioError("cannot write \"" + opt.output + "\"");
    file.commit();
    if (!opt.quiet)
        std::fprintf(stderr, "lintaq: wrote \"%s\": %.2f s, %s, %d Hz, %s\n", opt.output.c_str(), opt.seconds,
                     opt.channels == 2 ? "stereo" : "mono", opt.rate, describeFormat(format).c_str());
    return kExitOk;
}

}  // namespace lintaq_cli
