// Audio files through libsndfile, and output that appears only when whole:
// everything is written to a temporary file beside the target and renamed
// over it at the end.
#pragma once

#include <sndfile.h>
#include <sys/stat.h>

#include <string>

namespace lintaq_cli {

class InputFile {
public:
    explicit InputFile(const std::string &path);  // reads the header only
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    SNDFILE *handle() const { return sf_; }
    const SF_INFO &info() const { return info_; }
    const struct stat &fileStat() const { return stat_; }

private:
    SNDFILE *sf_ = nullptr;
    SF_INFO info_{};
    struct stat stat_{};
};

// libsndfile format word for the output: --format NAME, else the output's
// file extension, else the input's format; the input's sample encoding
// where the container can hold it.
int chooseOutputFormat(int inputFormat, const std::string &outPath,
                       const std::string &formatOption, bool floatSamples,
                       int rate, int channels);
bool isIntegerEncoding(int format);
std::string describeFormat(int format);  // e.g. "WAV, 24 bit PCM"
std::string knownFormatNames();

class SafeOutput {
public:
    // Refuses a target that is the input (unless allowed), a folder, or in a
    // folder that does not exist; creates the temporary file.
    SafeOutput(const std::string &target, const struct stat *input, bool allowReplaceInput);
    ~SafeOutput();  // removes the temporary file unless committed
    SafeOutput(const SafeOutput &) = delete;
    SafeOutput &operator=(const SafeOutput &) = delete;

    int fd() const { return fd_; }
    const std::string &target() const { return target_; }
    void writeAll(const std::string &bytes);
    // Flushes to disk and renames over the target.
    void commit();

private:
    std::string target_;
    std::string temp_;
    int fd_ = -1;
    int slot_ = -1;  // in the interrupt handler's table
    bool committed_ = false;
};

// Removes a pending temporary file when the process is interrupted.
void installInterruptCleanup();

// Opens `out` for writing through libsndfile on its descriptor.
SNDFILE *openSoundOutput(SafeOutput &out, SF_INFO &info);

}  // namespace lintaq_cli
