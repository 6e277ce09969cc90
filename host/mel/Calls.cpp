// The call machinery: the one lookup of a name, and calling what it finds. A
// built-in gets its row's argument count checked once and reads its arguments
// through one narrow context; a procedure gets a frame of its own, arrays by
// reference; a command gets its arguments as text through the registry.
#include "Interpreter.h"

#include "ScriptPath.h"

#include <host/ScriptEditor.h>
#include <maya/MArgList.h>
#include <maya/MString.h>

#include <algorithm>
#include <utility>

namespace mel {

class Interpreter::BuiltinCall final : public Call {
public:
    BuiltinCall(Interpreter& interpreter, const Expr& call, CallResult& result)
        : interpreter_(interpreter)
        , call_(call)
        , result_(result)
    {
    }

    const std::string& name() const override { return call_.text; }
    int line() const override { return call_.line; }
    std::size_t count() const override { return call_.operands.size(); }

    Value value(std::size_t i) override { return interpreter_.eval(*call_.operands[i]); }

    const Value& valueOf(std::size_t i, Value& scratch) override
    {
        return interpreter_.valueOf(*call_.operands[i], scratch);
    }

    std::string text(std::size_t i) override
    {
        const Value value = this->value(i);
        if (!value.isArray())
            return value.text();
        interpreter_.fail(call_.operands[i]->line,
            call_.text + " takes a string, not " + std::string(typeName(value.type())));
    }

    // A string where a number is needed gives its leading number, as "3" does.
    double number(std::size_t i) override
    {
        const Value value = this->value(i);
        if (value.type() == Type::String)
            return leadingNumber(std::get<std::string>(value));
        return interpreter_.number(value, call_.operands[i]->line, call_.text.c_str());
    }

    void assign(std::size_t i, Value value) override
    {
        const Expr& target = *call_.operands[i];
        if (target.kind != Expr::Kind::Variable)
            interpreter_.fail(target.line, call_.text + " needs a variable");
        interpreter_.setVariable(target.text, std::move(value), target.line);
    }

    bool attempt(std::size_t i, bool quiet) override
    {
        // The lines from before belong to the statement and stay; a quiet attempt
        // drops only the error lines it shows itself.
        std::vector<host::EditorLine> before;
        if (quiet) {
            // Streamed lines go out now, so that none the attempt streams passes them.
            interpreter_.handOnLines();
            before = host::ScriptEditor::take();
        }
        bool succeeded = true;
        try {
            interpreter_.evalDiscarded(*call_.operands[i]);
        } catch (const Failure& failure) {
            if (!failure.catchable) {
                restore(before, false);
                throw;
            }
            succeeded = false;
        } catch (...) {
            restore(before, false);
            throw;
        }
        if (quiet)
            restore(before, true);
        return succeeded;
    }

    void give(Value value) override
    {
        interpreter_.checkValue(value, call_.line);
        result_.hasValue = true;
        result_.value = std::move(value);
    }

    // A built-in's result grows through these, so they also look at the memory held.
    void checkSize(std::size_t size) override
    {
        interpreter_.checkSize(size, call_.line);
        if (interpreter_.limits_.memory != 0)
            interpreter_.checkMemory(call_.line);
    }
    void checkText(std::size_t size) override
    {
        interpreter_.checkText(size, call_.line);
        if (interpreter_.limits_.memory != 0)
            interpreter_.checkMemory(call_.line);
    }

    void runText(const std::string& text, const char* what, bool giveValue) override
    {
        CallResult result = interpreter_.runText(text, call_.line, what);
        if (giveValue)
            result_ = std::move(result);
    }

    void runFile(const std::string& path) override { interpreter_.runFile(path, call_.line); }

    NameKind lookup(const std::string& name) override { return interpreter_.lookup(name); }

    std::string procedureFile(const std::string& name) override
    {
        const auto found = interpreter_.procedureFiles_.find(name);
        if (found != interpreter_.procedureFiles_.end())
            return found->second;
        const bool defined = interpreter_.procedures_.count(name) != 0;
        return defined || interpreter_.builtins_.count(name) == 0 ? std::string() : "the standard library";
    }

    std::optional<Type> variableType(const std::string& name) override
    {
        const Value* variable = interpreter_.environment_.find(name);
        if (variable == nullptr)
            return std::nullopt;
        return variable->type();
    }

    void checkInterrupt() override { interpreter_.checkInterrupt(call_.line); }

    [[noreturn]] void endRun(std::optional<int> status) override { interpreter_.endRun(status); }

    SessionStore& store() override { return interpreter_.store_; }

private:
    void raise(const std::string* what, MStatus status) override
    {
        if (what != nullptr)
            interpreter_.fail(call_.line, *what);
        throw Failure { status, true };
    }

    // Shows again the lines taken before an attempt, then those it showed, but
    // for its errors and warnings when it was quiet.
    static void restore(std::vector<host::EditorLine>& before, bool quiet)
    {
        std::vector<host::EditorLine> during = host::ScriptEditor::take();
        for (host::EditorLine& line : before)
            host::ScriptEditor::show(line.kind, std::move(line.text));
        for (host::EditorLine& line : during)
            if (!quiet || (line.kind != host::LineKind::Error && line.kind != host::LineKind::Warning))
                host::ScriptEditor::show(line.kind, std::move(line.text));
    }

    Interpreter& interpreter_;
    const Expr& call_;
    CallResult& result_;
};

namespace {

// An expression whose value is `value`, as a literal of a script would give it.
ExprPtr literalOf(Value&& value)
{
    auto literal = std::make_unique<Expr>();
    switch (value.type()) {
    case Type::Int:
        literal->kind = Expr::Kind::Int;
        literal->number = std::get<int>(value);
        break;
    case Type::Float:
        literal->kind = Expr::Kind::Float;
        literal->real = std::get<double>(value);
        break;
    case Type::String:
        literal->kind = Expr::Kind::String;
        literal->text = std::get<std::string>(std::move(value));
        break;
    case Type::Vector: {
        literal->kind = Expr::Kind::Vector;
        const Vector3& vector = std::get<Vector3>(value);
        for (const double component : { vector.x, vector.y, vector.z })
            literal->operands.push_back(literalOf(Value(component)));
        break;
    }
    default:  // an array: a literal of its elements
        literal->kind = Expr::Kind::Array;
        for (std::size_t i = 0; i < value.size(); ++i)
            literal->operands.push_back(literalOf(value.element(i)));
        break;
    }
    return literal;
}

}  // namespace

StatementOutcome Interpreter::call(
    const std::string& name, std::vector<Value> arguments, const Report& report)
{
    auto call = std::make_unique<Expr>();
    call->kind = Expr::Kind::Call;
    call->text = name;
    for (Value& argument : arguments)
        call->operands.push_back(literalOf(std::move(argument)));
    arguments.clear();
    Stmt statement;
    statement.kind = Stmt::Kind::Expression;
    statement.firstWord = name;
    statement.expression = std::move(call);
    streamLinesTo(report, statement.firstWord);
    StatementOutcome outcome = runStatement(statement);
    lineSink_ = nullptr;
    return outcome;
}

Interpreter::CallResult Interpreter::callBuiltin(const Builtin& builtin, const Expr& call)
{
    const std::size_t count = call.operands.size();
    const std::size_t fewest = std::size_t(builtin.fewest);
    const bool bounded = builtin.most != Builtin::kAnyCount;
    const std::size_t most = bounded ? std::size_t(builtin.most) : 0;
    if (count < fewest || (bounded && count > most)) {
        const std::string expected = !bounded ? "at least " + std::to_string(fewest)
            : fewest == most                  ? std::to_string(fewest)
                                              : std::to_string(fewest) + " to " + std::to_string(most);
        fail(call.line,
            call.text + " takes " + expected + " argument" + ((bounded ? most : fewest) == 1 ? "" : "s")
                + ", not " + std::to_string(count));
    }
    CallResult result;
    BuiltinCall context(*this, call, result);
    builtin.run(context);
    return result;
}

// Sources the script named after a procedure not defined yet, as the host's
// auto-loading does; true when that defined it.
bool Interpreter::autoLoad(const std::string& name, int line)
{
    const std::string path = autoLoadScript(name);
    if (path.empty())
        return false;
    runFile(path, line);
    return procedures_.count(name) != 0;
}

// The one lookup: a built-in, a procedure, a registered command, and last a
// script on MAYA_SCRIPT_PATH named after the procedure, which defines it. A
// procedure a script defined goes before the library's procedure of its name.
Interpreter::CallResult Interpreter::invoke(const Expr& call)
{
    const auto builtin = builtins_.find(call.text);
    if (builtin != builtins_.end()
        && (builtin->second.kind == Builtin::Kind::Command || procedures_.count(call.text) == 0))
        return callBuiltin(builtin->second, call);
    auto procedure = procedures_.find(call.text);
    if (procedure == procedures_.end() && !registry_.contains(call.text) && autoLoad(call.text, call.line))
        procedure = procedures_.find(call.text);
    if (procedure != procedures_.end()) {
        // Held, so that a procedure that redefines itself keeps running.
        const std::shared_ptr<const Procedure> running = procedure->second;
        return callProcedure(*running, call);
    }
    return callCommand(call);
}

NameKind Interpreter::lookup(const std::string& name)
{
    const auto builtin = builtins_.find(name);
    if (builtin != builtins_.end() && builtin->second.kind == Builtin::Kind::Command)
        return NameKind::Builtin;
    if (builtin != builtins_.end() || procedures_.count(name) != 0)
        return NameKind::Procedure;
    if (registry_.contains(name))
        return NameKind::Command;
    return autoLoadScript(name).empty() ? NameKind::None : NameKind::Script;
}

Interpreter::CallResult Interpreter::callProcedure(const Procedure& procedure, const Expr& call)
{
    if (call.operands.size() != procedure.parameters.size())
        fail(call.line,
            procedure.name + " takes " + std::to_string(procedure.parameters.size()) + " argument"
                + (procedure.parameters.size() == 1 ? "" : "s") + ", not "
                + std::to_string(call.operands.size()));
    Environment::Scope parameters;
    // An array variable passed to an array parameter of its type is passed by
    // reference, as MEL passes arrays: it moves into the parameter for the call
    // and back when the call ends, however it ends.
    struct Reference {
        Value* caller;
        std::string parameter;
    };
    std::vector<Reference> references;
    for (std::size_t i = 0; i < procedure.parameters.size(); ++i) {
        const Parameter& parameter = procedure.parameters[i];
        const Expr& operand = *call.operands[i];
        if (isArray(parameter.type) && operand.kind == Expr::Kind::Variable) {
            Value* variable = environment_.find(operand.text);
            const bool passedAlready = std::any_of(references.begin(), references.end(),
                [variable](const Reference& reference) { return reference.caller == variable; });
            if (variable != nullptr && variable->type() == parameter.type && !passedAlready) {
                references.push_back(Reference { variable, parameter.name });
                continue;
            }
        }
        Value argument = eval(operand);
        const Type from = argument.type();
        Value converted;
        if (!convert(std::move(argument), parameter.type, converted))
            fail(call.line,
                procedure.name + ": $" + parameter.name + " is " + withArticle(parameter.type) + ", not "
                    + withArticle(from));
        parameters[parameter.name] = std::move(converted);
    }
    const DepthGuard depth(*this, call.line, true);
    environment_.enterProcedure(std::move(parameters));
    struct FramePop {
        Environment& environment;
        const std::vector<Reference>& references;
        ~FramePop()
        {
            Environment::Scope& parameters = environment.parameters();
            for (const Reference& reference : references)
                *reference.caller = std::move(parameters[reference.parameter]);
            environment.leave();
        }
    } pop { environment_, references };
    for (const Reference& reference : references)
        environment_.parameters()[reference.parameter] = std::move(*reference.caller);
    const Flow flow = exec(*procedure.body);
    if (flow == Flow::Break || flow == Flow::Continue)
        fail(call.line, std::string(flow == Flow::Break ? "break" : "continue") + " outside a loop");
    CallResult result;
    if (!procedure.returnsValue)
        return result;
    result.hasValue = true;
    Value returned
        = flow == Flow::Return ? std::exchange(returnValue_, Value()) : Value::ofType(procedure.returnType);
    const Type from = returned.type();
    if (!convert(std::move(returned), procedure.returnType, result.value))
        fail(call.line,
            procedure.name + " returns " + withArticle(procedure.returnType) + ", not " + withArticle(from));
    return result;
}

Interpreter::CallResult Interpreter::callCommand(const Expr& call)
{
    MArgList args;
    for (const ExprPtr& operand : call.operands) {
        if ((operand->kind == Expr::Kind::Int || operand->kind == Expr::Kind::Float)
            && !operand->text.empty()) {
            // A number word reaches the command as it was written: 1.50, 007.
            tick(operand->line);
            args.addArg(MString(operand->text));
            continue;
        }
        const Value value = eval(*operand);
        if (!value.isArray()) {
            args.addArg(MString(value.text()));
            continue;
        }
        // An array hands each element over as an argument of its own.
        for (std::size_t i = 0; i < value.size(); ++i)
            args.addArg(MString(value.element(i).text()));
    }
    host::Invocation invocation = registry_.run(call.text, args, limits_.valueSize);
    if (invocation.passedArrayBound)
        checkSize(limits_.valueSize + 1, call.line);
    if (!invocation.status)
        throw Failure { invocation.status, true };  // the command or the registry has shown why
    checkResult(invocation.result, call.line);
    CallResult result;
    result.fromCommand = true;
    result.commandResult = std::move(invocation.result);
    return result;
}

}  // namespace mel
