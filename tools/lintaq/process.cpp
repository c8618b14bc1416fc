#include "process.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "audio_file.h"
#include "errors.h"

namespace lintaq_cli {
namespace {

constexpr int kBlock = 8192;
constexpr double kProgressAfterSeconds = 5.0;

std::string clock(double seconds)
{
    char buf[32];
    if (seconds < 60.0)
        std::snprintf(buf, sizeof buf, "%.2f s", seconds);
    else
        std::snprintf(buf, sizeof buf, "%d:%04.1f", static_cast<int>(seconds / 60.0),
                      std::fmod(seconds, 60.0));
    return buf;
}

struct EngineDeleter {
    void operator()(PeqInstance *p) const { LintaqExit(p); }
};

// Runs the engine over the stream, trimming its latency at the start and
// flushing it with silence at the end, so output sample i carries input
// sample i. Mono and stereo streams take one instance; wider ones one mono
// instance per channel, each channel as a mono file would be.
class AlignedEqualiser {
public:
    AlignedEqualiser(const PeqParams &params, int mode, int channels) : channels_(channels)
    {
        const int instances = channels == 2 ? 1 : channels;
        for (int k = 0; k < instances; ++k) {
            engines_.emplace_back(LintaqInit(mode, channels == 2 ? 1 : 0));
            if (!engines_.back()) throw ioError("out of memory creating the equaliser");
            LintaqSetPar(engines_.back().get(), &params);
        }
        toSkip_ = LintaqGetLatency(engines_.front().get());
        planar_.resize(static_cast<std::size_t>(kBlock) * channels);
    }

    // Equalises `frames` interleaved frames in place; returns how many of
    // them are output (the rest of the buffer is unused).
    int run(float *interleaved, int frames)
    {
        const auto row = [&](int c) { return planar_.data() + static_cast<std::size_t>(c) * kBlock; };
        for (int c = 0; c < channels_; ++c)
            for (int i = 0; i < frames; ++i) row(c)[i] = interleaved[i * channels_ + c];
        if (channels_ == 2)
            LintaqProcST(engines_[0].get(), row(0), row(1), frames);
        else
            for (int c = 0; c < channels_; ++c) LintaqProc(engines_[c].get(), row(c), frames);
        const int skip = frames < toSkip_ ? frames : toSkip_;
        toSkip_ -= skip;
        const int kept = frames - skip;
        for (int c = 0; c < channels_; ++c)
            for (int i = 0; i < kept; ++i) interleaved[i * channels_ + c] = row(c)[skip + i];
        return kept;
    }

private:
    int channels_;
    std::vector<std::unique_ptr<PeqInstance, EngineDeleter>> engines_;
    int toSkip_ = 0;
    std::vector<float> planar_;
};

std::string channelsName(int channels)
{
    if (channels == 1) return "mono";
    if (channels == 2) return "stereo";
    return std::to_string(channels) + " channels, each as mono";
}

std::string minutes(double seconds)
{
    char buf[32];
    const int whole = static_cast<int>(seconds);
    std::snprintf(buf, sizeof buf, "%d:%02d", whole / 60, whole % 60);
    return buf;
}

class Progress {
public:
    Progress(bool show, double totalSeconds) : show_(show), total_(totalSeconds) {}
    void update(double doneSeconds)
    {
        if (!show_) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(200)) return;
        last_ = now;
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        const double left = doneSeconds > 0 ? elapsed * (total_ - doneSeconds) / doneSeconds : 0.0;
        std::fprintf(stderr, "\rlintaq: %3.0f%%  %s of %s, about %s left ", 100.0 * doneSeconds / total_,
                     minutes(doneSeconds).c_str(), minutes(total_).c_str(), minutes(left + 0.5).c_str());
        std::fflush(stderr);
    }
    void finish()
    {
        if (show_) std::fprintf(stderr, "\r\033[K");
    }

private:
    bool show_;
    double total_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), last_{};
};

}  // namespace

int runProcess(const ProcessOptions &opt)
{
    const Settings &settings = opt.settings;
    validateSettings(settings);

    InputFile in(opt.input);
    const SF_INFO &inInfo = in.info();
    const int channels = inInfo.channels;
    const int rate = inInfo.samplerate;
    validateForRate(settings, rate);
    if (channels != 2) warnMonoRouting(settings, channels);
    const int format = chooseOutputFormat(inInfo.format, opt.output, opt.format, opt.floatSamples, rate, channels);

    SafeOutput out(opt.output, &in.fileStat(), opt.overwrite);
    SF_INFO outInfo{};
    outInfo.samplerate = rate;
    outInfo.channels = channels;
    outInfo.format = format;
    SNDFILE *outSf = openSoundOutput(out, outInfo);
    struct Closer {
        SNDFILE *&sf;
        ~Closer() { if (sf) sf_close(sf); }
    } closer{outSf};
    // No PEAK chunk: it records the time of writing, and the same input and
    // settings must give the same bytes (batches compare against single runs).
    sf_command(outSf, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    const bool integer = isIntegerEncoding(format);
    // Without this, libsndfile wraps out-of-range floats around in integer formats.
    if (integer) sf_command(outSf, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    for (int s = SF_STR_FIRST; s <= SF_STR_LAST; ++s)
        if (const char *text = sf_get_string(in.handle(), s)) sf_set_string(outSf, s, text);

    const PeqParams params = toParams(settings, rate);
    AlignedEqualiser eq(params, settings.mode, channels);

    const sf_count_t totalFrames = inInfo.frames;
    const double duration = static_cast<double>(totalFrames) / rate;
    Progress progress(opt.sink == nullptr && !opt.quiet && isatty(STDERR_FILENO) && duration > kProgressAfterSeconds,
                      duration);
    const auto started = std::chrono::steady_clock::now();

    std::vector<float> buf(static_cast<std::size_t>(kBlock) * channels);
    sf_count_t readFrames = 0, written = 0, nonFinite = 0, firstNonFinite = -1, clipped = 0;
    float peak = 0.0f;
    sf_count_t limit = totalFrames;  // output frames wanted: as many as were read
    auto emit = [&](int kept) {
        if (kept <= 0) return;
        const int take = static_cast<int>(std::min<sf_count_t>(kept, limit - written));
        for (int i = 0; i < take * channels; ++i) {
            const float a = std::fabs(buf[i]);
            if (a > peak) peak = a;
            if (a > 1.0f) ++clipped;
        }
        if (sf_writef_float(outSf, buf.data(), take) != take)
            throw ioError("cannot write \"" + opt.output + "\": " + sf_strerror(outSf));
        written += take;
    };

    while (readFrames < totalFrames) {
        const sf_count_t got = sf_readf_float(in.handle(), buf.data(), kBlock);
        if (got <= 0) {
            // A header may promise more than the file holds: stop at the end
            // of the audio and keep the output as long as what was read.
            break;
        }
        for (sf_count_t i = 0; i < got * channels; ++i) {
            // The engine's filters carry their state from frame to frame, so
            // one NaN would spoil everything after it.
            if (!std::isfinite(buf[i])) {
                if (firstNonFinite < 0) firstNonFinite = readFrames + i / channels;
                ++nonFinite;
                buf[i] = 0.0f;
            }
        }
        readFrames += got;
        emit(eq.run(buf.data(), static_cast<int>(got)));
        progress.update(static_cast<double>(readFrames) / rate);
        if (opt.sink) opt.sink->advance(static_cast<double>(got) / rate);
    }
    // Silence pushes the last input samples out through the latency.
    limit = readFrames;
    while (written < limit) {
        std::fill(buf.begin(), buf.end(), 0.0f);
        emit(eq.run(buf.data(), kBlock));
    }
    progress.finish();
    if (readFrames < totalFrames)
        warn("\"" + opt.input + "\" ended after " + std::to_string(readFrames) + " of the " +
             std::to_string(totalFrames) + " frames its header announces; the output has " +
             std::to_string(readFrames));

    if (sf_close(outSf) != 0) {
        outSf = nullptr;
        throw ioError("cannot finish \"" + opt.output + "\"");
    }
    outSf = nullptr;
    out.commit();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    if (nonFinite > 0) {
        char where[64];
        std::snprintf(where, sizeof where, "%.3f s", static_cast<double>(firstNonFinite) / rate);
        warn("the input held " + std::to_string(nonFinite) +
             " non-finite sample(s) (NaN or infinity, the first at " + where +
             "); they were replaced by silence");
    }
    if (!opt.quiet) {
        char line[512];
        const double peakDb = peak > 0.0f ? 20.0 * std::log10(static_cast<double>(peak)) : -INFINITY;
        std::string level;
        char peakText[32];
        if (std::isinf(peakDb))
            std::snprintf(peakText, sizeof peakText, "silent");
        else
            std::snprintf(peakText, sizeof peakText, "peak %+.1f dBFS", peakDb);
        level = peakText;
        if (integer)
            level += clipped > 0 ? ", CLIPPED " + std::to_string(clipped) + " sample(s) (try --float)"
                                 : ", no clipping";
        else if (peak > 1.0f)
            level += ", above full scale (kept: float output)";
        std::snprintf(line, sizeof line,
                      "lintaq: wrote \"%s\": %s, %s, %d Hz, %s; mode %d, oversampling %s, noise %s; "
                      "took %.2f s (%.0fx real time); %s\n",
                      opt.output.c_str(), clock(static_cast<double>(written) / rate).c_str(),
                      channelsName(channels).c_str(), rate, describeFormat(format).c_str(),
                      settings.mode, params.oversample ? "2x" : "off", settings.noise ? "on" : "off",
                      elapsed, elapsed > 0 ? static_cast<double>(written) / rate / elapsed : 0.0, level.c_str());
        if (opt.sink) opt.sink->line(line);
        else std::fputs(line, stderr);
    }
    return kExitOk;
}

namespace {

// One bar for a whole batch: seconds of audio done out of the total.
class BatchProgress : public ProgressSink {
public:
    BatchProgress(bool show, double totalSeconds, std::size_t files) : bar_(show, totalSeconds), files_(files) {}
    void advance(double seconds) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ += seconds;
        bar_.update(done_);
    }
    void line(const std::string &text) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bar_.finish();
        std::fputs(text.c_str(), stderr);
    }
    void finish()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bar_.finish();
    }

private:
    std::mutex mutex_;
    Progress bar_;
    std::size_t files_;
    double done_ = 0.0;
};

std::string baseName(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

double secondsIn(const std::string &path)
{
    SF_INFO info{};
    SNDFILE *sf = sf_open(path.c_str(), SFM_READ, &info);
    if (sf == nullptr) return 0.0;
    sf_close(sf);
    return info.samplerate > 0 ? static_cast<double>(info.frames) / info.samplerate : 0.0;
}

}  // namespace

int runBatch(const BatchOptions &opt)
{
    validateSettings(opt.common.settings);
    struct stat st {};
    if (::stat(opt.outputFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw ioError("output folder \"" + opt.outputFolder + "\" does not exist");
    // Each input keeps its name; two with one name would overwrite each other.
    std::set<std::string> names;
    std::vector<ProcessOptions> runs;
    for (const std::string &in : opt.inputs) {
        ProcessOptions run = opt.common;
        run.input = in;
        run.output = opt.outputFolder + (opt.outputFolder.back() == '/' ? "" : "/") + baseName(in);
        if (!names.insert(baseName(in)).second)
            throw usageError("two inputs are named \"" + baseName(in) + "\"; their outputs would collide in \"" +
                             opt.outputFolder + "\"");
        runs.push_back(run);
    }
    double total = 0.0;
    for (const std::string &in : opt.inputs) total += secondsIn(in);
    BatchProgress progress(!opt.common.quiet && isatty(STDERR_FILENO) && total > kProgressAfterSeconds, total,
                           runs.size());
    for (ProcessOptions &run : runs) run.sink = &progress;

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t jobs = std::min<std::size_t>(runs.size(), opt.jobs > 0 ? opt.jobs : std::min<unsigned>(cores, kMaxJobs));
    std::vector<std::string> failures(runs.size());
    std::vector<int> codes(runs.size(), kExitOk);
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < runs.size();) {
            try {
                codes[i] = runProcess(runs[i]);
            } catch (const CliError &e) {
                failures[i] = e.what(), codes[i] = e.code;
            } catch (const std::bad_alloc &) {
                failures[i] = "out of memory", codes[i] = kExitFailure;
            } catch (const std::exception &e) {
                failures[i] = e.what(), codes[i] = kExitFailure;
            }
        }
    };
    std::vector<std::thread> threads;
    for (std::size_t t = 1; t < jobs; ++t) threads.emplace_back(work);
    work();
    for (std::thread &t : threads) t.join();
    progress.finish();

    int worst = kExitOk, failed = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (codes[i] == kExitOk) continue;
        ++failed;
        worst = std::max(worst, codes[i]);
        std::fprintf(stderr, "lintaq: error: \"%s\": %s\n", runs[i].input.c_str(), failures[i].c_str());
    }
    if (failed > 0)
        std::fprintf(stderr, "lintaq: %d of %zu files failed; the others were written\n", failed, runs.size());
    return worst;
}

}  // namespace lintaq_cli
