// The built-in procedures of the script language, with the host's meaning.
#include "Interpreter.h"

#include "Parser.h"
#include "ScriptFile.h"

#include <host/ScriptEditor.h>

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <utility>

namespace hostbatch {

namespace {

std::size_t elementCount(const Value& value)
{
    return std::visit(
        [](const auto& held) -> std::size_t {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_arithmetic_v<Held>)
                return 0;
            else
                return held.size();
        },
        value);
}

// The reason to show for a failure; the loader may leave its text empty.
std::string reasonFor(const std::string& error, const MStatus& status)
{
    return error.empty() ? std::string(status.errorString().asChar()) : error;
}

}  // namespace

bool Interpreter::callBuiltin(const Expr& call, CallResult& result)
{
    const std::string& name = call.text;
    const int line = call.line;
    const auto& operands = call.operands;
    const auto arguments = [&](std::size_t fewest, std::size_t most) {
        if (operands.size() >= fewest && operands.size() <= most)
            return;
        const std::string count = fewest == most ? std::to_string(fewest)
                                                 : std::to_string(fewest) + " to " + std::to_string(most);
        fail(line,
            name + " takes " + count + " argument" + (most == 1 ? "" : "s") + ", not "
                + std::to_string(operands.size()));
    };
    const auto give = [&result](Value value) {
        result.hasValue = true;
        result.value = std::move(value);
    };
    const auto numberAt
        = [&](std::size_t i) { return number(eval(*operands[i]), operands[i]->line, name.c_str()); };
    const auto textAt = [&](std::size_t i) {
        const Value value = eval(*operands[i]);
        if (!isArray(typeOf(value)))
            return toText(value);
        fail(operands[i]->line, name + " takes a string, not " + std::string(typeName(typeOf(value))));
    };
    const auto variableAt = [&](std::size_t i) -> const Expr& {
        if (operands[i]->kind != Expr::Kind::Variable)
            fail(operands[i]->line, name + " needs a variable");
        return *operands[i];
    };

    if (name == "loadPlugin" || name == "unloadPlugin") {
        const bool load = name == "loadPlugin";
        if (operands.size() != 1) {
            host::ScriptEditor::show(host::LineKind::Error,
                name + ": expected one argument, " + (load ? "the plug-in's path" : "the plug-in's name"));
            throw Failure { MS::kInvalidParameter, true };
        }
        const std::string argument = textAt(0);
        MStatus status;
        std::string error;
        if (load) {
            const host::PluginLoader::LoadOutcome outcome = loader_.load(argument);
            status = outcome.status;
            error = outcome.error;
        } else {
            status = loader_.unload(argument, error);
        }
        if (!status) {
            host::ScriptEditor::show(host::LineKind::Error, reasonFor(error, status));
            throw Failure { status, true };
        }
    } else if (name == "print") {
        arguments(1, 1);
        const Value value = eval(*operands[0]);
        moveEditorLines();
        if (!isArray(typeOf(value))) {
            lines_.push_back(Line { LineKind::Output, toText(value) });
        } else {
            // An array prints one element per line.
            std::string text;
            std::visit(
                [&text](const auto& held) {
                    if constexpr (
                        !std::is_arithmetic_v<std::decay_t<
                            decltype(held)>> && !std::is_same_v<std::decay_t<decltype(held)>, std::string>)
                        for (const auto& element : held)
                            text += toText(Value(element)) + '\n';
                },
                value);
            lines_.push_back(Line { LineKind::Output, std::move(text) });
        }
    } else if (name == "error" || name == "warning") {
        arguments(1, 1);
        const std::string text = textAt(0);
        host::ScriptEditor::show(name == "error" ? host::LineKind::Error : host::LineKind::Warning, text);
        if (name == "error")
            throw Failure { MS::kFailure, true };
    } else if (name == "catch") {
        arguments(1, 1);
        try {
            evalDiscarded(*operands[0]);
            give(0);
        } catch (const Failure& failure) {
            if (!failure.catchable)
                throw;
            give(1);
        }
    } else if (name == "size") {
        arguments(1, 1);
        // A variable is measured where it lies: copying it would make a loop of
        // `$a[size($a)] = x` quadratic.
        Value scratch;
        const Value& value = valueOf(*operands[0], scratch);
        if (typeOf(value) == Type::Int || typeOf(value) == Type::Float)
            fail(line, "size takes a string or an array, not " + std::string(typeName(typeOf(value))));
        give(static_cast<int>(std::min<std::size_t>(elementCount(value), 2147483647)));
    } else if (name == "strlen") {
        arguments(1, 1);
        give(static_cast<int>(std::min<std::size_t>(textAt(0).size(), 2147483647)));
    } else if (name == "clear") {
        arguments(1, 1);
        const Expr& variable = variableAt(0);
        Value* value = find(variable.text);
        if (value == nullptr)
            fail(line, "$" + variable.text + " is not declared");
        if (!isArray(typeOf(*value)))
            fail(line, "$" + variable.text + " is not an array");
        *value = defaultValue(typeOf(*value));
    } else if (name == "substring") {
        arguments(3, 3);
        const std::string text = textAt(0);
        const int first = truncatedInt(numberAt(1));
        const int last = truncatedInt(numberAt(2));
        if (first < 1)
            fail(line, "substring: the first character is 1, not " + std::to_string(first));
        // Both ends count, from 1; a range past the end stops at the end.
        const std::size_t end = std::min<std::size_t>(text.size(), std::size_t(std::max(last, 0)));
        give(std::size_t(first) <= end ? text.substr(std::size_t(first) - 1, end - std::size_t(first) + 1)
                                       : std::string());
    } else if (name == "tokenize") {
        arguments(2, 3);
        const std::string text = textAt(0);
        const std::string separators = operands.size() == 3 ? textAt(1) : std::string(" ");
        const Expr& target = variableAt(operands.size() - 1);
        std::vector<std::string> tokens;
        std::size_t start = 0;
        while (start <= text.size()) {
            const std::size_t end = text.find_first_of(separators, start);
            const std::size_t stop = end == std::string::npos ? text.size() : end;
            if (stop > start) {
                tokens.push_back(text.substr(start, stop - start));
                checkSize(tokens.size(), line);
            }
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        const int count = static_cast<int>(tokens.size());
        setVariable(target.text, std::move(tokens), line);
        give(count);
    } else if (name == "abs") {
        arguments(1, 1);
        const Value value = eval(*operands[0]);
        if (typeOf(value) == Type::Int)
            give(std::get<int>(value) < 0 ? static_cast<int>(0u - static_cast<unsigned>(std::get<int>(value)))
                                          : std::get<int>(value));
        else
            give(std::fabs(number(value, line, "abs")));
    } else if (name == "min" || name == "max") {
        arguments(2, 2);
        const Value a = eval(*operands[0]);
        const Value b = eval(*operands[1]);
        const double x = number(a, line, name.c_str());
        const double y = number(b, line, name.c_str());
        const bool first = name == "min" ? x <= y : x >= y;
        if (typeOf(a) == Type::Int && typeOf(b) == Type::Int)
            give(first ? std::get<int>(a) : std::get<int>(b));
        else
            give(first ? x : y);
    } else if (name == "floor" || name == "ceil" || name == "sqrt") {
        arguments(1, 1);
        const double x = numberAt(0);
        give(name == "floor" ? std::floor(x) : name == "ceil" ? std::ceil(x) : std::sqrt(x));
    } else if (name == "pow") {
        arguments(2, 2);
        const double x = numberAt(0);
        give(std::pow(x, numberAt(1)));
    } else if (name == "eval") {
        arguments(1, 1);
        result = runText(textAt(0), line, "eval");
    } else if (name == "source") {
        arguments(1, 1);
        const std::string path = textAt(0);
        std::string text;
        std::string error;
        if (!readScriptFile(path, limits_.sourceSize, text, error))
            fail(line, error);
        runText(text, line, "source");
    } else {
        return false;
    }
    return true;
}

// Parses and runs `text` at the top level, as eval and source do; the value is
// that of its last statement when that statement called something.
Interpreter::CallResult Interpreter::runText(const std::string& text, int line, const char* what)
{
    const ParsedSource parsed = parseSource(text);
    if (!parsed.ok())
        fail(line,
            std::string(what) + ": line " + std::to_string(parsed.errorLine) + "."
                + std::to_string(parsed.errorColumn) + ": " + parsed.error);
    const DepthGuard depth(*this, line, true);
    for (const StmtPtr& statement : parsed.statements)
        if (statement->kind == Stmt::Kind::Procedure)
            define(statement->procedure);
    frames_.push_back(Frame { {}, {}, true });
    struct FramePop {
        std::vector<Frame>& frames;
        ~FramePop() { frames.pop_back(); }
    } pop { frames_ };
    CallResult result;
    for (const StmtPtr& statement : parsed.statements) {
        const Expr* call = statement->kind == Stmt::Kind::Expression ? statement->expression.get() : nullptr;
        if (call != nullptr && (call->kind == Expr::Kind::Call || call->kind == Expr::Kind::Command)) {
            tick(statement->line);
            result = invoke(*call);
            continue;
        }
        result = CallResult();
        const Flow flow = exec(*statement);
        if (flow != Flow::Normal)
            fail(statement->line,
                std::string(what) + ": break, continue or return outside a loop or procedure");
    }
    return result;
}

}  // namespace hostbatch
