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

Interpreter::Interpreter(host::CommandRegistry& registry)
    : registry_(registry)
{
}

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
    procedures_[name] = std::move(procedure);
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
    // A run never reaches past the step bound, so the bound holds to the step.
    constexpr std::uint64_t kRun = 16;
    steps_ += ticksGranted_;
    checkInterrupt(line);
    if (limits_.steps != 0 && steps_ > limits_.steps)
        failLimit(line, "the statement ran more than " + std::to_string(limits_.steps) + " steps");
    checkOutput(line);
    if (limits_.memory != 0)
        checkMemory(line);
    const std::uint64_t run = limits_.steps != 0 ? std::min(kRun, limits_.steps - steps_ + 1) : kRun;
    ticksGranted_ = ticksLeft_ = static_cast<unsigned>(run);
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
void Interpreter::failDepth(int line, bool call)
{
    if (nesting_ > kMaxNesting) {
        --nesting_;
        failLimit(line, "the script nests deeper than " + std::to_string(kMaxNesting) + " levels");
    }
    if (call)
        --depth_;
    --nesting_;
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

// ---- statements

Interpreter::Flow Interpreter::exec(const Stmt& statement)
{
    const DepthGuard depth(*this, statement.line, false);
    tick(statement.line);
    switch (statement.kind) {
    case Stmt::Kind::Empty:
        return Flow::Normal;
    case Stmt::Kind::Expression:
        evalDiscarded(*statement.expression);
        return Flow::Normal;
    case Stmt::Kind::Declaration:
        execDeclaration(statement);
        return Flow::Normal;
    case Stmt::Kind::Block: {
        const Environment::BlockScope scope(environment_);
        return execBody(statement.body, 0);
    }
    case Stmt::Kind::If:
        if (truth(*statement.condition))
            return exec(*statement.body[0]);
        return statement.body.size() > 1 ? exec(*statement.body[1]) : Flow::Normal;
    case Stmt::Kind::While:
        while (truth(*statement.condition)) {
            bool stop = false;
            const Flow flow = execLoopBody(statement, stop);
            if (stop)
                return flow;
        }
        return Flow::Normal;
    case Stmt::Kind::DoWhile:
        do {
            bool stop = false;
            const Flow flow = execLoopBody(statement, stop);
            if (stop)
                return flow;
        } while (truth(*statement.condition));
        return Flow::Normal;
    case Stmt::Kind::For:
        if (statement.expression)
            evalDiscarded(*statement.expression);
        while (!statement.condition || truth(*statement.condition)) {
            bool stop = false;
            const Flow flow = execLoopBody(statement, stop);
            if (stop)
                return flow;
            if (statement.step)
                evalDiscarded(*statement.step);
        }
        return Flow::Normal;
    case Stmt::Kind::ForIn:
        return execForIn(statement);
    case Stmt::Kind::Switch:
        return execSwitch(statement);
    case Stmt::Kind::Break:
        return Flow::Break;
    case Stmt::Kind::Continue:
        return Flow::Continue;
    case Stmt::Kind::Return:
        returnValue_ = statement.expression ? eval(*statement.expression) : Value(std::string());
        return Flow::Return;
    case Stmt::Kind::Procedure:
        define(statement.procedure);
        return Flow::Normal;
    }
    return Flow::Normal;
}

Interpreter::Flow Interpreter::execBody(const std::vector<StmtPtr>& body, std::size_t first)
{
    for (std::size_t i = first; i < body.size(); ++i) {
        const Flow flow = exec(*body[i]);
        if (flow != Flow::Normal)
            return flow;
    }
    return Flow::Normal;
}

// Runs a loop's body once; `stop` tells the loop to end and return the flow.
Interpreter::Flow Interpreter::execLoopBody(const Stmt& statement, bool& stop)
{
    const Flow flow = exec(*statement.body[0]);
    stop = flow == Flow::Break || flow == Flow::Return;
    return flow == Flow::Break ? Flow::Normal : flow;
}

Interpreter::Flow Interpreter::execForIn(const Stmt& statement)
{
    const Value array = eval(*statement.condition);
    if (!array.isArray())
        fail(statement.line, "for-in needs an array, not " + withArticle(array.type()));
    const std::size_t count = array.size();
    for (std::size_t i = 0; i < count; ++i) {
        setVariable(statement.variable, array.element(i), statement.line);
        bool stop = false;
        const Flow flow = execLoopBody(statement, stop);
        if (stop)
            return flow;
    }
    return Flow::Normal;
}

Interpreter::Flow Interpreter::execSwitch(const Stmt& statement)
{
    const Value subject = eval(*statement.condition);
    if (subject.isArray())
        fail(statement.line, "switch needs a scalar, not " + withArticle(subject.type()));
    // A matching case wins over default, wherever default stands.
    const CaseLabel* chosen = nullptr;
    const CaseLabel* fallback = nullptr;
    for (const CaseLabel& label : statement.labels) {
        if (!label.value) {
            fallback = &label;
            continue;
        }
        const Value value = eval(*label.value);
        const bool textual = value.type() == Type::String || subject.type() == Type::String;
        const bool equal = textual
            ? value.text() == subject.text()
            : number(value, statement.line, "case") == number(subject, statement.line, "switch");
        if (equal) {
            chosen = &label;
            break;
        }
    }
    if (chosen == nullptr)
        chosen = fallback;
    if (chosen == nullptr)
        return Flow::Normal;
    // Cases fall through into the next until a break, as in C.
    const Flow flow = execBody(statement.body, chosen->first);
    return flow == Flow::Break ? Flow::Normal : flow;
}

void Interpreter::execDeclaration(const Stmt& statement)
{
    for (const Declarator& declarator : statement.declarators) {
        const Type type = declarator.array ? arrayType(statement.declaredType) : statement.declaredType;
        Value value = Value::ofType(type);
        if (type == Type::Matrix && declarator.rows > 0) {
            checkSize(declarator.rows * declarator.columns, declarator.line);
            value = Matrix(declarator.rows, declarator.columns);
        }
        if (declarator.size) {
            const int size = indexOf(*declarator.size);
            checkSize(std::size_t(size), declarator.line);
            value.resize(std::size_t(size));
        }
        if (declarator.initialiser) {
            Value initial = eval(*declarator.initialiser);
            // A value that does not convert is left as it was, to be named.
            if (!assignConverted(std::move(initial), value))
                fail(declarator.line,
                    "cannot initialise $" + declarator.name + ", " + described(value) + ", with "
                        + described(initial));
        }
        Value* existing = statement.global ? nullptr : environment_.find(declarator.name);
        const bool sameScope = existing != nullptr && environment_.declaredInScope(declarator.name);
        if (sameScope && existing->type() != type)
            fail(declarator.line,
                "$" + declarator.name + " is already declared as " + withArticle(existing->type()));
        const Value& declared = environment_.declare(declarator.name, std::move(value), statement.global);
        if (type == Type::Matrix && std::get<Matrix>(declared).rows == 0)
            fail(declarator.line,
                "global matrix $" + declarator.name + " has no size yet: declare it first as matrix $"
                    + declarator.name + "[rows][columns]");
    }
}

// ---- variables

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

// ---- expressions

void Interpreter::evalDiscarded(const Expr& expression)
{
    if (expression.kind == Expr::Kind::Assign) {
        const DepthGuard depth(*this, expression.line, false);
        tick(expression.line);
        assign(expression, false);
        return;
    }
    if (expression.kind == Expr::Kind::Sequence) {
        for (const ExprPtr& operand : expression.operands)
            evalDiscarded(*operand);
        return;
    }
    int stepped = 0;
    if (expression.kind == Expr::Kind::Step && stepInt(expression, stepped))
        return;
    eval(expression);
}

Value Interpreter::eval(const Expr& expression)
{
    const DepthGuard depth(*this, expression.line, false);
    tick(expression.line);
    switch (expression.kind) {
    case Expr::Kind::Int:
        return expression.number;
    case Expr::Kind::Float:
        return expression.real;
    case Expr::Kind::String:
        return expression.text;
    case Expr::Kind::Array:
        return evalArray(expression);
    case Expr::Kind::Variable: {
        const Value* variable = environment_.find(expression.text, expression.slot);
        if (variable == nullptr)
            fail(expression.line, "$" + expression.text + " is not declared");
        return *variable;
    }
    case Expr::Kind::Index:
        return evalIndex(expression);
    case Expr::Kind::Unary:
        return evalUnary(expression);
    case Expr::Kind::Binary:
        return evalBinary(expression);
    case Expr::Kind::Cast: {
        Value value = eval(*expression.operands[0]);
        const Type from = value.type();
        Value cast;
        if (!convert(std::move(value), expression.castType, cast))
            fail(
                expression.line, "cannot cast " + withArticle(from) + " to " + typeName(expression.castType));
        return cast;
    }
    case Expr::Kind::Matrix:
        return evalMatrix(expression);
    case Expr::Kind::Vector: {
        Vector3 vector;
        vector.x = number(eval(*expression.operands[0]), expression.line, "vector");
        vector.y = number(eval(*expression.operands[1]), expression.line, "vector");
        vector.z = number(eval(*expression.operands[2]), expression.line, "vector");
        return vector;
    }
    case Expr::Kind::Component: {
        const Value value = eval(*expression.operands[0]);
        if (value.type() != Type::Vector) {
            const Expr& of = *expression.operands[0];
            fail(expression.line,
                (of.kind == Expr::Kind::Index ? "an element of $" : "$") + of.text + " is "
                    + withArticle(value.type()) + ", not a vector");
        }
        const Vector3& vector = std::get<Vector3>(value);
        return expression.number == 0 ? vector.x : expression.number == 1 ? vector.y : vector.z;
    }
    case Expr::Kind::Ternary:
        return truth(*expression.operands[0]) ? eval(*expression.operands[1]) : eval(*expression.operands[2]);
    case Expr::Kind::Assign:
        return assign(expression, true);
    case Expr::Kind::Step:
        return step(expression);
    case Expr::Kind::Call:
    case Expr::Kind::Command: {
        CallResult result = invoke(expression);
        if (result.fromCommand)
            return fromCommandResult(std::move(result.commandResult));
        return result.hasValue ? std::move(result.value) : Value(std::string());
    }
    case Expr::Kind::Sequence:
        for (std::size_t i = 0; i + 1 < expression.operands.size(); ++i)
            evalDiscarded(*expression.operands[i]);
        return eval(*expression.operands.back());
    }
    return 0;
}

const Value& Interpreter::valueOf(const Expr& expression, Value& scratch)
{
    if (expression.kind == Expr::Kind::Variable) {
        const DepthGuard depth(*this, expression.line, false);
        tick(expression.line);
        const Value* variable = environment_.find(expression.text, expression.slot);
        if (variable == nullptr)
            fail(expression.line, "$" + expression.text + " is not declared");
        return *variable;
    }
    scratch = eval(expression);
    return scratch;
}

bool Interpreter::truth(const Expr& expression)
{
    int held = 0;
    if (intValue(expression, held))
        return held != 0;
    Value scratch;
    const Value& value = valueOf(expression, scratch);
    // A vector is true when it is not <<0, 0, 0>>.
    if (value.type() == Type::Vector)
        return !(std::get<Vector3>(value) == Vector3());
    return number(value, expression.line, "condition") != 0;
}

int Interpreter::indexOf(const Expr& expression)
{
    Value scratch;
    const Value& value = valueOf(expression, scratch);
    const double position = number(value, expression.line, "index");
    const int index = truncatedInt(position);
    if (index < 0)
        fail(expression.line, "index " + std::to_string(index) + " is below 0");
    return index;
}

Value Interpreter::evalUnary(const Expr& expression)
{
    if (expression.text == "!")
        return truth(*expression.operands[0]) ? 0 : 1;
    return negate(eval(*expression.operands[0]), expression.line);
}

Value Interpreter::evalBinary(const Expr& expression)
{
    const int line = expression.line;
    const std::size_t count = expression.operands.size();
    // && and || have a level each, so a chain holds only one of them.
    if (expression.chain[0] == Op::And || expression.chain[0] == Op::Or) {
        const bool stopsAt = expression.chain[0] == Op::Or;
        for (std::size_t i = 0; i < count; ++i)
            if (truth(*expression.operands[i]) == stopsAt)
                return stopsAt ? 1 : 0;
        return stopsAt ? 0 : 1;
    }
    int value = 0;
    if (intValue(expression, value))
        return value;
    // Variables are read where they stand rather than copied.
    Value leftScratch;
    Value rightScratch;
    const Value& first = valueOf(*expression.operands[0], leftScratch);
    tick(line);
    Value left = combine(expression.chain[0], first, valueOf(*expression.operands[1], rightScratch), line);
    for (std::size_t i = 2; i < count; ++i) {
        tick(line);
        left = combine(expression.chain[i - 1], left, valueOf(*expression.operands[i], rightScratch), line);
    }
    return left;
}

// Most arithmetic and conditions work on int literals and int variables, a
// few operators deep: those are worked out here without making values. False
// when something else stands in the way, which the general path then takes:
// what was worked out by then had no effect but its steps, and any error it
// met, the general path would meet at the same point.
bool Interpreter::intValue(const Expr& expression, int& value, int levels)
{
    if (expression.kind == Expr::Kind::Int) {
        value = expression.number;
        return true;
    }
    if (expression.kind == Expr::Kind::Variable) {
        const Value* variable = environment_.find(expression.text, expression.slot);
        if (variable == nullptr || variable->type() != Type::Int)
            return false;
        value = std::get<int>(*variable);
        return true;
    }
    return expression.kind == Expr::Kind::Binary && levels > 0 && intChain(expression, value, levels - 1);
}

// Out of line, so that the leaves above stay cheap to reach.
bool Interpreter::intChain(const Expr& expression, int& value, int levels)
{
    // && and || stop early, which the general path does; `^` is for vectors.
    if (expression.chain[0] == Op::And || expression.chain[0] == Op::Or)
        return false;
    int left = 0;
    if (!intValue(*expression.operands[0], left, levels))
        return false;
    for (std::size_t i = 1; i < expression.operands.size(); ++i) {
        int right = 0;
        if (expression.chain[i - 1] == Op::Cross || !intValue(*expression.operands[i], right, levels))
            return false;
        tick(expression.line);
        left = combineInts(expression.chain[i - 1], left, right, expression.line);
    }
    value = left;
    return true;
}

Value Interpreter::evalArray(const Expr& expression)
{
    checkSize(expression.operands.size(), expression.line);
    std::vector<Value> elements;
    Type type = Type::Int;
    for (const ExprPtr& operand : expression.operands) {
        elements.push_back(eval(*operand));
        const Type element = elements.back().type();
        if (isArray(element))
            fail(operand->line, "an array inside an array literal");
        if (element == Type::Matrix)
            fail(operand->line, "a matrix inside an array literal: there are no arrays of matrices");
        // Strings win over vectors, vectors over numbers, floats over ints.
        if (element == Type::String || (element == Type::Vector && type != Type::String)
            || (element == Type::Float && type == Type::Int))
            type = element;
    }
    Value scalars = Value::ofType(arrayType(type));
    for (Value& element : elements) {
        Value converted;
        convert(std::move(element), type, converted);
        scalars.append(std::move(converted));
    }
    return scalars;
}

Value Interpreter::evalMatrix(const Expr& expression)
{
    const std::size_t columns = std::size_t(expression.number);
    Matrix matrix(expression.operands.size() / columns, columns);
    for (std::size_t i = 0; i < expression.operands.size(); ++i)
        matrix.elements[i] = number(eval(*expression.operands[i]), expression.line, "matrix");
    return matrix;
}

namespace {

std::string notAnArray(const std::string& name, const Value& variable)
{
    if (variable.type() == Type::Matrix)
        return "$" + name + " is a matrix: its elements are $" + name + "[row][column]";
    return "$" + name + " is not an array";
}

}  // namespace

// The element `$m[row][column]` names, which must exist: a matrix does not grow.
double& Interpreter::matrixElement(const Expr& target, int line)
{
    const int row = indexOf(*target.operands[0]);
    const int column = indexOf(*target.operands[1]);
    Value* variable = environment_.find(target.text, target.slot);
    if (variable == nullptr)
        fail(line, "$" + target.text + " is not declared");
    if (variable->type() != Type::Matrix)
        fail(line, "$" + target.text + " is not a matrix");
    Matrix& matrix = std::get<Matrix>(*variable);
    if (std::size_t(row) >= matrix.rows || std::size_t(column) >= matrix.columns)
        fail(line,
            "$" + target.text + "[" + std::to_string(row) + "][" + std::to_string(column)
                + "] does not exist: $" + target.text + " is " + described(*variable));
    return matrix.at(std::size_t(row), std::size_t(column));
}

Value Interpreter::evalIndex(const Expr& expression)
{
    if (expression.operands.size() == 2)
        return matrixElement(expression, expression.line);
    const int index = indexOf(*expression.operands[0]);
    const Value* variable = environment_.find(expression.text, expression.slot);
    if (variable == nullptr)
        fail(expression.line, "$" + expression.text + " is not declared");
    if (!variable->isArray())
        fail(expression.line, notAnArray(expression.text, *variable));
    // An element past the end reads as the element type's zero.
    return variable->element(std::size_t(index));
}

Value Interpreter::assign(const Expr& expression, bool wanted)
{
    const Expr& target = *expression.operands[0];
    Value value;
    int right = 0;
    if (target.kind == Expr::Kind::Variable && intValue(*expression.operands[1], right)) {
        Value* variable = environment_.find(target.text, target.slot);
        if (variable != nullptr && variable->type() == Type::Int) {
            // An int into an int variable, the common case, without values.
            int& held = std::get<int>(*variable);
            held = expression.compound ? combineInts(expression.op, held, right, expression.line) : right;
            return wanted ? held : 0;
        }
        value = right;
    } else {
        value = eval(*expression.operands[1]);
    }
    if (expression.compound && expression.op == Op::Add && target.kind == Expr::Kind::Variable
        && !value.isArray()) {
        // Appending to a string in place keeps a loop of appends linear.
        Value* variable = environment_.find(target.text, target.slot);
        if (variable != nullptr && variable->type() == Type::String) {
            std::string& text = std::get<std::string>(*variable);
            const std::string tail = value.text();
            checkText(text.size() + tail.size(), expression.line);
            text += tail;
            return wanted ? *variable : Value(0);
        }
    }
    if (expression.compound) {
        // `$a op= b` is `$a = $a op b`.
        value = combine(expression.op, eval(target), value, expression.line);
    }
    if (target.kind == Expr::Kind::Variable) {
        setVariable(target.text, std::move(value), expression.line, &target.slot);
        return wanted ? *environment_.find(target.text, target.slot) : Value(0);
    }
    setElement(target, std::move(value), expression.line);
    return wanted ? evalIndex(target) : Value(0);
}

// Writing past the end grows the array, as the host's arrays do.
void Interpreter::setElement(const Expr& target, Value value, int line)
{
    if (target.operands.size() == 2) {
        Value converted;
        if (!convert(static_cast<const Value&>(value), Type::Float, converted))
            fail(line, "cannot assign " + described(value) + " to an element of $" + target.text);
        matrixElement(target, line) = std::get<double>(converted);
        return;
    }
    const int index = indexOf(*target.operands[0]);
    checkSize(std::size_t(index) + 1, line);
    Value* variable = environment_.find(target.text, target.slot);
    if (variable == nullptr) {
        if (value.isArray())
            fail(line, "an array cannot be an element of $" + target.text);
        variable = &environment_.declare(target.text, Value::ofType(arrayType(value.type())), false);
    }
    if (!variable->isArray())
        fail(line, notAnArray(target.text, *variable));
    Value converted;
    if (!convert(std::move(value), elementType(variable->type()), converted))
        fail(line, "cannot assign an array to an element of $" + target.text);
    variable->setElement(std::size_t(index), std::move(converted));
}

// An int variable steps where it stands, the loop counter's usual case; false
// for any other target.
bool Interpreter::stepInt(const Expr& expression, int& result)
{
    const Expr& target = *expression.operands[0];
    if (target.kind != Expr::Kind::Variable)
        return false;
    Value* variable = environment_.find(target.text, target.slot);
    if (variable == nullptr || variable->type() != Type::Int)
        return false;
    tick(target.line);
    int& held = std::get<int>(*variable);
    const int before = held;
    held = wrappedInt(std::int64_t(before) + (expression.text[0] == '+' ? 1 : -1));
    result = expression.prefix ? held : before;
    return true;
}

Value Interpreter::step(const Expr& expression)
{
    int stepped = 0;
    if (stepInt(expression, stepped))
        return stepped;
    const Expr& target = *expression.operands[0];
    const int change = expression.text[0] == '+' ? 1 : -1;
    const Value before = eval(target);
    Value after;
    if (before.type() == Type::Int)
        after = wrappedInt(std::int64_t(std::get<int>(before)) + change);
    else
        after = number(before, expression.line, expression.text.c_str()) + change;
    if (target.kind == Expr::Kind::Variable)
        setVariable(target.text, after, expression.line, &target.slot);
    else
        setElement(target, after, expression.line);
    return expression.prefix ? after : before;
}

}  // namespace mel
