// A plug-in for hostbatch's own tests: each command hands back one kind of
// result, or shows messages, fails, or throws, so that every path of the host's
// transcript can be reached from a script.
#include <maya/MArgList.h>
#include <maya/MArgParser.h>
#include <maya/MFnPlugin.h>
#include <maya/MGlobal.h>
#include <maya/MIntArray.h>
#include <maya/MPxCommand.h>
#include <maya/MStatus.h>
#include <maya/MString.h>
#include <maya/MStringArray.h>
#include <maya/MSyntax.h>

#include <charconv>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

namespace {

template <typename Number> bool readNumber(const MString& text, Number& value)
{
    const std::string_view digits(text.asChar(), text.length());
    const std::from_chars_result read = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return read.ec == std::errc() && read.ptr == digits.data() + digits.size();
}

// Reads the one number a command takes; false after showing why it cannot.
template <typename Number> bool readOneNumber(const char* command, const MArgList& args, Number& value)
{
    if (args.length() != 1) {
        MGlobal::displayError(MString(command) + ": expected one argument");
        return false;
    }
    if (!readNumber(args.asString(0), value)) {
        MGlobal::displayError(MString(command) + ": not a number: " + args.asString(0));
        return false;
    }
    return true;
}

class EchoInt : public MPxCommand {
public:
    MStatus doIt(const MArgList& args) override
    {
        int value = 0;
        if (!readOneNumber("echoInt", args, value))
            return MS::kInvalidParameter;  // error already shown
        setResult(value);
        return MS::kSuccess;
    }
};

class EchoDouble : public MPxCommand {
public:
    MStatus doIt(const MArgList& args) override
    {
        double value = 0;
        if (!readOneNumber("echoDouble", args, value))
            return MS::kInvalidParameter;  // error already shown
        setResult(value);
        return MS::kSuccess;
    }
};

class EchoBool : public MPxCommand {
public:
    MStatus doIt(const MArgList& args) override
    {
        const MString word = args.asString(0);
        if (args.length() != 1 || (word != "true" && word != "false")) {
            MGlobal::displayError("echoBool: expected true or false");
            return MS::kInvalidParameter;
        }
        setResult(word == "true");
        return MS::kSuccess;
    }
};

// The arguments joined by single spaces, so that one quoted argument comes back unchanged.
class EchoString : public MPxCommand {
public:
    MStatus doIt(const MArgList& args) override
    {
        MString joined;
        for (unsigned int i = 0; i < args.length(); ++i) {
            if (i > 0)
                joined += " ";
            joined += args.asString(i);
        }
        setResult(joined);
        return MS::kSuccess;
    }
};

class EchoInts : public MPxCommand {
public:
    MStatus doIt(const MArgList& args) override
    {
        MIntArray values;
        for (unsigned int i = 0; i < args.length(); ++i) {
            int value = 0;
            if (!readNumber(args.asString(i), value)) {
                MGlobal::displayError("echoInts: not a number: " + args.asString(i));
                return MS::kInvalidParameter;
            }
            values.append(value);
        }
        setResult(values);
        return MS::kSuccess;
    }
};

class EchoStrings : public MPxCommand {
public:
    MStatus doIt(const MArgList& args) override
    {
        MStringArray values;
        for (unsigned int i = 0; i < args.length(); ++i)
            values.append(args.asString(i));
        setResult(values);
        return MS::kSuccess;
    }
};

// 0, 1, ... count - 1: a large result from a short script.
constexpr int kMostValues = 1 << 24;

class EchoSequence : public MPxCommand {
public:
    MStatus doIt(const MArgList& args) override
    {
        int count = 0;
        if (!readOneNumber("echoSequence", args, count))
            return MS::kInvalidParameter;  // error already shown
        // Large enough for any test, small enough that a fuzzed script cannot
        // ask for more memory than the fuzzer grants.
        if (count > kMostValues) {
            MGlobal::displayError("echoSequence: at most 16777216 values");
            return MS::kInvalidParameter;
        }
        MIntArray values;
        values.setSizeIncrement(count > 0 ? static_cast<unsigned int>(count) : 0);
        for (int i = 0; i < count; ++i)
            values.append(i);
        setResult(values);
        return MS::kSuccess;
    }
};

class EchoMessages : public MPxCommand {
public:
    MStatus doIt(const MArgList&) override
    {
        MGlobal::displayInfo("echoMessages: some information");
        MGlobal::displayWarning("echoMessages: a warning");
        MGlobal::displayError("echoMessages: an error");
        const MStatus status = MS::kFailure;
        status.perror("echoMessages");
        return status;
    }
};

class EchoThrow : public MPxCommand {
public:
    MStatus doIt(const MArgList&) override { throw std::runtime_error("echoThrow was asked to throw"); }
};

class EchoNothing : public MPxCommand {
public:
    MStatus doIt(const MArgList&) override { return MS::kSuccess; }
};

// A flag of every argument type, and one of two arguments: the arguments come
// back as they were given, once they have parsed, so that a caller can see
// what a binding made of its values.
class EchoFlags : public MPxCommand {
public:
    static MSyntax newSyntax()
    {
        MSyntax syntax;
        syntax.addFlag("-b", "-boolean", MSyntax::kBoolean);
        syntax.addFlag("-i", "-integer", MSyntax::kLong);
        syntax.addFlag("-d", "-double", MSyntax::kDouble);
        syntax.addFlag("-s", "-string", MSyntax::kString);
        syntax.addFlag("-p", "-pair", MSyntax::kLong, MSyntax::kString);
        syntax.addFlag("-on", "-switch");
        return syntax;
    }

    MStatus doIt(const MArgList& args) override
    {
        MStatus status;
        const MArgParser parser(syntax(), args, &status);
        if (!status)
            return status;  // error already shown
        MStringArray given;
        for (unsigned int i = 0; i < args.length(); ++i)
            given.append(args.asString(i));
        setResult(given);
        return MS::kSuccess;
    }
};

// Sleeps for the milliseconds given and returns them: a command that takes a
// while, to be interrupted.
class EchoSleep : public MPxCommand {
public:
    MStatus doIt(const MArgList& args) override
    {
        int milliseconds = 0;
        if (!readOneNumber("echoSleep", args, milliseconds))
            return MS::kInvalidParameter;  // error already shown
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        setResult(milliseconds);
        return MS::kSuccess;
    }
};

// The host takes ownership of the object and deletes it after doIt.
template <typename Command> void* create()
{
    return std::make_unique<Command>().release();
}

struct CommandEntry {
    const char* name;
    MCreatorFunction creator;
    MCreateSyntaxFunction newSyntax = nullptr;
};

constexpr CommandEntry kCommands[] = {
    { "echoInt", create<EchoInt> },
    { "echoDouble", create<EchoDouble> },
    { "echoBool", create<EchoBool> },
    { "echoString", create<EchoString> },
    { "echoInts", create<EchoInts> },
    { "echoStrings", create<EchoStrings> },
    { "echoSequence", create<EchoSequence> },
    { "echoMessages", create<EchoMessages> },
    { "echoThrow", create<EchoThrow> },
    { "echoNothing", create<EchoNothing> },
    { "echoFlags", create<EchoFlags>, EchoFlags::newSyntax },
    { "echoSleep", create<EchoSleep> },
};

}  // namespace

PLUGIN_EXPORT const char MApiVersion[] = "600";

PLUGIN_EXPORT MStatus initializePlugin(MObject obj)
{
    MStatus status;
    MFnPlugin plugin(obj, "pictile tests", "1.0", "Any", &status);
    if (!status)
        return status;
    for (const CommandEntry& command : kCommands) {
        status = plugin.registerCommand(command.name, command.creator, command.newSyntax);
        if (!status) {
            MGlobal::displayError(MString("echo plug-in: cannot register ") + command.name);
            return status;
        }
    }
    return MS::kSuccess;
}

PLUGIN_EXPORT MStatus uninitializePlugin(MObject obj)
{
    MStatus status;
    MFnPlugin plugin(obj, "pictile tests", "1.0", "Any", &status);
    if (!status)
        return status;
    for (const CommandEntry& command : kCommands) {
        status = plugin.deregisterCommand(command.name);
        if (!status) {
            MGlobal::displayError(MString("echo plug-in: cannot deregister ") + command.name);
            return status;
        }
    }
    return MS::kSuccess;
}
