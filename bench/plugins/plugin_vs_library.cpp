// What the plugin costs beyond the engine: the stereo CLAP plugin (loaded by
// its entry point, as a DAW does) against the library called directly, on
// the same twelve-band curve, the same signal and block size. Passes
// alternate between the two and the median of each is reported, with the
// ratio taken within this one run (the machine is shared and noisy).
//
// usage: bench_plugin_vs_library [SECONDS] [BLOCK] [PASSES] [QUALITY] [OVERSAMPLE] [EVEN_LOAD]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "clap_host.h"

namespace {

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    using namespace ptest;
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    const uint32_t block = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 512;
    const int passes = argc > 3 ? std::atoi(argv[3]) : 5;
    const int quality = argc > 4 ? std::atoi(argv[4]) : 2;
    const bool oversample = argc > 5 && std::atoi(argv[5]) != 0;
    const bool evenLoad = argc <= 6 || std::atoi(argv[6]) != 0; // the plugin's default
    const int rate = 48000;
    Values x = busy(Variant::stereo, quality);
    x[kOversample] = oversample ? 1.0f : 0.0f;
    x[kEvenLoad] = evenLoad ? 1.0f : 0.0f;
    const Channels signal = testSignal(2, static_cast<size_t>(seconds * rate), 0, rate);

    std::vector<double> library, plugin;
    for (int pass = 0; pass < passes; ++pass) {
        {
            PeqInstance *e = newEngine(quality, evenLoad, true);
            const PeqParams p = engineParams(x, rate);
            LintaqSetPar(e, &p);
            Channels io = signal;
            const double t0 = cpuSeconds();
            for (size_t pos = 0; pos < io[0].size(); pos += block) {
                const int n = static_cast<int>(std::min<size_t>(block, io[0].size() - pos));
                LintaqProcST(e, io[0].data() + pos, io[1].data() + pos, n);
            }
            library.push_back(cpuSeconds() - t0);
            LintaqExit(e);
        }
        {
            ClapModule module(std::string(LINTAQ_CLAP_DIR) + "/lintaq-stereo.clap");
            ClapInstance p(module);
            if (p.plugin == nullptr || !p.activate(rate, block)) {
                std::fprintf(stderr, "cannot load the CLAP plugin\n");
                return 1;
            }
            p.setAll(x);
            p.flush();
            Channels io = signal;
            const double t0 = cpuSeconds();
            p.process(io, block);
            plugin.push_back(cpuSeconds() - t0);
        }
    }
    const double perMinute = 60.0 / seconds;
    std::printf("quality %d, oversample %d, even load %d, %g s stereo at %d Hz, blocks of %u, median of %d passes\n",
                quality, oversample ? 1 : 0, evenLoad ? 1 : 0, seconds, rate, block, passes);
    std::printf("library direct: %.3f s CPU per minute of audio\n", median(library) * perMinute);
    std::printf("CLAP plugin:    %.3f s CPU per minute of audio\n", median(plugin) * perMinute);
    std::printf("plugin / library: %.4f (ratio of medians)\n", median(plugin) / median(library));
    // Each pass's pair ran back to back, so its ratio sees the least drift
    // in the machine's load.
    std::vector<double> ratios;
    for (size_t i = 0; i < plugin.size(); ++i)
        ratios.push_back(plugin[i] / library[i]);
    std::sort(ratios.begin(), ratios.end());
    std::printf("plugin / library: %.4f (median of paired passes; lowest %.4f, highest %.4f)\n", median(ratios),
                ratios.front(), ratios.back());
    return 0;
}
