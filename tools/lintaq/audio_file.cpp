#include "audio_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>
#include <vector>

#include "errors.h"

namespace lintaq_cli {
namespace {

struct Container {
    const char *name;
    int major;
    int fixedEncoding;  // 0: chosen from the input
    std::vector<const char *> extensions;
};

const std::vector<Container> &containers()
{
    static const std::vector<Container> table = {
        {"wav", SF_FORMAT_WAV, 0, {"wav"}},
        {"w64", SF_FORMAT_W64, 0, {"w64"}},
        {"rf64", SF_FORMAT_RF64, 0, {"rf64"}},
        {"aiff", SF_FORMAT_AIFF, 0, {"aiff", "aif", "aifc"}},
        {"caf", SF_FORMAT_CAF, 0, {"caf"}},
        {"au", SF_FORMAT_AU, 0, {"au", "snd"}},
        {"flac", SF_FORMAT_FLAC, 0, {"flac"}},
        {"ogg", SF_FORMAT_OGG, SF_FORMAT_VORBIS, {"ogg", "oga"}},
        {"opus", SF_FORMAT_OGG, SF_FORMAT_OPUS, {"opus"}},
        {"mp3", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III, {"mp3"}},
    };
    return table;
}

std::string lower(std::string s)
{
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

const Container *containerByName(const std::string &name)
{
    for (const auto &c : containers())
        if (lower(name) == c.name) return &c;
    return nullptr;
}

const Container *containerByExtension(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return nullptr;
    const std::string ext = lower(path.substr(dot + 1));
    for (const auto &c : containers())
        for (const char *e : c.extensions)
            if (ext == e) return &c;
    return nullptr;
}

bool formatOk(int format, int rate, int channels)
{
    SF_INFO probe{};
    probe.samplerate = rate;
    probe.channels = channels;
    probe.format = format;
    return sf_format_check(&probe) != 0;
}

std::string formatInfoName(int format, int command)
{
    SF_FORMAT_INFO fi{};
    fi.format = format;
    if (sf_command(nullptr, command, &fi, sizeof fi) != 0 || fi.name == nullptr) return "?";
    return fi.name;
}

std::string folderOf(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The pending temporary files, for the interrupt handler: one slot per
// file being written (a batch writes several at once). A slot is claimed
// (free -> filling), its name written, then published (pending); lock-free
// atomics are safe to read in a signal handler.
constexpr int kFree = 0, kFilling = 1, kPending = 2;
struct PendingSlot {
    char path[4096];
    std::atomic<int> state{kFree};
};
PendingSlot g_pending[64];

extern "C" void removePendingTempAndExit(int sig)
{
    for (PendingSlot &slot : g_pending)
        if (slot.state.load() == kPending) unlink(slot.path);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

int claimPendingSlot(const std::vector<char> &path)
{
    for (int i = 0; i < static_cast<int>(std::size(g_pending)); ++i) {
        int expected = kFree;
        if (g_pending[i].state.compare_exchange_strong(expected, kFilling)) {
            std::memcpy(g_pending[i].path, path.data(), path.size());
            g_pending[i].state.store(kPending);
            return i;
        }
    }
    return -1;  // more files at once than slots: this one is not cleaned up on Ctrl-C
}

void releasePendingSlot(int &slot)
{
    if (slot >= 0) g_pending[slot].state.store(kFree);
    slot = -1;
}

}  // namespace

InputFile::InputFile(const std::string &path)
{
    if (::stat(path.c_str(), &stat_) != 0) {
        if (errno == ENOENT) throw ioError("input \"" + path + "\" does not exist");
        throw ioError("cannot open input \"" + path + "\": " + std::strerror(errno));
    }
    if (S_ISDIR(stat_.st_mode)) throw ioError("input \"" + path + "\" is a folder, not an audio file");
    sf_ = sf_open(path.c_str(), SFM_READ, &info_);
    if (sf_ == nullptr)
        throw ioError("cannot read \"" + path + "\" as audio: " + sf_strerror(nullptr));
}

InputFile::~InputFile()
{
    if (sf_ != nullptr) sf_close(sf_);
}

int chooseOutputFormat(int inputFormat, const std::string &outPath, const std::string &formatOption,
                       bool floatSamples, int rate, int channels)
{
    const Container *c = nullptr;
    if (!formatOption.empty()) {
        c = containerByName(formatOption);
        if (c == nullptr)
            throw usageError("unknown --format \"" + formatOption + "\" (known: " + knownFormatNames() + ")");
    } else {
        c = containerByExtension(outPath);
    }
    const int inMajor = inputFormat & SF_FORMAT_TYPEMASK;
    const int inEncoding = inputFormat & SF_FORMAT_SUBMASK;
    int major = c != nullptr ? c->major : inMajor;
    int format = 0;
    const std::string what = c != nullptr ? c->name : formatInfoName(major, SFC_GET_FORMAT_INFO);
    if (floatSamples) {
        format = major | SF_FORMAT_FLOAT;
        if (!formatOk(format, rate, channels))
            throw usageError("--float: " + what + " files cannot hold 32-bit float samples");
    } else if (c != nullptr && c->fixedEncoding != 0) {
        format = major | c->fixedEncoding;
    } else {
        // Keep the input's encoding where the container takes it; otherwise
        // 24-bit PCM, then 16-bit, which every lossless container has.
        format = major | inEncoding;
        for (int enc : {SF_FORMAT_PCM_24, SF_FORMAT_PCM_16})
            if (!formatOk(format, rate, channels)) format = major | enc;
    }
    if (!formatOk(format, rate, channels))
        throw usageError("cannot write " + what + " (" + formatInfoName(format & SF_FORMAT_SUBMASK, SFC_GET_FORMAT_INFO) +
                         ") at " + std::to_string(rate) + " Hz with " + std::to_string(channels) + " channel(s)");
    return format;
}

bool isIntegerEncoding(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return false;
    default:
        return true;
    }
}

std::string describeFormat(int format)
{
    return formatInfoName(format & SF_FORMAT_TYPEMASK, SFC_GET_FORMAT_INFO) + ", " +
           formatInfoName(format & SF_FORMAT_SUBMASK, SFC_GET_FORMAT_INFO);
}

std::string knownFormatNames()
{
    std::string s;
    for (const auto &c : containers()) s += (s.empty() ? "" : ", ") + std::string(c.name);
    return s;
}

SafeOutput::SafeOutput(const std::string &target, const struct stat *input, bool allowReplaceInput)
    : target_(target)
{
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        throw ioError("output \"" + target + "\" is a folder");
    if (exists && input != nullptr && existing.st_dev == input->st_dev &&
        existing.st_ino == input->st_ino && !allowReplaceInput)
        throw ioError("output \"" + target + "\" is the input file; pass --overwrite to replace it");
    const std::string folder = folderOf(target);
    struct stat fs {};
    if (::stat(folder.c_str(), &fs) != 0 || !S_ISDIR(fs.st_mode))
        throw ioError("output folder \"" + folder + "\" does not exist");

    const auto slash = target.find_last_of('/');
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string pattern = (folder == "/" ? "" : folder) + "/." + base + ".lintaq-XXXXXX";
    if (pattern.size() >= sizeof g_pending[0].path) throw ioError("output path \"" + target + "\" is too long");
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    // Block interrupts while the name is being registered for cleanup.
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGHUP);
    sigprocmask(SIG_BLOCK, &block, &old);
    fd_ = mkstemp(buf.data());
    const int err = errno;
    if (fd_ >= 0) {
        temp_ = buf.data();
        slot_ = claimPendingSlot(buf);
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (fd_ < 0)
        throw ioError("cannot create a file in \"" + folder + "\": " + std::strerror(err));

    // mkstemp makes the file private; give it the replaced file's mode, or
    // the mode a new file gets under the user's umask.
    mode_t mode;
    if (exists) {
        mode = existing.st_mode & 07777;
    } else {
        // Read once: umask() can only be read by setting it, which must not
        // race with a batch's other threads.
        static const mode_t mask = [] {
            const mode_t m = umask(0);
            umask(m);
            return m;
        }();
        mode = 0666 & ~mask;
    }
    fchmod(fd_, mode);
}

SafeOutput::~SafeOutput()
{
    if (fd_ >= 0) close(fd_);
    if (!committed_ && !temp_.empty()) {
        unlink(temp_.c_str());
        releasePendingSlot(slot_);
    }
}

void SafeOutput::writeAll(const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw ioError("cannot write \"" + target_ + "\": " + std::strerror(errno));
        done += static_cast<std::size_t>(n);
    }
}

void SafeOutput::commit()
{
    if (fsync(fd_) != 0) throw ioError("cannot write \"" + target_ + "\": " + std::strerror(errno));
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) throw ioError("cannot write \"" + target_ + "\": " + std::strerror(errno));
    if (std::rename(temp_.c_str(), target_.c_str()) != 0)
        throw ioError("cannot rename the finished file to \"" + target_ + "\": " + std::strerror(errno));
    committed_ = true;
    releasePendingSlot(slot_);
}

void installInterruptCleanup()
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(sig, removePendingTempAndExit);
}

SNDFILE *openSoundOutput(SafeOutput &out, SF_INFO &info)
{
    SNDFILE *sf = sf_open_fd(out.fd(), SFM_WRITE, &info, SF_FALSE);
    if (sf == nullptr)
        throw ioError("cannot write \"" + out.target() + "\": " + sf_strerror(nullptr));
    return sf;
}

}  // namespace lintaq_cli
