#include "process.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
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
// sample i.
class AlignedEqualiser {
public:
    AlignedEqualiser(const PeqParams &params, int mode, int channels)
        : channels_(channels), engine_(LintaqInit(mode, channels == 2 ? 1 : 0))
    {
        if (!engine_) throw ioError("out of memory creating the equaliser");
        LintaqSetPar(engine_.get(), &params);
        toSkip_ = LintaqGetLatency(engine_.get());
        latency_ = toSkip_;
        left_.resize(kBlock);
        right_.resize(kBlock);
    }
    int latency() const { return latency_; }

    // Equalises `frames` interleaved frames in place; returns how many of
    // them are output (the rest of the buffer is unused).
    int run(float *interleaved, int frames)
    {
        for (int i = 0; i < frames; ++i) {
            left_[i] = interleaved[i * channels_];
            if (channels_ == 2) right_[i] = interleaved[i * 2 + 1];
        }
        if (channels_ == 2)
            LintaqProcST(engine_.get(), left_.data(), right_.data(), frames);
        else
            LintaqProc(engine_.get(), left_.data(), frames);
        const int skip = frames < toSkip_ ? frames : toSkip_;
        toSkip_ -= skip;
        const int kept = frames - skip;
        for (int i = 0; i < kept; ++i) {
            interleaved[i * channels_] = left_[skip + i];
            if (channels_ == 2) interleaved[i * 2 + 1] = right_[skip + i];
        }
        return kept;
    }

private:
    int channels_;
    std::unique_ptr<PeqInstance, EngineDeleter> engine_;
    int toSkip_ = 0;
    int latency_ = 0;
    std::vector<float> left_, right_;
};

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
    if (channels != 1 && channels != 2)
        throw usageError("\"" + opt.input + "\" has " + std::to_string(channels) +
                         " channels; lintaq equalises mono and stereo files only");
    validateForRate(settings, rate);
    if (channels == 1) warnMonoRouting(settings);
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
    Progress progress(!opt.quiet && isatty(STDERR_FILENO) && duration > kProgressAfterSeconds, duration);
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
                      channels == 2 ? "stereo" : "mono", rate, describeFormat(format).c_str(),
                      settings.mode, params.oversample ? "2x" : "off", settings.noise ? "on" : "off",
                      elapsed, elapsed > 0 ? static_cast<double>(written) / rate / elapsed : 0.0, level.c_str());
        std::fputs(line, stderr);
    }
    return kExitOk;
}

}  // namespace lintaq_cli
