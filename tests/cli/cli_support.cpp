#include "cli_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

ScratchDir::ScratchDir()
{
    char templ[] = "/tmp/lintaq-cli-test-XXXXXX";
    if (mkdtemp(templ) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = templ;
}

ScratchDir::~ScratchDir() { std::filesystem::remove_all(path); }

std::set<std::string> ScratchDir::entries() const
{
    std::set<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(path)) names.insert(e.path().filename().string());
    return names;
}

RunResult runProgram(const std::string &program, const std::vector<std::string> &args)
{
    ScratchDir capture;
    const std::string outPath = capture / "stdout", errPath = capture / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + program);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), readBytes(outPath), readBytes(errPath)};
}

RunResult runCli(const std::vector<std::string> &args) { return runProgram(LINTAQ_CLI_PATH, args); }

void writeAudio(const std::string &path, const Audio &a)
{
    SF_INFO info{};
    info.samplerate = a.rate;
    info.channels = a.channels;
    info.format = a.format;
    SNDFILE *sf = sf_open(path.c_str(), SFM_WRITE, &info);
    if (sf == nullptr) throw std::runtime_error("cannot write test file " + path + ": " + sf_strerror(nullptr));
    sf_command(sf, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    sf_writef_float(sf, a.samples.data(), a.frames());
    sf_close(sf);
}

Audio readAudio(const std::string &path)
{
    SF_INFO info{};
    SNDFILE *sf = sf_open(path.c_str(), SFM_READ, &info);
    if (sf == nullptr) throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    Audio a;
    a.rate = info.samplerate;
    a.channels = info.channels;
    a.format = info.format;
    a.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(sf, a.samples.data(), info.frames);
    sf_close(sf);
    return a;
}

std::string readBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeText(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

PeqParams emptyParams(int rate, bool oversample)
{
    PeqParams p{};
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        p.freq[k] = 1000.0f;
        p.q[k] = 0.7f;
    }
    p.sampleRate = rate;
    p.oversample = oversample ? 1u : 0u;
    return p;
}

double graphDb(const PeqParams &p, const std::vector<int> &bands, float freq)
{
    // A two-point grid starts exactly at `freq`.
    PeqGraph *g = InitPeqGraph(&p, 2, freq, freq * 1.001f);
    if (g == nullptr || g->pointCount < 1) throw std::runtime_error("no graph point at " + std::to_string(freq));
    double sum = 0.0;
    float out[2];
    for (int b : bands) {
        LintaqGraph(&p, g, out, b);
        sum += out[0];
    }
    ExitPeqGraph(g);
    return sum;
}
