#include "Interpreter.h"

#include "Memory.h"

#include <host/ScriptEditor.h>
#include <maya/MArgList.h>
#include <maya/MString.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace mel {

void Interpreter::setLimits(const Limits& limits)
{
    limits_ = limits;
    if (limits_.memory != 0)
        MemoryClock::start();
}

void Interpreter::addBuiltin(Builtin builtin)
{
    std::string name = builtin.name;
    builtins_[std::move(name)] = std::move(builtin);
}

std::vector<std::string> Interpreter::builtinNames() const
{
    std::vector<std::string> names;
    for (const auto& entry : builtins_)
        names.push_back(entry.first);
    std::sort(names.begin(), names.end());
    return names;
}

void Interpreter::define(std::shared_ptr<const Procedure> procedure)
{
    const std::string name = procedure->name;
    std::shared_ptr<const Procedure>& defined = procedures_[name];
    if (defined)
        replaced_.push_back(std::move(defined));  // it may be running
    defined = std::move(procedure);
    ++procedureGeneration_;
    // whatIs names the script a procedure came from.
    if (sourcing_.empty())
        procedureFiles_.erase(name);
    else
        procedureFiles_[name] = sourcing_;
}

namespace {

// Line 0 is a call from outside any script (Interpreter::call): it has no line to name.
std::string errorLine(int line, const std::string& what)
{
    return line > 0 ? "line " + std::to_string(line) + ": " + what : what;
}

}  // namespace

void Interpreter::fail(int line, const std::string& what)
{
    host::ScriptEditor::show(host::LineKind::Error, errorLine(line, what));
    throw Failure { MS::kFailure, true };
}

void Interpreter::failLimit(int line, const std::string& what)
{
    host::ScriptEditor::show(host::LineKind::Error, errorLine(line, what));
    throw Failure { MS::kFailure, false };
}

void Interpreter::checkpoint(int line)
{
    // Steps come counted a run of code at a time: the bound holds to the run.
    constexpr std::int64_t kRun = 128;
    steps_ += std::uint64_t(ticksGranted_ - ticksLeft_);
    checkInterrupt(line);
    if (limits_.steps != 0 && steps_ > limits_.steps)
        failLimit(line, "the statement ran more than " + std::to_string(limits_.steps) + " steps");
    checkOutput(line);
    if (limits_.memory != 0)
        checkMemory(line);
    const std::int64_t run
        = limits_.steps != 0 ? std::min<std::int64_t>(kRun, std::int64_t(limits_.steps - steps_) + 1) : kRun;
    ticksGranted_ = ticksLeft_ = run;
}

void Interpreter::failInterrupted(int line)
{
    // Seen once: a Ctrl-C that came while no statement could stop (between
    // statements, or in a command) stops the next one as it starts.
    *interrupt_ = 0;
    failLimit(line, "interrupted");
}

void Interpreter::checkMemory(int line)
{
    // Looked at every few milliseconds: time enough for a script to allocate
    // a few hundred MiB at most meanwhile, and a look costs microseconds.
    const std::uint64_t tick = MemoryClock::now();
    if (tick == memoryLooked_)
        return;
    memoryLooked_ = tick;
    if (allocatedBytes() > limits_.memory)
        failLimit(line, "the session holds more than " + std::to_string(limits_.memory) + " bytes");
}

void Interpreter::endRun(std::optional<int> status)
{
    stopRequested_ = true;
    runEnded_ = true;
    endStatus_ = status;
    store_.get<DeferredScripts>().scripts.clear();
    // Not catchable, so that nothing of the statement runs after it, and a success.
    throw Failure { MS::kSuccess, false };
}

void Interpreter::checkOutput(int line)
{
    // Lines are handed on in pieces of this size, looked at every few steps
    // (a step prints at most one value, itself bounded).
    constexpr std::size_t kStreamBytes = std::size_t { 1 } << 16;
    const std::size_t held = host::ScriptEditor::heldBytes();
    if (lineSink_ && held > kStreamBytes)
        lineSink_(takeLines());
    else if (!lineSink_ && limits_.outputSize != 0 && held > limits_.outputSize)
        failLimit(line, "the statement printed more than " + std::to_string(limits_.outputSize) + " bytes");
}

// Undoes the counts DepthGuard took, then says which bound was passed.
void Interpreter::failDepth(int line, int levels, bool call)
{
    if (nesting_ > kMaxNesting) {
        nesting_ -= levels;
        failLimit(line, "the script nests deeper than " + std::to_string(kMaxNesting) + " levels");
    }
    if (call)
        --depth_;
    nesting_ -= levels;
    failLimit(line, "procedure calls nest deeper than " + std::to_string(limits_.callDepth) + " levels");
}

void Interpreter::checkSize(std::size_t size, int line)
{
    if (limits_.valueSize != 0 && size > limits_.valueSize)
        failLimit(line, "an array of more than " + std::to_string(limits_.valueSize) + " elements");
}

void Interpreter::checkText(std::size_t size, int line)
{
    if (limits_.stringSize != 0 && size > limits_.stringSize)
        failLimit(line, "a string of more than " + std::to_string(limits_.stringSize) + " bytes");
}

void Interpreter::checkValue(const Value& value, int line)
{
    if (value.type() == Type::String)
        checkText(value.size(), line);
    else if (value.isArray())
        checkSize(value.size(), line);
    else if (value.type() == Type::Matrix)
        checkSize(std::get<Matrix>(value).elements.size(), line);
}

void Interpreter::checkResult(const host::CommandResult& result, int line)
{
    if (const auto* text = std::get_if<std::string>(&result))
        checkText(text->size(), line);
    else if (const auto* ints = std::get_if<std::vector<int>>(&result))
        checkSize(ints->size(), line);
    else if (const auto* strings = std::get_if<std::vector<std::string>>(&result))
        checkSize(strings->size(), line);
}

// ---- variables found by name

// Assigning to an undeclared variable declares it with the value's type.
void Interpreter::setVariable(const std::string& name, Value value, int line, VariableSlot* slot)
{
    Value* variable = slot != nullptr ? environment_.find(name, *slot) : environment_.find(name);
    if (variable == nullptr) {
        environment_.declare(name, std::move(value), false);
        return;
    }
    // A value that does not convert is left as it was, to be named.
    if (!assignConverted(std::move(value), *variable))
        fail(line, "cannot assign " + described(value) + " to $" + name + ", " + described(*variable));
}

void Interpreter::declareVariable(const DeclarationInfo& declaration, Value value, int line)
{
    Value* existing = declaration.global ? nullptr : environment_.find(declaration.name);
    const bool sameScope = existing != nullptr && environment_.declaredInScope(declaration.name);
    if (sameScope && existing->type() != declaration.type)
        fail(line, "$" + declaration.name + " is already declared as " + withArticle(existing->type()));
    const Value& declared = environment_.declare(declaration.name, std::move(value), declaration.global);
    if (declaration.type == Type::Matrix && std::get<Matrix>(declared).rows == 0)
        fail(line,
            "global matrix $" + declaration.name + " has no size yet: declare it first as matrix $"
                + declaration.name + "[rows][columns]");
}

void Interpreter::setVariableElement(const std::string& name, int index, Value value, int line)
{
    checkSize(std::size_t(index) + 1, line);
    Value* variable = environment_.find(name);
    if (variable == nullptr) {
        if (value.isArray())
            fail(line, "an array cannot be an element of $" + name);
        variable = &environment_.declare(name, Value::ofType(arrayType(value.type())), false);
    }
    setElement(*variable, index, std::move(value), name, line);
}

}  // namespace mel
