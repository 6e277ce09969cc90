// Built-ins of the language itself: output, errors, catching, running text,
// and what a name or a variable is.
#include "Support.h"

#include <mel/Parser.h>
#include <mel/ScriptPath.h>

#include <host/ScriptEditor.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <iterator>
#include <memory>
#include <type_traits>

namespace mel {

namespace {

void print(Call& call)
{
    const Value value = call.value(0);
    if (!value.isArray()) {
        host::ScriptEditor::show(host::LineKind::Output, value.text());
        return;
    }
    // An array prints one element per line.
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i)
        text += value.element(i).text() + '\n';
    host::ScriptEditor::show(host::LineKind::Output, std::move(text));
}

void error(Call& call)
{
    host::ScriptEditor::show(host::LineKind::Error, call.text(0));
    call.failShown(MS::kFailure);
}

void warning(Call& call)
{
    host::ScriptEditor::show(host::LineKind::Warning, call.text(0));
}

void catchFailure(Call& call)
{
    call.give(call.attempt(0, false) ? 0 : 1);
}

void catchQuiet(Call& call)
{
    call.give(call.attempt(0, true) ? 0 : 1);
}

// eval joins its arguments with spaces, as the host does.
void eval(Call& call)
{
    std::string text = call.text(0);
    for (std::size_t i = 1; i < call.count(); ++i)
        text += ' ' + call.text(i);
    call.runText(text, "eval", true);
}

// evalEcho: eval that shows the text it runs first, as the host echoes it.
void evalEcho(Call& call)
{
    const std::string text = call.text(0);
    host::ScriptEditor::show(host::LineKind::Info, text);
    call.runText(text, "evalEcho", true);
}

// evalDeferred [-evaluateNext | -lowPriority | -lowestPriority] SCRIPT, or
// -list: a batch host has no idle time, so SCRIPT runs once the top-level
// source running has ended (the lower priorities after the others,
// -evaluateNext before them all). It is checked now, so that a syntax error
// shows where it was queued. -list gives the scripts waiting, of the priority
// given or of all.
void evalDeferred(Call& call)
{
    enum { EvaluateNext, LowPriority, LowestPriority, List };
    static const std::vector<FlagSpec> table = {
        { "-evaluateNext", "-en" },
        { "-lowPriority", "-low" },
        { "-lowestPriority", "-lp" },
        { "-list", "-ls" },
    };
    const Flags flags = readFlags(call, table);
    const int priority = flags.find(LowestPriority) ? 2 : flags.find(LowPriority) ? 1 : 0;
    std::deque<DeferredScripts::Script>& scripts = call.store().get<DeferredScripts>().scripts;
    if (flags.find(List)) {
        const bool any = !flags.find(LowestPriority) && !flags.find(LowPriority);
        std::vector<std::string> texts;
        for (const DeferredScripts::Script& script : scripts)
            if (any || script.priority == priority)
                texts.push_back(script.text);
        call.give(std::move(texts));
        return;
    }
    if (flags.positional.size() != 1)
        call.fail("evalDeferred takes one script");
    std::string text = flags.text(call, flags.positional[0]);
    std::vector<std::shared_ptr<const Procedure>> procedures;
    std::string error;
    if (!hoistProcedures(text, procedures, error))
        call.fail("evalDeferred: " + error);
    if (flags.find(EvaluateNext)) {
        scripts.push_front({ std::move(text), 0 });
        return;
    }
    auto after = scripts.end();
    while (after != scripts.begin() && std::prev(after)->priority > priority)
        --after;
    scripts.insert(after, { std::move(text), priority });
}

// trace [-where] TEXT: the text on standard error as it is, away from the
// transcript; -where puts the line it was called from before it.
void trace(Call& call)
{
    static const std::vector<FlagSpec> table = { { "-where", "-w" } };
    const Flags flags = readFlags(call, table);
    if (flags.positional.size() != 1)
        call.fail("trace takes one text");
    const std::string text = flags.text(call, flags.positional[0]);
    if (flags.find(0))
        std::fprintf(stderr, "line %d: ", call.line());
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

// The text of the last error shown, caught or not; "" before the first.
void getLastError(Call& call)
{
    call.give(host::ScriptEditor::lastError());
}

void source(Call& call)
{
    call.runFile(findScript(call.text(0)));
}

void size(Call& call)
{
    // A variable is measured where it lies: copying it would make a loop of
    // `$a[size($a)] = x` quadratic.
    Value scratch;
    const Value& value = call.valueOf(0, scratch);
    if (value.type() != Type::String && !value.isArray())
        failType(call, "a string or an array", value.type());
    call.give(static_cast<int>(std::min<std::size_t>(value.size(), 2147483647)));
}

void clear(Call& call)
{
    const Value value = call.value(0);
    if (!value.isArray())
        failType(call, "an array", value.type());
    call.assign(0, Value::ofType(value.type()));
}

void exists(Call& call)
{
    call.give(call.lookup(call.text(0)) == NameKind::None ? 0 : 1);
}

void whatIs(Call& call)
{
    const std::string name = call.text(0);
    if (!name.empty() && name.front() == '$') {
        const std::optional<Type> type = call.variableType(name.substr(1));
        call.give(type ? std::string(typeName(*type)) + " variable" : std::string("Unknown"));
        return;
    }
    switch (call.lookup(name)) {
    case NameKind::Builtin:
    case NameKind::Command:
        call.give(std::string("Command"));
        return;
    case NameKind::Procedure: {
        const std::string file = call.procedureFile(name);
        call.give(file.empty() ? std::string("Mel procedure entered interactively.")
                               : "Mel procedure found in: " + file);
        return;
    }
    case NameKind::Script:
        call.give("Script found in: " + autoLoadScript(name));
        return;
    case NameKind::None:
        break;
    }
    call.give(std::string("Unknown"));
}

}  // namespace

std::vector<Builtin> languageBuiltins()
{
    return {
        { "print", 1, 1, print },
        { "error", 1, 1, error },
        { "warning", 1, 1, warning },
        { "catch", 1, 1, catchFailure },
        { "catchQuiet", 1, 1, catchQuiet },
        { "eval", 1, Builtin::kAnyCount, eval },
        { "evalEcho", 1, 1, evalEcho },
        { "evalDeferred", 1, 4, evalDeferred },
        { "trace", 1, 2, trace },
        { "getLastError", 0, 0, getLastError },
        { "source", 1, 1, source },
        { "size", 1, 1, size },
        { "clear", 1, 1, clear },
        { "exists", 1, 1, exists },
        { "whatIs", 1, 1, whatIs },
    };
}

}  // namespace mel
