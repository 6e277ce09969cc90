#include "editorTest.h"

#include <host/CommandRegistry.h>

#include <maya/MArgDatabase.h>
#include <maya/MIntArray.h>
#include <maya/MPxCommand.h>
#include <maya/MStringArray.h>

#include <memory>
#include <stdexcept>

namespace {

using host::CommandRegistry;
using host::CommandResult;
using host::Invocation;
using host::PluginRecord;

template <typename Command> void* create()
{
    return std::make_unique<Command>().release();
}

void* createNothing()
{
    return nullptr;
}

class SetsTwoResults : public MPxCommand {
public:
    MStatus doIt(const MArgList&) override
    {
        setResult(7);
        setResult("last");
        return MS::kSuccess;
    }
};

class ClearsItsResult : public MPxCommand {
public:
    MStatus doIt(const MArgList&) override
    {
        setResult(7);
        clearResult();
        return MS::kSuccess;
    }
};

class ThrowsStandardError : public MPxCommand {
public:
    MStatus doIt(const MArgList&) override
    {
        setResult(7);
        throw std::runtime_error("disk on fire");
    }
};

class ThrowsAnInteger : public MPxCommand {
public:
    MStatus doIt(const MArgList&) override { throw 42; }
};

class FailsWithItsOwnStatus : public MPxCommand {
public:
    MStatus doIt(const MArgList&) override { return MS::kNotImplemented; }
};

// Appends for ever: only the array bound ends it.
class AppendsWithoutEnd : public MPxCommand {
public:
    MStatus doIt(const MArgList&) override
    {
        MIntArray numbers;
        numbers.setSizeIncrement(4000000000u);
        for (;;)
            numbers.append(1);
    }
};

// Catches whatever its appends throw and hands on what it had.
class HidesTheBound : public MPxCommand {
public:
    MStatus doIt(const MArgList&) override
    {
        MStringArray names;
        try {
            for (;;)
                names.append("name");
        } catch (...) {
        }
        setResult(names);
        return MS::kSuccess;
    }
};

int syntaxCalls = 0;

MSyntax countedSyntax()
{
    ++syntaxCalls;
    MSyntax syntax;
    syntax.addFlag("-n", "-count", MSyntax::kLong);
    return syntax;
}

// Returns the -n argument it parsed against the syntax the registry gave it.
class ReadsCount : public MPxCommand {
public:
    MStatus doIt(const MArgList& args) override
    {
        MStatus status;
        MArgDatabase parsed(syntax(), args, &status);
        if (!status)
            return status;
        int count = 0;
        parsed.getFlagArgument("-n", 0, count);
        setResult(count);
        return MS::kSuccess;
    }
};

MArgList argsOf(std::initializer_list<const char*> tokens)
{
    MArgList args;
    for (const char* token : tokens)
        args.addArg(token);
    return args;
}

class RegistryTest : public EditorTest {
protected:
    CommandRegistry registry;
    PluginRecord owner { "owner" };
    PluginRecord other { "other" };
};

TEST_F(RegistryTest, RefusesTakenNamesEmptyNamesAndNullCreators)
{
    EXPECT_EQ(registry.registerCommand(owner, "one", create<SetsTwoResults>, nullptr), MS::kSuccess);
    EXPECT_EQ(registry.registerCommand(owner, "one", create<SetsTwoResults>, nullptr), MS::kFailure);
    EXPECT_EQ(registry.registerCommand(other, "one", create<SetsTwoResults>, nullptr), MS::kFailure);
    EXPECT_EQ(registry.registerCommand(owner, "", create<SetsTwoResults>, nullptr), MS::kInvalidParameter);
    EXPECT_EQ(registry.registerCommand(owner, "two", nullptr, nullptr), MS::kInvalidParameter);
    EXPECT_FALSE(registry.contains("two"));
    EXPECT_EQ(registry.commandsOf(owner), std::vector<std::string> { "one" });
    EXPECT_TRUE(registry.commandsOf(other).empty());
}

TEST_F(RegistryTest, OnlyTheOwnerDeregisters)
{
    registry.registerCommand(owner, "one", create<SetsTwoResults>, nullptr);
    EXPECT_EQ(registry.deregisterCommand(other, "one"), MS::kFailure);
    EXPECT_TRUE(registry.contains("one"));
    EXPECT_EQ(registry.deregisterCommand(owner, "one"), MS::kSuccess);
    EXPECT_FALSE(registry.contains("one"));
    EXPECT_EQ(registry.deregisterCommand(owner, "one"), MS::kFailure);
}

TEST_F(RegistryTest, RemovesEverythingOfOneOwner)
{
    registry.registerCommand(owner, "b", create<SetsTwoResults>, nullptr);
    registry.registerCommand(other, "c", create<SetsTwoResults>, nullptr);
    registry.registerCommand(owner, "a", create<SetsTwoResults>, nullptr);
    EXPECT_EQ(registry.commandsOf(owner), (std::vector<std::string> { "a", "b" }));
    registry.removeCommandsOf(owner);
    EXPECT_FALSE(registry.contains("a"));
    EXPECT_FALSE(registry.contains("b"));
    EXPECT_TRUE(registry.contains("c"));
}

TEST_F(RegistryTest, UnknownCommandIsNotFound)
{
    const Invocation invocation = registry.run("nope", MArgList());
    EXPECT_EQ(invocation.status, MS::kNotFound);
    EXPECT_EQ(host::ScriptEditor::take(), errorLine("Cannot find procedure \"nope\"."));
}

TEST_F(RegistryTest, TheLastResultWinsAndClearingLeavesNone)
{
    registry.registerCommand(owner, "twoResults", create<SetsTwoResults>, nullptr);
    registry.registerCommand(owner, "cleared", create<ClearsItsResult>, nullptr);
    registry.registerCommand(owner, "ownStatus", create<FailsWithItsOwnStatus>, nullptr);

    const Invocation twoResults = registry.run("twoResults", MArgList());
    EXPECT_EQ(twoResults.status, MS::kSuccess);
    EXPECT_EQ(twoResults.result, CommandResult(std::string("last")));
    EXPECT_EQ(registry.run("cleared", MArgList()).result, CommandResult());
    EXPECT_EQ(registry.run("ownStatus", MArgList()).status, MS::kNotImplemented);
    EXPECT_TRUE(host::ScriptEditor::take().empty());
}

struct ThrowingCase {
    const char* name;
    MCreatorFunction creator;
    const char* errorLine;
};

class ThrowingCommandTest : public RegistryTest, public testing::WithParamInterface<ThrowingCase> { };

TEST_P(ThrowingCommandTest, BecomesOneErrorLineAndTheRegistryKeepsWorking)
{
    registry.registerCommand(owner, GetParam().name, GetParam().creator, nullptr);
    registry.registerCommand(owner, "twoResults", create<SetsTwoResults>, nullptr);

    const Invocation failed = registry.run(GetParam().name, MArgList());
    EXPECT_EQ(failed.status, MS::kFailure);
    EXPECT_EQ(failed.result, CommandResult());
    EXPECT_EQ(host::ScriptEditor::take(), errorLine(GetParam().errorLine));

    EXPECT_EQ(registry.run("twoResults", MArgList()).status, MS::kSuccess);
}

INSTANTIATE_TEST_SUITE_P(Cases, ThrowingCommandTest,
    testing::Values(
        ThrowingCase { "throwsStd", create<ThrowsStandardError>, "throwsStd: internal error: disk on fire" },
        ThrowingCase { "throwsInt", create<ThrowsAnInteger>, "throwsInt: internal error: unknown exception" },
        ThrowingCase { "createsNothing", createNothing,
            "createsNothing: internal error: the creator made no command object" }));

// The arrays of a command run with a bound stop at it as they grow; the command
// fails, with nothing shown, even when it caught the throw.
TEST_F(RegistryTest, EndsACommandWhoseArrayWouldPassTheBound)
{
    registry.registerCommand(owner, "ints", create<AppendsWithoutEnd>, nullptr);
    registry.registerCommand(owner, "names", create<HidesTheBound>, nullptr);
    registry.registerCommand(owner, "twoResults", create<SetsTwoResults>, nullptr);
    for (const char* name : { "ints", "names" }) {
        const Invocation stopped = registry.run(name, MArgList(), 1000);
        EXPECT_EQ(stopped.status, MS::kFailure) << name;
        EXPECT_TRUE(stopped.passedArrayBound) << name;
        EXPECT_EQ(stopped.result, CommandResult()) << name;
    }
    EXPECT_TRUE(host::ScriptEditor::take().empty());
    const Invocation next = registry.run("twoResults", MArgList(), 1000);
    EXPECT_EQ(next.status, MS::kSuccess);
    EXPECT_FALSE(next.passedArrayBound);
}

TEST(ArrayBoundTest, AnArrayHoldsTheBoundButNoMore)
{
    const host::ArrayBoundScope bound(3);
    MIntArray numbers;
    MStringArray names;
    for (int i = 0; i < 3; ++i) {
        numbers.append(i);
        names.append("n");
    }
    EXPECT_THROW(numbers.append(3), host::ArrayBoundPassed);
    EXPECT_THROW(names.append("n"), host::ArrayBoundPassed);
    EXPECT_TRUE(bound.passed());
    EXPECT_EQ(numbers.length(), 3u);
    EXPECT_EQ(names.length(), 3u);
    {
        const host::ArrayBoundScope none(0);
        numbers.append(3);
        EXPECT_EQ(numbers.length(), 4u);
    }
}

TEST_F(RegistryTest, BuildsTheSyntaxOnceAndHandsItToEveryCommandObject)
{
    syntaxCalls = 0;
    registry.registerCommand(owner, "readsCount", create<ReadsCount>, countedSyntax);
    EXPECT_EQ(syntaxCalls, 1);

    EXPECT_EQ(registry.run("readsCount", argsOf({ "-n", "5" })).result, CommandResult(5));
    EXPECT_EQ(registry.run("readsCount", argsOf({ "-count", "6" })).result, CommandResult(6));
    EXPECT_EQ(syntaxCalls, 1);
    EXPECT_TRUE(host::ScriptEditor::take().empty());
}

TEST_F(RegistryTest, TellsEachCommandsSyntaxToACallerBeforeItRuns)
{
    syntaxCalls = 0;
    registry.registerCommand(owner, "readsCount", create<ReadsCount>, countedSyntax);
    registry.registerCommand(owner, "clears", create<ClearsItsResult>, nullptr);
    EXPECT_EQ(registry.commandNames(), (std::vector<std::string> { "clears", "readsCount" }));

    const MSyntax* syntax = registry.syntaxOf("readsCount");
    ASSERT_NE(syntax, nullptr);
    ASSERT_EQ(syntax->flags().size(), 1u);
    EXPECT_EQ(syntax->flags()[0].longName, "-count");
    EXPECT_EQ(syntax->flags()[0].argumentTypes, std::vector<MSyntax::MArgType> { MSyntax::kLong });
    EXPECT_EQ(syntaxCalls, 1);
    ASSERT_NE(registry.syntaxOf("clears"), nullptr);
    EXPECT_TRUE(registry.syntaxOf("clears")->flags().empty());
    EXPECT_EQ(registry.syntaxOf("unknown"), nullptr);
}

TEST(CommandTest, ACommandNotMadeByTheRegistryHasAnEmptySyntax)
{
    ReadsCount command;
    EXPECT_TRUE(command.syntax().flags().empty());
    EXPECT_EQ(command.doIt(MArgList()), MS::kSuccess);
    MPxCommand base;
    EXPECT_EQ(base.doIt(MArgList()), MS::kNotImplemented);
    EXPECT_FALSE(base.isUndoable());
}

TEST(CommandTest, SetResultStoresEachKindInTheCurrentScope)
{
    CommandResult result;
    host::ResultScope scope(result);

    MPxCommand::setResult(4294967295u);
    EXPECT_EQ(result, CommandResult(4294967295.0));
    MPxCommand::setResult(5u);
    EXPECT_EQ(result, CommandResult(5));
    MPxCommand::setResult(true);
    EXPECT_EQ(result, CommandResult(true));
    MPxCommand::setResult(MString("text"));
    EXPECT_EQ(result, CommandResult(std::string("text")));
    MIntArray numbers;
    numbers.append(3);
    numbers.append(-1);
    MPxCommand::setResult(numbers);
    scope.settle();
    EXPECT_EQ(result, CommandResult(std::vector<int> { 3, -1 }));
    MStringArray names;
    names.append("a");
    names.append("b");
    MPxCommand::setResult(names);
    EXPECT_EQ(result, CommandResult(std::vector<std::string> { "a", "b" }));
}

// The elements of an array result are moved into the result once the command's
// array is gone; an array that lives on, or changes afterwards, is copied.
TEST(CommandTest, AnIntArrayResultIsMovedNotCopied)
{
    CommandResult result;
    const int* elements = nullptr;
    {
        host::ResultScope scope(result);
        {
            MIntArray numbers;
            numbers.append(7);
            numbers.append(8);
            elements = &numbers[0];
            MPxCommand::setResult(numbers);
        }
        scope.settle();
    }
    ASSERT_EQ(result, CommandResult(std::vector<int> { 7, 8 }));
    EXPECT_EQ(std::get<std::vector<int>>(result).data(), elements);

    CommandResult kept;
    MIntArray lasting;
    lasting.append(1);
    {
        host::ResultScope scope(kept);
        MPxCommand::setResult(lasting);
        lasting[0] = 2;
        lasting.append(3);
    }
    EXPECT_EQ(kept, CommandResult(std::vector<int> { 1 }));
    EXPECT_EQ(lasting.length(), 2u);
    EXPECT_EQ(lasting[0], 2);
}

TEST(CommandTest, ANestedScopeGivesTheSlotBackWhenItEnds)
{
    CommandResult outer;
    host::ResultScope outerScope(outer);
    {
        CommandResult inner;
        host::ResultScope innerScope(inner);
        MPxCommand::setResult(1);
        EXPECT_EQ(inner, CommandResult(1));
    }
    MPxCommand::setResult(2.5);
    EXPECT_EQ(outer, CommandResult(2.5));
}

TEST(FnPluginTest, AnObjectThatNamesNoPluginRegistersNothing)
{
    MObject nothing;
    MStatus status;
    MFnPlugin plugin(nothing, "vendor", "1.0", "Any", &status);
    EXPECT_EQ(status, MS::kInvalidParameter);
    EXPECT_EQ(plugin.registerCommand("one", create<SetsTwoResults>), MS::kInvalidParameter);
    EXPECT_EQ(plugin.deregisterCommand("one"), MS::kInvalidParameter);
}

TEST(FnPluginTest, RegistersUnderTheLoadingPlugin)
{
    CommandRegistry registry;
    PluginRecord record { "tiles" };
    host::ObjectAccess::LoadingPlugin loading { &registry, &record };
    MObject object = host::ObjectAccess::objectFor(loading);
    MStatus status;
    MFnPlugin plugin(object, "pictile", "2.0", "Any", &status);

    EXPECT_EQ(status, MS::kSuccess);
    EXPECT_EQ(plugin.vendor(), "pictile");
    EXPECT_EQ(plugin.registerCommand("one", create<SetsTwoResults>), MS::kSuccess);
    EXPECT_EQ(registry.commandsOf(record), std::vector<std::string> { "one" });
    EXPECT_EQ(plugin.deregisterCommand("one"), MS::kSuccess);
    EXPECT_FALSE(registry.contains("one"));
}

}  // namespace
