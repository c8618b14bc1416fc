// lintaq: equalise audio files with the Lintaq engine and draw its curve.
// The command line is parsed by CLI11 (Debian: libcli11-dev).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "audio_file.h"
#include "curve.h"
#include "demo.h"
#include "errors.h"
#include "lintaq.h"
#include "process.h"
#include "settings.h"

using namespace lintaq_cli;

namespace {

const char kUsage[] =
    "usage:\n"
    "  lintaq process IN OUT [settings] [--format NAME] [--float] [--overwrite] [--quiet]\n"
    "  lintaq process IN... -d FOLDER [-j JOBS] [settings] [--format NAME] [--float] [--quiet]\n"
    "  lintaq curve [settings] -o CURVE.svg [--rate HZ] [--measured] [--channel VIEW]\n"
    "               [--db-range DB] [--points N]\n"
    "  lintaq info [--rate HZ]\n"
    "  lintaq preset [settings]            print the settings as a JSON preset\n"
    "  lintaq generate-demo OUT [--seconds S] [--rate HZ] [--channels 1|2] [--format NAME] [--float]\n"
    "  lintaq COMMAND --help               one command's options\n"
    "\n"
    "settings (with none, the built-in \"smile\" preset is used):\n"
    "  --preset FILE        bands and options from a JSON preset\n"
    "  --builtin NAME       a built-in preset: smile, flat\n"
    "  --band BAND          add a band (repeatable, up to 12 in all), BAND is\n"
    "                       TYPE,freq=HZ[,gain=DB][,q=Q][,channel=CH][,off]\n"
    "                       TYPE: peak lowshelf highshelf highpass lowpass\n"
    "                       CH: both left right mid side (default both)\n"
    "                       e.g. --band peak,freq=3.2k,gain=-4,q=2\n"
    "  --mode 0..3          latency/quality: 0 longest lookahead (best for low, narrow\n"
    "                       bands), 3 shortest; default 2\n"
    "  --oversample, --no-oversample   run the filters at twice the rate below\n"
    "                       64000 Hz (default on)\n"
    "  --noise, --no-noise  tiny frame noise from a process-wide sequence (default off)\n"
    "\n"
    "process: keeps the input's length, rate and channels and is aligned sample for\n"
    "  sample with it; files with more than two channels run channel by channel. The\n"
    "  format follows --format (wav w64 rf64 aiff caf au flac ogg opus mp3), else OUT's\n"
    "  extension, else the input's. --float writes 32-bit float samples. OUT may be the\n"
    "  input only with --overwrite. With -d FOLDER, every IN is written to FOLDER under\n"
    "  its own name, JOBS files at a time (default: one per processor core).\n"
    "curve: views are auto, left, right, mid, side, mono; --measured overlays the\n"
    "  response measured from the engine's impulse response. -o - writes to stdout.\n"
    "exit status: 0 done, 1 a file could not be read or written, 2 bad usage or settings\n";

struct SettingsBuilder {
    std::optional<std::string> presetFile, builtin;
    std::vector<std::string> bands;
    std::optional<int> mode;
    std::optional<bool> oversample, noise;

    Settings build() const
    {
        if (presetFile && builtin) throw usageError("give either --preset or --builtin, not both");
        Settings s;
        if (presetFile) s = loadPresetFile(*presetFile);
        else if (builtin) s = builtinPreset(*builtin);
        else if (bands.empty()) s = builtinPreset("smile");
        for (std::size_t i = 0; i < bands.size(); ++i)
            s.bands.push_back(parseBandOption(bands[i], static_cast<int>(i + 1)));
        if (mode) s.mode = *mode;
        if (oversample) s.oversample = *oversample;
        if (noise) s.noise = *noise;
        return s;
    }
};

// The settings options every command that equalises takes.
struct SettingsOptions {
    SettingsBuilder b;
    bool oversample = true, noise = false;
    CLI::Option *oversampleOpt = nullptr, *noiseOpt = nullptr;

    void addTo(CLI::App &app)
    {
        app.add_option("--preset", b.presetFile, "bands and options from a JSON preset")->type_name("FILE");
        app.add_option("--builtin", b.builtin, "a built-in preset: smile, flat")->type_name("NAME");
        // One value per --band, so a band never swallows the file names after it.
        app.add_option("--band", b.bands, "add a band: TYPE,freq=HZ[,gain=DB][,q=Q][,channel=CH][,off]")
            ->type_name("BAND")->allow_extra_args(false);
        app.add_option("--mode", b.mode, "0 (longest lookahead) .. 3 (shortest latency); default 2")
            ->type_name("0..3");
        oversampleOpt = app.add_flag("--oversample,!--no-oversample", oversample,
                                     "run the filters at twice the rate below 64000 Hz (default on)")
                            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        noiseOpt = app.add_flag("--noise,!--no-noise", noise, "tiny frame noise (default off)")
                       ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    }
    Settings build()
    {
        if (oversampleOpt->count() > 0) b.oversample = oversample;
        if (noiseOpt->count() > 0) b.noise = noise;
        return b.build();
    }
};

int commandInfo(int rate)
{
    if (rate <= 0) throw usageError("--rate must be above 0");
    const int v = LintaqGetVersion();
    std::printf("lintaq %s, engine %d.%d.%d (0x%x)\n", LINTAQ_CLI_VERSION, v >> 16, (v >> 8) & 0xff, v & 0xff,
                static_cast<unsigned>(v));
    std::printf("at %d Hz: 2x oversampling %s; bands must lie below %.1f Hz\n", rate,
                rate < kOversampleBelowRate ? "available" : "not available (64000 Hz and above)",
                static_cast<double>(bandLimitHz(rate)));
    std::printf("mode  latency\n");
    for (int mode = 0; mode <= 3; ++mode) {
        PeqInstance *eq = LintaqInit(mode, 0);
        if (eq == nullptr) throw ioError("out of memory creating the equaliser");
        const int latency = LintaqGetLatency(eq);
        LintaqExit(eq);
        std::printf("  %d   %6d samples  %8.2f ms%s\n", mode, latency, 1000.0 * latency / rate,
                    mode == 2 ? "  (default)" : "");
    }
    return kExitOk;
}

int run(int argc, char **argv)
{
    CLI::App app{"lintaq: equalise audio files with the Lintaq engine and draw its curve", "lintaq"};
    app.set_help_flag("-h,--help", "this help");
    app.set_version_flag("--version", std::string("lintaq ") + LINTAQ_CLI_VERSION);
    app.require_subcommand(1, 1);

    CLI::App *process = app.add_subcommand("process", "equalise audio files, aligned sample for sample");
    SettingsOptions processSettings;
    processSettings.addTo(*process);
    ProcessOptions popt;
    BatchOptions batch;
    std::vector<std::string> files;
    process->add_option("files", files, "IN OUT, or with -d every IN")->type_name("FILE")->required();
    process->add_option("-d,--out-dir", batch.outputFolder, "write every IN to this folder, under its own name")
        ->type_name("FOLDER");
    process->add_option("-j,--jobs", batch.jobs, "files equalised at a time with -d (default: one per core)")
        ->type_name("N")->check(CLI::Range(1, kMaxJobs));
    process->add_option("--format", popt.format, "wav w64 rf64 aiff caf au flac ogg opus mp3")->type_name("NAME");
    process->add_flag("--float", popt.floatSamples, "write 32-bit float samples");
    process->add_flag("--overwrite", popt.overwrite, "allow OUT to be the input file");
    process->add_flag("-q,--quiet", popt.quiet, "no progress and no summary line");

    CLI::App *curve = app.add_subcommand("curve", "draw the equaliser's curve as an SVG picture");
    SettingsOptions curveSettings;
    curveSettings.addTo(*curve);
    CurveOptions copt;
    std::vector<std::string> curveExtra;
    curve->add_option("-o,--output", copt.output, "the SVG file, - for standard output")->type_name("CURVE.svg");
    curve->add_option("--rate", copt.rate, "sample rate in Hz (default 48000)")->type_name("HZ");
    curve->add_flag("--measured", copt.measured, "overlay the engine's measured response");
    curve->add_option("--channel", copt.channel, "auto, left, right, mid, side, mono")->type_name("VIEW");
    curve->add_option("--points", copt.points, "points on the curve")->type_name("N");
    curve->add_option("--db-range", copt.dbRange, "dB above and below 0 (0 to 120)")->type_name("DB");
    curve->add_flag("-q,--quiet", copt.quiet, "no summary line");
    curve->add_option("extra", curveExtra)->group("");

    CLI::App *info = app.add_subcommand("info", "version, latencies and band limit");
    int infoRate = 48000;
    info->add_option("--rate", infoRate, "sample rate in Hz (default 48000)")->type_name("HZ");

    CLI::App *preset = app.add_subcommand("preset", "print the settings as a JSON preset");
    SettingsOptions presetSettings;
    presetSettings.addTo(*preset);

    CLI::App *demo = app.add_subcommand("generate-demo", "write a short piece of test music");
    DemoOptions dopt;
    demo->add_option("OUT", dopt.output, "the audio file to write")->required();
    demo->add_option("--seconds", dopt.seconds, "length (default 8)")->type_name("S");
    demo->add_option("--rate", dopt.rate, "sample rate in Hz")->type_name("HZ");
    demo->add_option("--channels", dopt.channels, "1 or 2")->type_name("1|2");
    demo->add_option("--format", dopt.format, "wav w64 rf64 aiff caf au flac ogg opus mp3")->type_name("NAME");
    demo->add_flag("--float", dopt.floatSamples, "write 32-bit float samples");
    demo->add_flag("-q,--quiet", dopt.quiet, "no summary line");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        const auto chosen = app.get_subcommands();
        if (chosen.empty()) std::fputs(kUsage, stdout);
        else std::cout << chosen.front()->help();
        return kExitOk;
    } catch (const CLI::CallForVersion &e) {
        std::printf("%s\n", e.what());
        return kExitOk;
    } catch (const CLI::ParseError &e) {
        const auto chosen = app.get_subcommands();
        const std::string see = chosen.empty() ? "lintaq --help" : "lintaq " + chosen.front()->get_name() + " --help";
        throw usageError(std::string(e.what()) + " (see " + see + ")");
    }

    installInterruptCleanup();
    if (process->parsed()) {
        popt.settings = processSettings.build();
        if (!batch.outputFolder.empty()) {
            batch.inputs = files;
            batch.common = popt;
            return runBatch(batch);
        }
        if (files.size() != 2) throw usageError("process needs an input and an output file: lintaq process IN OUT "
                                                "(or many inputs and -d FOLDER)");
        popt.input = files[0];
        popt.output = files[1];
        return runProcess(popt);
    }
    if (curve->parsed()) {
        for (const std::string &a : curveExtra) {
            if (a != "-") throw usageError("curve takes no file name without -o: \"" + a + "\"");
            copt.output = a;
        }
        if (!(copt.dbRange >= 0.0 && copt.dbRange <= 120.0)) throw usageError("--db-range must lie from 0 to 120 dB");
        copt.settings = curveSettings.build();
        return runCurve(copt);
    }
    if (info->parsed()) return commandInfo(infoRate);
    if (preset->parsed()) {
        const Settings s = presetSettings.build();
        validateSettings(s);
        std::fputs(presetToJson(s).c_str(), stdout);
        return kExitOk;
    }
    return runGenerateDemo(dopt);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    if (command == "help") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    static const char *const kCommands[] = {"process", "curve", "info", "preset", "generate-demo"};
    if (command[0] != '-' && std::find(std::begin(kCommands), std::end(kCommands), command) == std::end(kCommands)) {
        std::fprintf(stderr, "lintaq: error: unknown command \"%s\" (process, curve, info, preset, generate-demo; "
                     "see lintaq --help)\n", command.c_str());
        return kExitUsage;
    }
    try {
        return run(argc, argv);
    } catch (const CliError &e) {
        std::fprintf(stderr, "lintaq: error: %s\n", e.what());
        return e.code;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "lintaq: error: out of memory\n");
        return kExitFailure;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "lintaq: error: %s\n", e.what());
        return kExitFailure;
    }
}
