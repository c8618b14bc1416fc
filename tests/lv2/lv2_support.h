// What the LV2 tests share: plugin settings in the tests' own terms, WAV
// files, the library's own output as the reference, and a small in-process
// host on liblilv.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <lilv/lilv.h>

#include "lintaq.h"

namespace lv2test {

inline constexpr const char *kMonoUri = "urn:lintaq:lv2:mono";
inline constexpr const char *kStereoUri = "urn:lintaq:lv2:stereo";
inline constexpr int kRate = 48000;

using Channels = std::vector<std::vector<float>>;

struct Band {
    int enable = 0;
    int type = LINTAQ_PEAK;
    float freq = 1000.0f, gain = 0.0f, q = 1.0f;
};

struct Settings {
    int quality = 3;
    bool oversample = false;
    bool noise = false;
    std::array<Band, LINTAQ_BANDS> bands{};
};

// A busy twelve-band setting: every type, boosts and cuts, and in stereo
// every routing, so a wrong port index or routing shows in the output.
Settings twelveBands(bool stereo);

// The parameter block the plugin should hand the engine for these settings.
PeqParams toParams(const Settings &s, int rate = kRate);

// Control values by port symbol, as a host is given them.
std::vector<std::pair<std::string, float>> toControls(const Settings &s);

// Deterministic noise with a few tones, amplitude below 0.5; channels differ.
Channels testSignal(int channels, int frames, uint32_t seed = 1);

// The library's output for one block of the whole signal.
Channels libraryOutput(const PeqParams &p, int mode, Channels input);

// WAV through libsndfile; format is an SF_FORMAT_* subtype (FLOAT, PCM_16...).
void writeWav(const std::string &path, const Channels &ch, int rate, int subtype);
Channels readWav(const std::string &path, int *rate = nullptr);

// A scratch folder for one test, removed with it.
struct TempDir {
    TempDir();
    ~TempDir();
    std::string path;
    std::string file(const std::string &name) const { return path + "/" + name; }
};

// The build-tree bundle, loaded into a private lilv world (no LV2_PATH).
struct World {
    World();
    ~World();
    World(const World &) = delete;
    World &operator=(const World &) = delete;
    const LilvPlugin *plugin(const char *uri) const;
    LilvWorld *world;
    LilvNode *bundle;
};
World &sharedWorld();

// One plugin instance driven by hand: controls by symbol, audio buffers
// connected per call, so tests choose in-place or separate buffers.
class Runner {
public:
    Runner(const char *uri, double rate = kRate);
    ~Runner();
    Runner(const Runner &) = delete;
    Runner &operator=(const Runner &) = delete;

    bool ok() const { return instance_ != nullptr; }
    void set(const std::string &symbol, float value);
    void apply(const Settings &s);
    void activate();
    void deactivate();
    // in and out hold one pointer per channel; they may alias.
    void run(const std::vector<float *> &in, const std::vector<float *> &out, uint32_t n);
    float latency() const { return latency_; }
    int channels() const { return channels_; }

private:
    const LilvPlugin *plugin_;
    LilvInstance *instance_ = nullptr;
    std::vector<float> controls_;
    std::vector<uint32_t> audioIn_, audioOut_;
    float latency_ = -1.0f;
    int channels_ = 0;
    bool active_ = false;
};

// Runs the plugin over whole channels in blocks of the given sizes (cycled),
// with separate input and output buffers; returns the output.
Channels runInBlocks(Runner &r, const Channels &input, const std::vector<uint32_t> &blocks);

} // namespace lv2test
