// Renders a fixed set of scenes through one plugin binary and writes the
// raw output floats, so the Windows build under Wine can be compared byte
// for byte with the Linux build. Built for both.
//
// usage: render_host clap|vst3|lv2 mono|stereo PLUGIN_FILE OUT_FILE
// (for LV2, the module inside its bundle)
//
// Scenes, at 44.1 and 48 kHz: the busy setting with and without
// oversampling; a quality change and an oversampling crossfade mid-stream;
// bypass.
#include <cstdio>
#include <cstring>
#include <memory>

#include "clap_host.h"
#include "lv2_direct_host.h"
#include "vst3_host.h"

namespace {

using namespace ptest;

// One host for either format, set and run the same way.
struct AnyInstance {
    std::unique_ptr<ClapModule> clapModule;
    std::unique_ptr<ClapInstance> clap;
    std::unique_ptr<Vst3Module> vst3Module;
    std::unique_ptr<Vst3Instance> vst3;
    std::unique_ptr<Lv2DirectInstance> lv2;
    Variant variant;

    AnyInstance(const std::string &format, Variant v, const std::string &path, double rate) : variant(v)
    {
        if (format == "clap") {
            clapModule = std::make_unique<ClapModule>(path);
            clap = std::make_unique<ClapInstance>(*clapModule);
            if (clap->plugin == nullptr || !clap->activate(rate))
                clap.reset();
        } else if (format == "lv2") {
            const size_t slash = path.find_last_of("/\\");
            const std::string bundle = slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
            lv2 = std::make_unique<Lv2DirectInstance>(path, bundle, v, rate);
            if (!lv2->ok())
                lv2.reset();
        } else {
            vst3Module = std::make_unique<Vst3Module>(path);
            vst3 = std::make_unique<Vst3Instance>(*vst3Module);
            if (!vst3->ok() || !vst3->activate(rate))
                vst3.reset();
        }
    }
    bool ok() const { return clap != nullptr || vst3 != nullptr || lv2 != nullptr; }
    void set(uint32_t index, float value)
    {
        if (clap)
            clap->set(index, value);
        else if (lv2)
            lv2->set(index, value);
        else
            vst3->set(index, variant, value);
    }
    void process(Channels &io, uint32_t block)
    {
        if (clap)
            clap->process(io, block);
        else if (lv2)
            lv2->process(io, block);
        else
            vst3->process(io, static_cast<int32_t>(block));
    }
};

bool write(std::FILE *f, const Channels &io)
{
    for (const auto &ch : io)
        if (std::fwrite(ch.data(), sizeof(float), ch.size(), f) != ch.size())
            return false;
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5 || (std::strcmp(argv[1], "clap") != 0 && std::strcmp(argv[1], "vst3") != 0 &&
                      std::strcmp(argv[1], "lv2") != 0)) {
        std::fprintf(stderr, "usage: render_host clap|vst3|lv2 mono|stereo PLUGIN_FILE OUT_FILE\n");
        return 2;
    }
    const std::string format = argv[1], path = argv[3];
    const Variant v = std::strcmp(argv[2], "stereo") == 0 ? Variant::stereo : Variant::mono;
    std::FILE *out = std::fopen(argv[4], "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "render_host: cannot write %s\n", argv[4]);
        return 1;
    }
    const size_t length = static_cast<size_t>(modeLatency(3)) + 6000;
    bool ok = true;
    for (int rate : {44100, 48000}) {
        for (int scene = 0; scene < 4 && ok; ++scene) {
            AnyInstance p(format, v, path, rate);
            if (!p.ok()) {
                std::fprintf(stderr, "render_host: cannot load %s\n", path.c_str());
                return 1;
            }
            Values x = busy(v, scene == 2 ? 2 : 3);
            x[kOversample] = scene == 1 ? 1.0f : 0.0f;
            x[kBypass] = scene == 3 ? 1.0f : 0.0f;
            for (uint32_t i = 0; i < kParamCount; ++i)
                p.set(i, x[i]);
            Channels io = noiseSignal(channelsOf(v), length, 10);
            p.process(io, 997);
            ok = write(out, io);
            if (scene == 2) { // quality 2 -> 3, then the oversampling crossfade
                p.set(kQuality, 3);
                Channels more = noiseSignal(channelsOf(v), length, 20);
                p.process(more, 512);
                p.set(kOversample, 1);
                Channels last = noiseSignal(channelsOf(v), 3 * length, 30);
                p.process(last, 1024);
                ok = ok && write(out, more) && write(out, last);
            }
        }
    }
    ok = std::fclose(out) == 0 && ok;
    if (!ok)
        std::fprintf(stderr, "render_host: cannot write %s\n", argv[4]);
    return ok ? 0 : 1;
}
