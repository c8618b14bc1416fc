// lintaq: equalise audio files with the Lintaq engine and draw its curve.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
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
    "  lintaq curve [settings] -o CURVE.svg [--rate HZ] [--measured] [--channel VIEW]\n"
    "               [--db-range DB] [--points N]\n"
    "  lintaq info [--rate HZ]\n"
    "  lintaq preset [settings]            print the settings as a JSON preset\n"
    "  lintaq generate-demo OUT [--seconds S] [--rate HZ] [--channels 1|2] [--format NAME] [--float]\n"
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
    "process: keeps the input's length, rate and channels (mono or stereo) and is\n"
    "  aligned sample for sample with it. The format follows --format (wav w64 rf64\n"
    "  aiff caf au flac ogg opus mp3), else OUT's extension, else the input's.\n"
    "  --float writes 32-bit float samples. OUT may be the input only with --overwrite.\n"
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

int parseInt(const std::string &text, const std::string &option)
{
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < INT_MIN || v > INT_MAX)
        throw usageError(option + ": \"" + text + "\" is not a whole number");
    return static_cast<int>(v);
}

double parseDouble(const std::string &text, const std::string &option)
{
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') throw usageError(option + ": \"" + text + "\" is not a number");
    return v;
}

// Walks a command's arguments: options with a value take it from "--x=v"
// or from the next argument.
class ArgWalker {
public:
    ArgWalker(int argc, char **argv, std::string command) : args_(argv + 2, argv + argc), command_(std::move(command)) {}
    bool next()
    {
        if (pos_ >= args_.size()) return false;
        arg_ = args_[pos_++];
        inline_.reset();
        const auto eq = arg_.find('=');
        if (arg_.rfind("--", 0) == 0 && eq != std::string::npos) {
            inline_ = arg_.substr(eq + 1);
            arg_ = arg_.substr(0, eq);
        }
        return true;
    }
    const std::string &arg() const { return arg_; }
    std::string value()
    {
        if (inline_) return *inline_;
        if (pos_ >= args_.size()) throw usageError(arg_ + " needs a value");
        return args_[pos_++];
    }
    bool isOption() const { return arg_.size() > 1 && arg_[0] == '-'; }
    [[noreturn]] void unknown() const { throw usageError("unknown option " + arg_ + " for " + command_ + " (see lintaq --help)"); }

private:
    std::vector<std::string> args_;
    std::string command_;
    std::size_t pos_ = 0;
    std::string arg_;
    std::optional<std::string> inline_;
};

bool takeSettingsOption(ArgWalker &w, SettingsBuilder &b)
{
    const std::string &a = w.arg();
    if (a == "--preset") b.presetFile = w.value();
    else if (a == "--builtin") b.builtin = w.value();
    else if (a == "--band") b.bands.push_back(w.value());
    else if (a == "--mode") b.mode = parseInt(w.value(), "--mode");
    else if (a == "--oversample") b.oversample = true;
    else if (a == "--no-oversample") b.oversample = false;
    else if (a == "--noise") b.noise = true;
    else if (a == "--no-noise") b.noise = false;
    else return false;
    return true;
}

int commandProcess(int argc, char **argv)
{
    ArgWalker w(argc, argv, "process");
    SettingsBuilder sb;
    ProcessOptions opt;
    std::vector<std::string> files;
    while (w.next()) {
        if (takeSettingsOption(w, sb)) continue;
        const std::string &a = w.arg();
        if (a == "--format") opt.format = w.value();
        else if (a == "--float") opt.floatSamples = true;
        else if (a == "--overwrite") opt.overwrite = true;
        else if (a == "--quiet" || a == "-q") opt.quiet = true;
        else if (w.isOption()) w.unknown();
        else files.push_back(a);
    }
    if (files.size() != 2) throw usageError("process needs an input and an output file: lintaq process IN OUT");
    opt.input = files[0];
    opt.output = files[1];
    opt.settings = sb.build();
    return runProcess(opt);
}

int commandCurve(int argc, char **argv)
{
    ArgWalker w(argc, argv, "curve");
    SettingsBuilder sb;
    CurveOptions opt;
    while (w.next()) {
        if (takeSettingsOption(w, sb)) continue;
        const std::string &a = w.arg();
        if (a == "-o" || a == "--output") opt.output = w.value();
        else if (a == "--rate") opt.rate = parseInt(w.value(), "--rate");
        else if (a == "--measured") opt.measured = true;
        else if (a == "--channel") opt.channel = w.value();
        else if (a == "--points") opt.points = parseInt(w.value(), "--points");
        else if (a == "--db-range") opt.dbRange = parseDouble(w.value(), "--db-range");
        else if (a == "--quiet" || a == "-q") opt.quiet = true;
        else if (a == "-") opt.output = a;
        else if (w.isOption()) w.unknown();
        else throw usageError("curve takes no file name without -o: \"" + a + "\"");
    }
    if (!(opt.dbRange >= 0.0 && opt.dbRange <= 120.0)) throw usageError("--db-range must lie from 0 to 120 dB");
    opt.settings = sb.build();
    return runCurve(opt);
}

int commandInfo(int argc, char **argv)
{
    ArgWalker w(argc, argv, "info");
    int rate = 48000;
    while (w.next()) {
        if (w.arg() == "--rate") rate = parseInt(w.value(), "--rate");
        else w.unknown();
    }
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

int commandPreset(int argc, char **argv)
{
    ArgWalker w(argc, argv, "preset");
    SettingsBuilder sb;
    while (w.next())
        if (!takeSettingsOption(w, sb)) w.unknown();
    const Settings s = sb.build();
    validateSettings(s);
    std::fputs(presetToJson(s).c_str(), stdout);
    return kExitOk;
}

int commandGenerateDemo(int argc, char **argv)
{
    ArgWalker w(argc, argv, "generate-demo");
    DemoOptions opt;
    std::vector<std::string> files;
    while (w.next()) {
        const std::string &a = w.arg();
        if (a == "--rate") opt.rate = parseInt(w.value(), "--rate");
        else if (a == "--seconds") opt.seconds = parseDouble(w.value(), "--seconds");
        else if (a == "--channels") opt.channels = parseInt(w.value(), "--channels");
        else if (a == "--format") opt.format = w.value();
        else if (a == "--float") opt.floatSamples = true;
        else if (a == "--quiet" || a == "-q") opt.quiet = true;
        else if (w.isOption()) w.unknown();
        else files.push_back(a);
    }
    if (files.size() != 1) throw usageError("generate-demo needs one output file: lintaq generate-demo OUT.wav");
    opt.output = files[0];
    return runGenerateDemo(opt);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h" || a == "help") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
    }
    if (command == "--version") {
        std::printf("lintaq %s\n", LINTAQ_CLI_VERSION);
        return kExitOk;
    }
    installInterruptCleanup();
    try {
        if (command == "process") return commandProcess(argc, argv);
        if (command == "curve") return commandCurve(argc, argv);
        if (command == "info") return commandInfo(argc, argv);
        if (command == "preset") return commandPreset(argc, argv);
        if (command == "generate-demo") return commandGenerateDemo(argc, argv);
        throw usageError("unknown command \"" + command + "\" (process, curve, info, preset, generate-demo; see lintaq --help)");
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
