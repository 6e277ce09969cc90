// hostbatch's command line: its options, its sources, and its help.
#include "Options.h"

#include <mel/ScriptFile.h>
#include <session/Session.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace hostbatch {

namespace {

constexpr const char* kUsage
    = R"(Usage: hostbatch [--plugin PATH]... [--json] [--keep-going] [--time] [--progress | --no-progress]
                 [--pixel-budget PIXELS] [--limit NAME=N]... [-c COMMAND | SCRIPT | -]...

Runs scripts in the host's command language (MEL) against plug-ins, like the
host's script editor.

  --plugin PATH   load the plug-in at PATH before any script runs (repeatable)
  --json          print one JSON object per statement instead of the text transcript
  --keep-going    run every top-level statement, even after one has failed
  --time          add each statement's wall time: '// Time: 12.345 ms //' after
                  its lines, or "ms":12.345 in its JSON object
  --progress, --no-progress
                  show, or not, one live line while a command reads or writes
                  images (files read and written, per second, the last name),
                  erased when it ends; only when standard error is a terminal,
                  and by default only without --json
  --pixel-budget PIXELS
                  the most pixels an image file may hold to be read, 1 to
                  1073741824 (default 268435456, 16384 x 16384, or the
                  environment variable PICTILE_PIXEL_BUDGET)
  --limit NAME=N  bound what one statement may use (0: no bound); NAME is
                    array   elements of an array (default 16777216)
                    string  bytes of a string (default 67108864)
                    script  bytes of a script file, or of one statement on
                            standard input (default 67108864)
                    output  bytes of lines one statement holds with --json,
                            which shows them only once it ends (default 67108864)
                    steps   statements and expressions one top-level statement
                            evaluates (default 0)
                    calls   procedures, eval and source running inside one
                            another (default 1000; however many, the script
                            nests no deeper than 6000 levels)
                    memory  bytes the session holds in all, its values and
                            the plug-ins' images together, looked at every
                            10 ms (default half of this machine's memory, or
                            of its control group's limit when smaller)
                  A statement past a bound fails with an error; Ctrl-C stops the
                  running statement the same way (a second one ends hostbatch)
  -c COMMAND      run COMMAND, a script given on the command line
  SCRIPT          run the script file SCRIPT
  -               run the script on standard input (also when no source is given)
  -h, --help      print this help
  --version       print hostbatch's version
  --              treat every later argument as a script file

Sources run in the order given, in one session: top-level variables and
procedures stay for the later sources. The language:
  statements    end at ';' (line ends are spaces; the last may leave it out);
                '//' and '/* */' are comments; "strings" take \" \\ \n \t \r
  commands      name -flag word "string" $variable (expression) `command`;
                (int) $f casts the next argument; an array argument gives
                each element as one argument
  values        int, float, string and arrays: int $a[] = {1, 2}; $a[5] = 7;
  vectors       vector $v = <<1, 2.5, $x>>; $v.x $v.y $v.z (read only); + and -;
                * of two vectors is the dot product, by a number scales; / by
                a number; ^ the cross product; < > <= >= compare lengths;
                mag($v); print $v shows 1 2.5 2; vector $a[] = {$v}; $a[0].x
  expressions   + - * / % (int / int divides whole), + joins strings,
                == != < <= > >= && || ! ?: = += -= *= /= ++ --
  results       string $names[] = `resizeFunction -folder "images/" -size 128 -number 4`;
  control       if/else, while, do/while, for (;;), for ($x in $array), switch
                (case, default, falling through), break, continue, { blocks }
  procedures    global proc int darkest(string $file) { ...; return $i; }
                called as darkest("a.png") or as a command: darkest "a.png";
  built-ins     )";

// After the list of built-ins, which comes from the interpreter's table.
constexpr const char* kUsageEnd = R"(
                (source "x.mel" and a call of a procedure not defined yet look
                for x.mel or the procedure's NAME.mel in the folders of
                MAYA_SCRIPT_PATH)
Any other name runs the registered command of that name. A file or -c source
with a syntax error ('// Error: line L.C: what //') runs nothing of itself;
standard input runs each top-level statement as soon as its ';' is read (an
'if' once the next word shows that no 'else' follows).
Paths are relative to the working directory.

Text transcript, per top-level statement: its script-editor lines ('// Error: ... //',
'// Warning: ... //', info lines as they are) and print output, in order, then
'// Result: value //' when it was a call that gave a value. A failing statement
inside shows '// Error: line L: what //'. With --json, per top-level statement:
  {"command":"name","status":0,"result":value or null,"lines":[{"kind":"info","text":"..."}]}
with print output as kind "output" and "command" the statement's first word.
JSON text is UTF-8: a byte that is not part of valid UTF-8 is written as the
escape \udcXX (XX the byte, 80 to ff), which valid text never holds.
Status prints of the plug-ins go to standard error only. Lines that a --plugin
load shows are printed like those of a loadPlugin statement.

Exit status: 0 when every statement succeeded, 1 when one failed (the run stops
there unless --keep-going) or the transcript could not be written, 2 for a usage
error, an unreadable script, or a --plugin that could not be fully loaded. A
script's quit (or exit) ends the run there, with -exitCode N as the status
(modulo 256) or, without it, the status of the run so far.

Example:
  hostbatch --plugin ./pictile.so -c 'queryFunction -f "image.png" -qX'
  // Result: 640 //
)";

// The built-in names, filled into lines as wide as the rest of the help.
std::string builtinList(const std::vector<std::string>& names)
{
    std::string list;
    std::size_t width = 16;
    for (const std::string& name : names) {
        if (width + 1 + name.size() > 79 && width > 16) {
            list += "\n                ";
            width = 16;
        } else if (width > 16) {
            list += ' ';
            ++width;
        }
        list += name;
        width += name.size();
    }
    return list;
}

constexpr const char* kHelpHint = "\nTry 'hostbatch --help'.";

constexpr const char* kBudgetVariable = "PICTILE_PIXEL_BUDGET";
constexpr const char* kBudgetError = "the pixel budget must be a whole number of pixels from 1 to 1073741824";

// 1 to 2^30 in decimal digits: the range the image services accept.
bool isPixelBudget(const char* text)
{
    std::uint64_t value = 0;
    for (const char* digit = text; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9' || value > (std::uint64_t(1) << 30))
            return false;
        value = value * 10 + std::uint64_t(*digit - '0');
    }
    return *text != '\0' && value >= 1 && value <= (std::uint64_t(1) << 30);
}

// Sets the limit `NAME=N`; false when it is no such setting.
bool setLimit(const std::string& setting, mel::Limits& limits)
{
    const std::size_t equals = setting.find('=');
    if (equals == std::string::npos || equals + 1 == setting.size())
        return false;
    const std::string name = setting.substr(0, equals);
    const std::string number = setting.substr(equals + 1);
    if (number.find_first_not_of("0123456789") != std::string::npos || number.size() > 18)
        return false;
    const unsigned long long value = std::stoull(number);
    if (name == "array")
        limits.valueSize = value;
    else if (name == "string")
        limits.stringSize = value;
    else if (name == "script")
        limits.sourceSize = value;
    else if (name == "output")
        limits.outputSize = value;
    else if (name == "steps")
        limits.steps = value;
    else if (name == "calls")
        limits.callDepth = static_cast<int>(std::min<unsigned long long>(value, INT_MAX));
    else if (name == "memory")
        limits.memory = static_cast<std::size_t>(value);
    else
        return false;
    return true;
}

Source standardInput()
{
    Source source;
    source.name = "<stdin>";
    source.standardInput = true;
    return source;
}

}  // namespace

mel::Limits defaultLimits()
{
    mel::Limits limits;
    limits.valueSize = std::size_t { 1 } << 24;
    limits.stringSize = std::size_t { 64 } << 20;
    limits.sourceSize = std::size_t { 64 } << 20;
    limits.outputSize = std::size_t { 64 } << 20;
    limits.memory = host::Session::defaultMemoryBound();
    return limits;
}

bool parseArguments(int argc, char** argv, Options& options, std::string& error)
{
    bool sourcesOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool hasValue = i + 1 < argc;
        Source source;
        if (sourcesOnly || argument.empty() || argument.front() != '-') {
            source.name = std::string(argument);
            source.file = true;
            if (!mel::readScriptFile(source.name, options.limits.sourceSize, source.text, error))
                return false;
        } else if (argument == "-") {
            source = standardInput();
        } else if (argument == "--") {
            sourcesOnly = true;
            continue;
        } else if (argument == "-h" || argument == "--help") {
            options.help = true;
            return true;
        } else if (argument == "--version") {
            options.version = true;
            return true;
        } else if (argument == "--json") {
            options.json = true;
            continue;
        } else if (argument == "--keep-going") {
            options.keepGoing = true;
            continue;
        } else if (argument == "--time") {
            options.time = true;
            continue;
        } else if (argument == "--progress" || argument == "--no-progress") {
            options.progress = argument == "--progress" ? Choice::Yes : Choice::No;
            continue;
        } else if (argument == "--pixel-budget") {
            if (!hasValue || !isPixelBudget(argv[i + 1])) {
                error = std::string(kBudgetError) + kHelpHint;
                return false;
            }
            // The image services read the budget from the environment.
            setenv(kBudgetVariable, argv[++i], 1);
            continue;
        } else if (argument == "--limit") {
            if (!hasValue || !setLimit(argv[++i], options.limits)) {
                error = "option '--limit' needs NAME=N, NAME one of array, string, script, output, steps, "
                        "calls, "
                        "memory"
                    + std::string(kHelpHint);
                return false;
            }
            continue;
        } else if (argument == "--plugin" || argument == "-c") {
            if (!hasValue) {
                error = "option '" + std::string(argument) + "' needs an argument" + kHelpHint;
                return false;
            }
            ++i;
            if (argument == "--plugin") {
                options.plugins.emplace_back(argv[i]);
                continue;
            }
            source = Source { "<command>", argv[i] };
        } else {
            error = "unknown option '" + std::string(argument) + "'" + kHelpHint;
            return false;
        }
        options.sources.push_back(std::move(source));
    }
    if (options.sources.empty())
        options.sources.push_back(standardInput());
    return true;
}

bool checkBudgetVariable(std::string& error)
{
    const char* budget = std::getenv(kBudgetVariable);
    if (budget == nullptr || isPixelBudget(budget))
        return true;
    error = std::string(kBudgetVariable) + ": " + kBudgetError;
    return false;
}

std::string helpText(const std::vector<std::string>& builtinNames)
{
    return kUsage + builtinList(builtinNames) + kUsageEnd;
}

}  // namespace hostbatch
