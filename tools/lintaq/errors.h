// One failure type for the whole tool: the message a user reads, and the
// exit status. Thrown anywhere, caught once in main.
#pragma once

#include <stdexcept>
#include <string>

namespace lintaq_cli {

enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

struct CliError : std::runtime_error {
    int code;
    CliError(const std::string &message, int exitCode)
        : std::runtime_error(message), code(exitCode) {}
};

// A wrong option, setting or preset: nothing was read or written yet.
inline CliError usageError(const std::string &message) { return {message, kExitUsage}; }
// A file that cannot be read or written.
inline CliError ioError(const std::string &message) { return {message, kExitFailure}; }

void warn(const std::string &message);

}  // namespace lintaq_cli
