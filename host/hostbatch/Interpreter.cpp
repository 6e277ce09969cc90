#include "Interpreter.h"

#include <host/ScriptEditor.h>
#include <maya/MArgList.h>
#include <maya/MString.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace hostbatch {

namespace {

// Ints wrap around as the host's do, rather than overflow.
int wrapped(std::int64_t value)
{
    return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

bool isScalar(const Value& value)
{
    return !isArray(typeOf(value));
}

bool isComparison(Op op)
{
    return op >= Op::Equal && op <= Op::GreaterEqual;
}

// 1 when `a op b` holds, else 0, for one of the six comparisons.
template <typename Compared> int compared(Op op, const Compared& a, const Compared& b)
{
    switch (op) {
    case Op::Equal:
        return a == b ? 1 : 0;
    case Op::NotEqual:
        return a != b ? 1 : 0;
    case Op::Less:
        return a < b ? 1 : 0;
    case Op::LessEqual:
        return a <= b ? 1 : 0;
    case Op::Greater:
        return a > b ? 1 : 0;
    default:
        return a >= b ? 1 : 0;
    }
}

std::string withArticle(Type type)
{
    return (type == Type::Int || type == Type::IntArray ? "an " : "a ") + std::string(typeName(type));
}

}  // namespace

Interpreter::Interpreter(host::CommandRegistry& registry)
    : registry_(registry)
{
    for (Builtin& builtin : standardBuiltins())
        addBuiltin(std::move(builtin));
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

void Interpreter::runTopLevel(const Stmt& statement, StatementOutcome& outcome)
{
    steps_ = 0;
    ticksGranted_ = ticksLeft_ = 1;
    environment_.leaveAll();
    environment_.enterTopLevel();
    try {
        const Expr* call = statement.kind == Stmt::Kind::Expression ? statement.expression.get() : nullptr;
        if (call != nullptr && (call->kind == Expr::Kind::Call || call->kind == Expr::Kind::Command)) {
            tick(statement.line);
            CallResult result = invoke(*call);
            if (result.fromCommand)
                outcome.result = std::move(result.commandResult);
            else if (result.hasValue)
                outcome.result = toCommandResult(std::move(result.value));
        } else {
            const Flow flow = exec(statement);
            if (flow == Flow::Break || flow == Flow::Continue)
                fail(statement.line,
                    std::string(flow == Flow::Break ? "break" : "continue") + " outside a loop");
            if (flow == Flow::Return)
                fail(statement.line, "return outside a procedure");
        }
        outcome.status = MS::kSuccess;
    } catch (const Failure& failure) {
        outcome.status = failure.status;
    }
    environment_.leaveAll();
}

std::vector<Line> Interpreter::takeLines()
{
    std::vector<Line> lines;
    for (host::EditorLine& line : host::ScriptEditor::take())
        lines.push_back(Line { fromEditor(line.kind), std::move(line.text) });
    return lines;
}

void Interpreter::fail(int line, const std::string& what)
{
    host::ScriptEditor::show(host::LineKind::Error, "line " + std::to_string(line) + ": " + what);
    throw Failure { MS::kFailure, true };
}

void Interpreter::failLimit(int line, const std::string& what)
{
    host::ScriptEditor::show(host::LineKind::Error, "line " + std::to_string(line) + ": " + what);
    throw Failure { MS::kFailure, false };
}

void Interpreter::checkpoint(int line)
{
    // A run never reaches past the step bound, so the bound holds to the step.
    constexpr std::uint64_t kRun = 16;
    steps_ += ticksGranted_;
    if (interrupt_ != nullptr && *interrupt_ != 0) {
        // Seen once: a Ctrl-C that came while no statement could stop (between
        // statements, or in a command) stops the next one as it starts.
        *interrupt_ = 0;
        failLimit(line, "interrupted");
    }
    if (limits_.steps != 0 && steps_ > limits_.steps)
        failLimit(line, "the statement ran more than " + std::to_string(limits_.steps) + " steps");
    checkOutput(line);
    const std::uint64_t run = limits_.steps != 0 ? std::min(kRun, limits_.steps - steps_ + 1) : kRun;
    ticksGranted_ = ticksLeft_ = static_cast<unsigned>(run);
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
    if (isScalar(array))
        fail(statement.line, "for-in needs an array, not " + withArticle(typeOf(array)));
    const std::size_t count = std::visit(
        [](const auto& held) -> std::size_t {
            if constexpr (kIsArrayHeld<std::decay_t<decltype(held)>>)
                return held.size();
            else
                return 0;
        },
        array);
    for (std::size_t i = 0; i < count; ++i) {
        Value element = std::visit(
            [i](const auto& held) -> Value {
                using Held = std::decay_t<decltype(held)>;
                if constexpr (!kIsArrayHeld<Held>)
                    return held;
                else
                    return held[i];
            },
            array);
        setVariable(statement.variable, std::move(element), statement.line);
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
    if (!isScalar(subject))
        fail(statement.line, "switch needs a scalar, not " + withArticle(typeOf(subject)));
    // A matching case wins over default, wherever default stands.
    const CaseLabel* chosen = nullptr;
    const CaseLabel* fallback = nullptr;
    for (const CaseLabel& label : statement.labels) {
        if (!label.value) {
            fallback = &label;
            continue;
        }
        const Value value = eval(*label.value);
        const bool textual = typeOf(value) == Type::String || typeOf(subject) == Type::String;
        const bool equal = textual
            ? toText(value) == toText(subject)
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
        Value value = defaultValue(type);
        if (declarator.size) {
            const int size = indexOf(*declarator.size);
            checkSize(std::size_t(size), declarator.line);
            value = std::visit(
                [size](auto held) -> Value {
                    using Held = std::decay_t<decltype(held)>;
                    if constexpr (kIsArrayHeld<Held>)
                        held.resize(std::size_t(size));
                    return held;
                },
                std::move(value));
        }
        if (declarator.initialiser) {
            Value initial = eval(*declarator.initialiser);
            const Type from = typeOf(initial);
            if (!convert(std::move(initial), type, value))
                fail(declarator.line,
                    "cannot initialise $" + declarator.name + ", " + withArticle(type) + ", with "
                        + withArticle(from));
        }
        Value* existing = statement.global ? nullptr : environment_.find(declarator.name);
        const bool sameScope = existing != nullptr && environment_.declaredInScope(declarator.name);
        if (sameScope && typeOf(*existing) != type)
            fail(declarator.line,
                "$" + declarator.name + " is already declared as " + withArticle(typeOf(*existing)));
        environment_.declare(declarator.name, std::move(value), statement.global);
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
    const Type to = typeOf(*variable);
    const Type from = typeOf(value);
    if (!convert(std::move(value), to, *variable))
        fail(line, "cannot assign " + withArticle(from) + " to $" + name + ", " + withArticle(to));
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
        const Type from = typeOf(value);
        Value cast;
        if (!convert(std::move(value), expression.castType, cast))
            fail(
                expression.line, "cannot cast " + withArticle(from) + " to " + typeName(expression.castType));
        return cast;
    }
    case Expr::Kind::Vector: {
        Vector3 vector;
        vector.x = number(eval(*expression.operands[0]), expression.line, "vector");
        vector.y = number(eval(*expression.operands[1]), expression.line, "vector");
        vector.z = number(eval(*expression.operands[2]), expression.line, "vector");
        return vector;
    }
    case Expr::Kind::Component: {
        const Value value = eval(*expression.operands[0]);
        if (typeOf(value) != Type::Vector) {
            const Expr& of = *expression.operands[0];
            fail(expression.line,
                (of.kind == Expr::Kind::Index ? "an element of $" : "$") + of.text + " is "
                    + withArticle(typeOf(value)) + ", not a vector");
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

double Interpreter::number(const Value& value, int line, const char* where)
{
    if (typeOf(value) == Type::Int)
        return std::get<int>(value);
    if (typeOf(value) == Type::Float)
        return std::get<double>(value);
    const Type type = typeOf(value);
    fail(line,
        std::string(type == Type::String ? "a string"
                : type == Type::Vector   ? "a vector"
                                         : "an array")
            + " where a number is needed (" + where + ")");
}

bool Interpreter::truth(const Expr& expression)
{
    int held = 0;
    if (intValue(expression, held))
        return held != 0;
    Value scratch;
    const Value& value = valueOf(expression, scratch);
    // A vector is true when it is not <<0, 0, 0>>.
    if (typeOf(value) == Type::Vector)
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
    const Value operand = eval(*expression.operands[0]);
    if (typeOf(operand) == Type::Vector) {
        const Vector3& vector = std::get<Vector3>(operand);
        return Vector3 { -vector.x, -vector.y, -vector.z };
    }
    if (typeOf(operand) == Type::Int)
        return wrapped(-std::int64_t(std::get<int>(operand)));
    return -number(operand, expression.line, "-");
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
        if (variable == nullptr || typeOf(*variable) != Type::Int)
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

Value Interpreter::combine(Op op, const Value& left, const Value& right, int line)
{
    if (typeOf(left) == Type::Int && typeOf(right) == Type::Int && op != Op::Cross)
        return combineInts(op, std::get<int>(left), std::get<int>(right), line);
    if (!isScalar(left) || !isScalar(right))
        fail(line, "an array where a scalar is needed (" + std::string(opText(op)) + ")");
    if (op == Op::Cross)
        return combineVectors(op, left, right, line);
    const bool textual = typeOf(left) == Type::String || typeOf(right) == Type::String;
    if (textual && op == Op::Add) {
        std::string joined = toText(left);
        joined += toText(right);
        checkText(joined.size(), line);
        return joined;
    }
    if (textual && typeOf(left) == typeOf(right) && isComparison(op))
        return compared(op, std::get<std::string>(left).compare(std::get<std::string>(right)), 0);
    if (!textual && (typeOf(left) == Type::Vector || typeOf(right) == Type::Vector))
        return combineVectors(op, left, right, line);
    const double a = number(left, line, opText(op));
    const double b = number(right, line, opText(op));
    if (isComparison(op))
        return compared(op, a, b);
    if (op == Op::Add)
        return a + b;
    if (op == Op::Subtract)
        return a - b;
    if (op == Op::Multiply)
        return a * b;
    if (op == Op::Divide)
        return a / b;
    return std::fmod(a, b);
}

int Interpreter::combineInts(Op op, int left, int right, int line)
{
    const std::int64_t x = left;
    const std::int64_t y = right;
    switch (op) {
    case Op::Add:
        return wrapped(x + y);
    case Op::Subtract:
        return wrapped(x - y);
    case Op::Multiply:
        return wrapped(x * y);
    case Op::Divide:
    case Op::Remainder:
        if (y == 0)
            fail(line, "division by zero");
        // int / int is integer division, truncating toward zero.
        return wrapped(op == Op::Divide ? x / y : x % y);
    default:
        return compared(op, x, y);
    }
}

// A number beside a vector counts as a vector of three times itself, except
// that `*` of two vectors is their dot product, `*` or `/` by a number scales,
// and `<` and the like compare lengths.
Value Interpreter::combineVectors(Op op, const Value& left, const Value& right, int line)
{
    const bool bothVectors = typeOf(left) == Type::Vector && typeOf(right) == Type::Vector;
    if (isComparison(op) && op != Op::Equal && op != Op::NotEqual) {
        Value length;
        convert(left, Type::Float, length);
        const double a = std::get<double>(length);
        convert(right, Type::Float, length);
        return compared(op, a, std::get<double>(length));
    }
    if (op == Op::Cross && !bothVectors)
        fail(line,
            "^ is the cross product of two vectors, not of " + withArticle(typeOf(left)) + " and "
                + withArticle(typeOf(right)));
    Value converted;
    convert(left, Type::Vector, converted);
    const Vector3 a = std::get<Vector3>(converted);
    convert(right, Type::Vector, converted);
    const Vector3 b = std::get<Vector3>(converted);
    switch (op) {
    case Op::Add:
        return Vector3 { a.x + b.x, a.y + b.y, a.z + b.z };
    case Op::Subtract:
        return Vector3 { a.x - b.x, a.y - b.y, a.z - b.z };
    case Op::Multiply:
        if (bothVectors)
            return a.x * b.x + a.y * b.y + a.z * b.z;
        return Vector3 { a.x * b.x, a.y * b.y, a.z * b.z };
    case Op::Divide:
        if (typeOf(right) == Type::Vector)
            break;
        return Vector3 { a.x / b.x, a.y / b.y, a.z / b.z };
    case Op::Cross:
        return Vector3 { a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x };
    case Op::Equal:
        return a == b ? 1 : 0;
    case Op::NotEqual:
        return a == b ? 0 : 1;
    default:
        break;
    }
    fail(line,
        "no " + std::string(opText(op)) + " between " + withArticle(typeOf(left)) + " and "
            + withArticle(typeOf(right)));
}

Value Interpreter::evalArray(const Expr& expression)
{
    checkSize(expression.operands.size(), expression.line);
    std::vector<Value> elements;
    Type type = Type::Int;
    for (const ExprPtr& operand : expression.operands) {
        elements.push_back(eval(*operand));
        const Type element = typeOf(elements.back());
        if (isArray(element))
            fail(operand->line, "an array inside an array literal");
        // Strings win over vectors, vectors over numbers, floats over ints.
        if (element == Type::String || (element == Type::Vector && type != Type::String)
            || (element == Type::Float && type == Type::Int))
            type = element;
    }
    Value scalars = defaultValue(arrayType(type));
    for (Value& element : elements) {
        Value converted;
        convert(std::move(element), type, converted);
        std::visit(
            [&converted](auto& held) {
                using Held = std::decay_t<decltype(held)>;
                if constexpr (kIsArrayHeld<Held>)
                    held.push_back(std::get<typename Held::value_type>(std::move(converted)));
            },
            scalars);
    }
    return scalars;
}

Value Interpreter::evalIndex(const Expr& expression)
{
    const int index = indexOf(*expression.operands[0]);
    const Value* variable = environment_.find(expression.text, expression.slot);
    if (variable == nullptr)
        fail(expression.line, "$" + expression.text + " is not declared");
    if (isScalar(*variable))
        fail(expression.line, "$" + expression.text + " is not an array");
    // An element past the end reads as the element type's zero.
    return std::visit(
        [index](const auto& held) -> Value {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (!kIsArrayHeld<Held>)
                return held;
            else if (std::size_t(index) < held.size())
                return held[std::size_t(index)];
            else
                return typename Held::value_type();
        },
        *variable);
}

Value Interpreter::assign(const Expr& expression, bool wanted)
{
    const Expr& target = *expression.operands[0];
    Value value;
    int right = 0;
    if (target.kind == Expr::Kind::Variable && intValue(*expression.operands[1], right)) {
        Value* variable = environment_.find(target.text, target.slot);
        if (variable != nullptr && typeOf(*variable) == Type::Int) {
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
        && isScalar(value)) {
        // Appending to a string in place keeps a loop of appends linear.
        Value* variable = environment_.find(target.text, target.slot);
        if (variable != nullptr && typeOf(*variable) == Type::String) {
            std::string& text = std::get<std::string>(*variable);
            const std::string tail = toText(value);
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
    const int index = indexOf(*target.operands[0]);
    checkSize(std::size_t(index) + 1, line);
    Value* variable = environment_.find(target.text, target.slot);
    if (variable == nullptr) {
        if (!isScalar(value))
            fail(line, "an array cannot be an element of $" + target.text);
        variable = &environment_.declare(target.text, defaultValue(arrayType(typeOf(value))), false);
    }
    if (isScalar(*variable))
        fail(line, "$" + target.text + " is not an array");
    Value converted;
    if (!convert(std::move(value), elementType(typeOf(*variable)), converted))
        fail(line, "cannot assign an array to an element of $" + target.text);
    std::visit(
        [index, &converted](auto& held) {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (kIsArrayHeld<Held>) {
                if (std::size_t(index) >= held.size())
                    held.resize(std::size_t(index) + 1);
                held[std::size_t(index)] = std::get<typename Held::value_type>(std::move(converted));
            }
        },
        *variable);
}

// An int variable steps where it stands, the loop counter's usual case; false
// for any other target.
bool Interpreter::stepInt(const Expr& expression, int& result)
{
    const Expr& target = *expression.operands[0];
    if (target.kind != Expr::Kind::Variable)
        return false;
    Value* variable = environment_.find(target.text, target.slot);
    if (variable == nullptr || typeOf(*variable) != Type::Int)
        return false;
    tick(target.line);
    int& held = std::get<int>(*variable);
    const int before = held;
    held = wrapped(std::int64_t(before) + (expression.text[0] == '+' ? 1 : -1));
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
    if (typeOf(before) == Type::Int)
        after = wrapped(std::int64_t(std::get<int>(before)) + change);
    else
        after = number(before, expression.line, expression.text.c_str()) + change;
    if (target.kind == Expr::Kind::Variable)
        setVariable(target.text, after, expression.line, &target.slot);
    else
        setElement(target, after, expression.line);
    return expression.prefix ? after : before;
}

// ---- calls

// The one lookup: a built-in, a procedure, a registered command, and last a
// script on MAYA_SCRIPT_PATH named after the procedure, which defines it.
Interpreter::CallResult Interpreter::invoke(const Expr& call)
{
    const auto builtin = builtins_.find(call.text);
    if (builtin != builtins_.end())
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
    if (builtins_.count(name) != 0)
        return NameKind::Builtin;
    if (procedures_.count(name) != 0)
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
            if (variable != nullptr && typeOf(*variable) == parameter.type && !passedAlready) {
                references.push_back(Reference { variable, parameter.name });
                continue;
            }
        }
        Value argument = eval(operand);
        const Type from = typeOf(argument);
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
        = flow == Flow::Return ? std::exchange(returnValue_, Value()) : defaultValue(procedure.returnType);
    const Type from = typeOf(returned);
    if (!convert(std::move(returned), procedure.returnType, result.value))
        fail(call.line,
            procedure.name + " returns " + withArticle(procedure.returnType) + ", not " + withArticle(from));
    return result;
}

Interpreter::CallResult Interpreter::callCommand(const Expr& call)
{
    MArgList args;
    for (const ExprPtr& operand : call.operands) {
        const Value value = eval(*operand);
        // An array hands each element over as an argument of its own.
        std::visit(
            [&args](const auto& held) {
                using Held = std::decay_t<decltype(held)>;
                if constexpr (!kIsArrayHeld<Held>) {
                    args.addArg(MString(toText(held)));
                } else {
                    for (const auto& element : held)
                        args.addArg(MString(toText(Value(element))));
                }
            },
            value);
    }
    host::Invocation invocation = registry_.run(call.text, args, limits_.valueSize);
    if (invocation.passedArrayBound)
        checkSize(limits_.valueSize + 1, call.line);
    if (!invocation.status)
        throw Failure { invocation.status, true };  // the command or the registry has shown why
    std::visit(
        [this, &call](const auto& held) {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (
                std::is_same_v<Held,
                    std::
                        string> || std::is_same_v<Held, std::vector<int>> || std::is_same_v<Held, std::vector<std::string>>)
                checkSize(held.size(), call.line);
        },
        invocation.result);
    CallResult result;
    result.fromCommand = true;
    result.commandResult = std::move(invocation.result);
    return result;
}

}  // namespace hostbatch
