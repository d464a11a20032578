// What the tool's exit status means. Scripts branch on these, so the values
// are fixed and listed in --help.
#pragma once

#include <stdexcept>
#include <string>

namespace kcli {

enum ExitCode : int {
    EXIT_OK = 0,
    EXIT_INTERNAL = 1,   // a fault of the tool itself
    EXIT_BAD_INPUT = 2,  // usage, values, or input files the user must fix
    EXIT_PLUGIN = 3,     // the plug-in could not be loaded or returned an error
    EXIT_IO = 4,         // the system failed to read or write a file, or ran out of memory
};

constexpr char EXIT_CODES_HELP[] =
    "Exit codes:\n"
    "  0  success\n"
    "  1  internal error of the tool\n"
    "  2  bad input: wrong usage, a value out of range, a missing, corrupt or\n"
    "     unsupported input file, a missing frame, an output that would\n"
    "     overwrite an input\n"
    "  3  plug-in error: the plug-in could not be loaded or returned an error\n"
    "  4  I/O error: a file could not be read or written (permissions, disk\n"
    "     full), or memory ran out\n";

// Raised anywhere below main(); main() prints the message as one line and
// exits with the code. The message starts with the file or flag concerned.
class Failure : public std::runtime_error {
public:
    Failure(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
    ExitCode code() const { return code_; }

private:
    ExitCode code_;
};

}  // namespace kcli
