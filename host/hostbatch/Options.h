#pragma once

#include <mel/Interpreter.h>

#include <string>
#include <vector>

namespace hostbatch {

/// The bounds hostbatch runs statements with unless told otherwise: far above
/// what a batch script needs, far below what would exhaust the machine.
mel::Limits defaultLimits();

struct Source {
    std::string name;
    std::string text;
    bool standardInput = false;  ///< Read as it runs, not up front.
    bool file = false;  ///< A script file, named by `name`.
};

enum class Choice { Default, Yes, No };

struct Options {
    std::vector<std::string> plugins;
    mel::Limits limits = defaultLimits();
    bool json = false;
    bool keepGoing = false;
    bool time = false;
    Choice progress = Choice::Default;
    bool help = false;
    bool version = false;
    std::vector<Source> sources;
};

/// Reads hostbatch's options and sources from its command line, and every
/// script file named there, up front, so that a usage error runs nothing.
/// False with `error` saying why (with a hint at --help); standard input is
/// the source when none is given. `--pixel-budget` is handed to the image
/// services through their environment variable.
bool parseArguments(int argc, char** argv, Options& options, std::string& error);

/// False, with `error`, when PICTILE_PIXEL_BUDGET is set to no budget the
/// image services take.
bool checkBudgetVariable(std::string& error);

/// The help: usage, options, the language, the built-ins `builtinNames`, the
/// transcript and the exit status.
std::string helpText(const std::vector<std::string>& builtinNames);

}  // namespace hostbatch
