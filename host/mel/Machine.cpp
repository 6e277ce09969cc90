// Running compiled code: frames of registers, the loop over instructions,
// and calls of built-ins, procedures and commands.
#include "Interpreter.h"

#include "Compiler.h"
#include "ScriptPath.h"

#include <host/ScriptEditor.h>
#include <maya/MArgList.h>
#include <maya/MString.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace mel {

namespace {

// Ints wrap around as the host's do, rather than overflow.
inline int add(int a, int b)
{
    return wrappedInt(std::int64_t(a) + b);
}

inline int floatToInt(double value)
{
    return truncatedInt(value);
}

// A stack of fixed blocks: what a frame takes stays where it is while frames
// come and go above it, so that a reference into a caller's registers holds.
template <typename Slot> class BlockStack {
public:
    struct Span {
        Slot* data = nullptr;
        std::size_t block = 0;
        std::size_t count = 0;
    };

    Span push(std::size_t count)
    {
        if (count == 0)
            return Span { nullptr, current_, 0 };
        if (used_ + count <= currentSize_) {
            // The current block has room: what nearly every call finds.
            Span span { currentData_ + used_, current_, count };
            used_ += count;
            return span;
        }
        return pushOnANewBlock(count);
    }

    void pop(const Span& span)
    {
        if (span.count == 0)
            return;
        used_ -= span.count;
        if (used_ == 0 && current_ > 0 && span.block == current_) {
            --current_;
            used_ = blocks_[current_].used;
            currentData_ = blocks_[current_].data.get();
            currentSize_ = blocks_[current_].size;
        }
    }

private:
    // Onto the next block, made when first needed.
    Span pushOnANewBlock(std::size_t count)
    {
        const std::size_t next = blocks_.empty() ? 0 : current_ + 1;
        if (next == blocks_.size() || blocks_[next].size < count) {
            const std::size_t size = std::max(count, kBlock);
            if (next == blocks_.size())
                blocks_.push_back(Block { std::make_unique<Slot[]>(size), size, 0 });
            else
                blocks_[next] = Block { std::make_unique<Slot[]>(size), size, 0 };
        }
        if (!blocks_.empty() && next != current_)
            blocks_[current_].used = used_;
        current_ = next;
        used_ = 0;
        currentData_ = blocks_[current_].data.get();
        currentSize_ = blocks_[current_].size;
        Span span { currentData_ + used_, current_, count };
        used_ += count;
        return span;
    }

    static constexpr std::size_t kBlock = std::size_t { 1 } << 14;
    struct Block {
        std::unique_ptr<Slot[]> data;
        std::size_t size;
        std::size_t used;  // of a block below the current one, when the next was taken
    };
    std::vector<Block> blocks_;
    std::size_t current_ = 0;
    std::size_t used_ = 0;
    Slot* currentData_ = nullptr;  // the current block's, none before the first
    std::size_t currentSize_ = 0;
};

}  // namespace

class Interpreter::RegisterStacks {
public:
    BlockStack<Scalar> scalars;
    BlockStack<Value> values;
};

Interpreter::Interpreter(host::CommandRegistry& registry)
    : registry_(registry)
    , registers_(std::make_unique<RegisterStacks>())
{
}

Interpreter::~Interpreter() = default;

/// The registers of one running piece of code.
struct Interpreter::Frame {
    const Code* code = nullptr;
    Scalar* scalars = nullptr;
    Value* values = nullptr;
    bool findsByName = false;  // whether an Environment frame of its own is in reach
    std::int32_t pc = 0;  // the instruction running, for what a built-in asks of it
};

namespace {

// Takes a frame's registers, and gives them back however the frame ends:
// values emptied, so that what they held goes with them.
template <typename Stacks> struct FrameRegisters {
    [[gnu::always_inline]] FrameRegisters(Stacks& stacks, const Code& code)
        : stacks_(stacks)
        , scalars(stacks.scalars.push(std::size_t(code.scalars)))
        , values(stacks.values.push(std::size_t(code.valueRegisters)))
    {
    }
    FrameRegisters(const FrameRegisters&) = delete;
    FrameRegisters& operator=(const FrameRegisters&) = delete;
    [[gnu::always_inline]] ~FrameRegisters()
    {
        for (std::size_t i = 0; i < values.count; ++i)
            if (values.data[i].index() != 0)
                values.data[i] = Value();
        stacks_.values.pop(values);
        stacks_.scalars.pop(scalars);
    }

    Stacks& stacks_;
    typename decltype(Stacks::scalars)::Span scalars;
    typename decltype(Stacks::values)::Span values;
};

}  // namespace

// ---- the calls a built-in makes back

class Interpreter::MachineCall final : public Call {
public:
    MachineCall(Interpreter& interpreter, Frame& frame, const CallSite& site, CallResult& result)
        : interpreter_(interpreter)
        , frame_(frame)
        , site_(site)
        , result_(result)
    {
    }

    const std::string& name() const override { return site_.name; }
    int line() const override { return site_.line; }
    std::size_t count() const override { return site_.arguments.size(); }

    Value value(std::size_t i) override { return interpreter_.argumentValue(frame_, site_, i); }

    const Value& valueOf(std::size_t i, Value& scratch) override
    {
        // A variable is read where it lies: copying it would make a loop of
        // `$a[size($a)] = x` quadratic.
        const Argument& argument = site_.arguments[i];
        if (argument.constant >= 0)
            return frame_.code->values[std::size_t(argument.constant)];
        if (argument.variable >= 0) {
            interpreter_.tick(1, argument.line);
            if (Value* variable
                = interpreter_.place(frame_, frame_.code->references[std::size_t(argument.variable)]))
                return *variable;
        }
        scratch = value(i);
        return scratch;
    }

    std::string text(std::size_t i) override
    {
        Value scratch;
        const Value& value = valueOf(i, scratch);
        if (&value == &scratch && value.type() == Type::String)
            return std::get<std::string>(std::move(scratch));
        if (!value.isArray())
            return value.text();
        interpreter_.fail(site_.arguments[i].line,
            site_.name + " takes a string, not " + std::string(typeName(value.type())));
    }

    // A word of command syntax is a string: `fclose 3` means the number 3.
    double number(std::size_t i) override
    {
        Value scratch;
        const Value& value = valueOf(i, scratch);
        if (value.type() == Type::String)
            return leadingNumber(std::get<std::string>(value));
        return interpreter_.number(value, site_.arguments[i].line, site_.name.c_str());
    }

    void assign(std::size_t i, Value value) override
    {
        const Argument& argument = site_.arguments[i];
        if (argument.variable < 0)
            interpreter_.fail(argument.line, site_.name + " needs a variable");
        interpreter_.write(frame_, frame_.code->references[std::size_t(argument.variable)], std::move(value));
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
            value(i);
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
        interpreter_.checkValue(value, site_.line);
        result_.hasValue = true;
        result_.value = std::move(value);
    }

    // A built-in's result grows through these, so they also look at the memory held.
    void checkSize(std::size_t size) override
    {
        interpreter_.checkSize(size, site_.line);
        if (interpreter_.limits_.memory != 0)
            interpreter_.checkMemory(site_.line);
    }
    void checkText(std::size_t size) override
    {
        interpreter_.checkText(size, site_.line);
        if (interpreter_.limits_.memory != 0)
            interpreter_.checkMemory(site_.line);
    }

    void checkInterrupt() override { interpreter_.checkInterrupt(site_.line); }

    [[noreturn]] void endRun(std::optional<int> status) override { interpreter_.endRun(status); }

    void runText(const std::string& text, const char* what, bool giveValue) override
    {
        CallResult result = interpreter_.runText(text, site_.line, what);
        if (giveValue)
            result_ = std::move(result);
    }

    void runFile(const std::string& path) override { interpreter_.runFile(path, site_.line); }

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
        // A variable of the running code's own, in reach where the call stands...
        const Code& code = *frame_.code;
        for (auto named = code.named.rbegin(); named != code.named.rend(); ++named) {
            if (named->name != name || frame_.pc < named->from || frame_.pc >= named->to)
                continue;
            if (named->flag >= 0 && frame_.scalars[named->flag].i == 0)
                continue;
            if (named->reg.bank == Bank::Int)
                return Type::Int;
            if (named->reg.bank == Bank::Float)
                return Type::Float;
            return frame_.values[named->reg.index].type();
        }
        // ...else one found by name, where the code can reach any.
        if (!frame_.findsByName)
            return std::nullopt;
        const Value* variable = interpreter_.environment_.find(name);
        if (variable == nullptr)
            return std::nullopt;
        return variable->type();
    }

    SessionStore& store() override { return interpreter_.store_; }

private:
    void raise(const std::string* what, MStatus status) override
    {
        if (what != nullptr)
            interpreter_.fail(site_.line, *what);
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
    Frame& frame_;
    const CallSite& site_;
    CallResult& result_;
};

// ---- frames

Interpreter::CallResult Interpreter::runCode(const Code& code)
{
    const FrameRegisters<RegisterStacks> registers(*registers_, code);
    Frame frame;
    frame.code = &code;
    frame.scalars = registers.scalars.data;
    frame.values = registers.values.data;
    frame.findsByName = true;
    // The globals it has to itself, moved into its registers and back.
    struct Promotion {
        const Code& code;
        Frame& frame;
        Environment& environment;
        explicit Promotion(const Code& code, Frame& frame, Environment& environment)
            : code(code)
            , frame(frame)
            , environment(environment)
        {
            for (const Code::Promoted& promoted : code.promoted) {
                if (promoted.reg.bank == Bank::Int)
                    frame.scalars[promoted.reg.index].i = std::get<int>(*promoted.global);
                else if (promoted.reg.bank == Bank::Float)
                    frame.scalars[promoted.reg.index].f = std::get<double>(*promoted.global);
                else
                    frame.values[promoted.reg.index] = std::move(*promoted.global);
            }
        }
        Promotion(const Promotion&) = delete;
        Promotion& operator=(const Promotion&) = delete;
        ~Promotion()
        {
            for (const Code::Promoted& promoted : code.promoted) {
                if (promoted.reg.bank == Bank::Int)
                    *promoted.global = frame.scalars[promoted.reg.index].i;
                else if (promoted.reg.bank == Bank::Float)
                    *promoted.global = frame.scalars[promoted.reg.index].f;
                else
                    *promoted.global = std::move(frame.values[promoted.reg.index]);
            }
            for (const Code::DeclaredGlobal& declared : code.declaredGlobals) {
                if (frame.scalars[declared.flag].i == 0)
                    continue;
                const Register reg = declared.reg;
                if (reg.bank == Bank::Int)
                    environment.declareGlobal(declared.name, frame.scalars[reg.index].i);
                else if (reg.bank == Bank::Float)
                    environment.declareGlobal(declared.name, frame.scalars[reg.index].f);
                else
                    environment.declareGlobal(declared.name, std::move(frame.values[reg.index]));
            }
        }
    } promotion(code, frame, environment_);
    lastCall_ = CallResult();
    execute(frame, 0);
    if (code.resultIsValue) {
        CallResult value;
        value.hasValue = true;
        value.value = frame.values[code.result.index];  // it may be a variable's register
        return value;
    }
    return std::exchange(lastCall_, CallResult());
}

const Code& Interpreter::compiled(const Procedure& procedure)
{
    const Code* code = procedure.code.get();
    if (code != nullptr && (code->checkedIn == procedureGeneration_ || code->assumed.empty()))
        return *code;
    if (code != nullptr && assumptionsHold(*code)) {
        code->checkedIn = procedureGeneration_;
        return *code;
    }
    if (code != nullptr)
        recompiled_.push_back(std::move(procedure.code));  // it may be running
    procedure.code = compileProcedure(
        procedure, builtins_, [this](const std::string& name) { return numberReturnedBy(name); });
    procedure.code->checkedIn = procedureGeneration_;
    return *procedure.code;
}

std::optional<Type> Interpreter::numberReturnedBy(const std::string& name) const
{
    const auto found = procedures_.find(name);
    if (found == procedures_.end() || !found->second->returnsValue)
        return std::nullopt;
    const Type type = found->second->returnType;
    return type == Type::Int || type == Type::Float ? std::optional<Type>(type) : std::nullopt;
}

bool Interpreter::assumptionsHold(const Code& code) const
{
    for (const Code::Assumed& assumed : code.assumed)
        if (numberReturnedBy(assumed.procedure) != assumed.type)
            return false;
    return true;
}

Value Interpreter::argumentValue(Frame& frame, const CallSite& site, std::size_t i)
{
    const Argument& argument = site.arguments[i];
    if (argument.constant >= 0)
        return frame.code->values[std::size_t(argument.constant)];
    const std::int32_t pc = frame.pc;
    const Exit exit = execute(frame, argument.start);
    frame.pc = pc;
    if (exit.bank == Bank::Int)
        return frame.scalars[exit.reg].i;
    if (exit.bank == Bank::Float)
        return frame.scalars[exit.reg].f;
    if (exit.temporary)
        return std::move(frame.values[exit.reg]);
    return frame.values[exit.reg];
}

// A register's value, whichever its bank.
Value Interpreter::registerValue(const Frame& frame, Register reg)
{
    if (reg.bank == Bank::Int)
        return frame.scalars[reg.index].i;
    if (reg.bank == Bank::Float)
        return frame.scalars[reg.index].f;
    return frame.values[reg.index];
}

// ---- variables reached through references

Value* Interpreter::place(Frame& frame, const Reference& reference)
{
    if (reference.reg.index < 0)
        return environment_.find(reference.name);
    if (reference.flag >= 0 && frame.scalars[reference.flag].i == 0)
        return nullptr;
    if (reference.reg.bank != Bank::Value)
        return nullptr;
    return &frame.values[reference.reg.index];
}

Value Interpreter::read(Frame& frame, const Reference& reference)
{
    if (reference.reg.index < 0) {
        const Value* variable = environment_.find(reference.name);
        if (variable == nullptr)
            fail(reference.line, "$" + reference.name + " is not declared");
        return *variable;
    }
    if (reference.flag >= 0 && frame.scalars[reference.flag].i == 0)
        fail(reference.line, "$" + reference.name + " is not declared");
    if (reference.reg.bank == Bank::Int)
        return frame.scalars[reference.reg.index].i;
    if (reference.reg.bank == Bank::Float)
        return frame.scalars[reference.reg.index].f;
    return frame.values[reference.reg.index];
}

void Interpreter::write(Frame& frame, const Reference& reference, Value value)
{
    const int line = reference.line;
    if (reference.reg.index < 0) {
        setVariable(reference.name, std::move(value), line);
        return;
    }
    const bool declared = reference.flag < 0 || frame.scalars[reference.flag].i != 0;
    if (!declared) {
        // Declared by this, with the value's type.
        frame.scalars[reference.flag].i = 1;
        if (!reference.typed) {
            frame.values[reference.reg.index] = std::move(value);
            return;
        }
    }
    const Type to = reference.typed ? reference.type : frame.values[reference.reg.index].type();
    if (reference.reg.bank == Bank::Value && value.type() == to) {
        frame.values[reference.reg.index] = std::move(value);
        return;
    }
    Value converted = this->converted(
        std::move(value), Conversion { to, Conversion::Wording::Assign, reference.name }, line);
    if (reference.reg.bank == Bank::Int)
        frame.scalars[reference.reg.index].i = std::get<int>(converted);
    else if (reference.reg.bank == Bank::Float)
        frame.scalars[reference.reg.index].f = std::get<double>(converted);
    else
        frame.values[reference.reg.index] = std::move(converted);
}

// ---- calls

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

Interpreter::PendingCall Interpreter::prepareCall(const CallSite& site)
{
    // A procedure, else a registered command, else a script on
    // MAYA_SCRIPT_PATH named after the procedure, which defines it.
    // What a site found is kept until procedures change, with its arguments
    // counted: a site whose count is wrong fails every time it runs.
    PendingCall pending;
    if (site.generation == procedureGeneration_) {
        pending.procedure = site.procedure;
        return pending;
    }
    auto found = procedures_.find(site.name);
    if (found == procedures_.end() && !registry_.contains(site.name) && autoLoad(site.name, site.line))
        found = procedures_.find(site.name);
    pending.procedure = found != procedures_.end() ? found->second.get() : nullptr;
    if (pending.procedure != nullptr)
        checkArgumentCount(site, *pending.procedure);
    site.procedure = pending.procedure;
    site.generation = procedureGeneration_;
    return pending;
}

const Procedure* Interpreter::definedProcedure(const CallSite& site)
{
    if (site.generation != procedureGeneration_) {
        const auto found = procedures_.find(site.name);
        site.procedure = found != procedures_.end() ? found->second.get() : nullptr;
        site.generation = procedureGeneration_;
    }
    return site.procedure;
}

void Interpreter::checkArgumentCount(const CallSite& site, const Procedure& procedure)
{
    if (site.arguments.size() == procedure.parameters.size())
        return;
    const std::size_t parameters = procedure.parameters.size();
    fail(site.line,
        site.name + " takes " + std::to_string(parameters) + " argument" + (parameters == 1 ? "" : "s")
            + ", not " + std::to_string(site.arguments.size()));
}

Interpreter::CallResult Interpreter::call(Frame& frame, const CallSite& site, const PendingCall* pending)
{
    if (site.builtin != nullptr && site.builtin->kind == Builtin::Kind::Procedure) {
        // One of the library's procedures: a script's procedure of its name goes first.
        const Procedure* defined = definedProcedure(site);
        if (defined != nullptr) {
            checkArgumentCount(site, *defined);
            CallResult result;
            result.hasValue = callProcedure(frame, site, *defined, result.value) != Returned::Nothing;
            return result;
        }
    }
    if (site.builtin != nullptr)
        return callBuiltin(frame, site);
    if (pending->procedure == nullptr)
        return callCommand(frame, site);
    CallResult result;
    result.hasValue = callProcedure(frame, site, *pending->procedure, result.value) != Returned::Nothing;
    return result;
}

Interpreter::CallResult Interpreter::callBuiltin(Frame& frame, const CallSite& site)
{
    const Builtin& builtin = *site.builtin;
    const std::size_t count = site.arguments.size();
    const std::size_t fewest = std::size_t(builtin.fewest);
    const bool bounded = builtin.most != Builtin::kAnyCount;
    const std::size_t most = bounded ? std::size_t(builtin.most) : 0;
    if (count < fewest || (bounded && count > most)) {
        const std::string expected = !bounded ? "at least " + std::to_string(fewest)
            : fewest == most                  ? std::to_string(fewest)
                                              : std::to_string(fewest) + " to " + std::to_string(most);
        fail(site.line,
            site.name + " takes " + expected + " argument" + ((bounded ? most : fewest) == 1 ? "" : "s")
                + ", not " + std::to_string(count));
    }
    const DepthGuard depth(*this, site.line, site.depth, false);
    CallResult result;
    MachineCall context(*this, frame, site, result);
    builtin.run(context);
    // What it printed is handed on, or held to the output limit, as it piles up.
    checkOutput(site.line);
    return result;
}

Interpreter::Returned Interpreter::callProcedure(
    Frame& frame, const CallSite& site, const Procedure& procedure, Value& result, Scalar* number, Bank bank)
{
    const Code& code = compiled(procedure);
    const DepthGuard depth(*this, site.line, site.depth + 1, true);
    const FrameRegisters<RegisterStacks> registers(*registers_, code);
    Frame callee;
    callee.code = &code;
    callee.scalars = registers.scalars.data;
    callee.values = registers.values.data;
    const std::size_t count = procedure.parameters.size();
    // An array variable passed to an array parameter of its type is passed by
    // reference, as MEL passes arrays: it moves into the parameter for the call
    // and back when the call ends, however it ends. Every argument passed by
    // value is read before any moves: a variable passed twice is passed by
    // reference the first time, by value the next.
    struct ByReference {
        std::vector<Value*> callers;  // empty unless the procedure takes an array
        Value* callee = nullptr;  // the callee's value registers
        const Code* code = nullptr;
        bool any = false;
        ~ByReference()
        {
            if (!any)
                return;
            for (std::size_t i = 0; i < callers.size(); ++i)
                if (callers[i] != nullptr)
                    *callers[i] = std::move(callee[code->parameters[i].index]);
        }
    } byReference;
    if (code.takesArrays) {
        byReference.callers.assign(count, nullptr);
        for (std::size_t i = 0; i < count; ++i) {
            const Argument& argument = site.arguments[i];
            if (!isArray(procedure.parameters[i].type) || argument.variable < 0)
                continue;
            Value* variable = place(frame, frame.code->references[std::size_t(argument.variable)]);
            if (variable != nullptr && variable->type() == procedure.parameters[i].type
                && std::find(byReference.callers.begin(), byReference.callers.end(), variable)
                    == byReference.callers.end())
                byReference.callers[i] = variable;
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (code.takesArrays && byReference.callers[i] != nullptr)
            continue;
        const Argument& argument = site.arguments[i];
        const Register to = code.parameters[i];
        if (argument.start >= 0 || argument.constant >= 0) {
            // A call written for the library's procedure of this name: its
            // arguments are worked out now, in order.
            passArgument(argumentValue(frame, site, i), procedure, i, to, callee, site.line);
            continue;
        }
        if (argument.variable < 0) {
            if (argument.value.bank == Bank::Int && to.bank == Bank::Int) {
                callee.scalars[to.index].i = frame.scalars[argument.value.index].i;
                continue;
            }
            if (argument.value.bank == Bank::Float && to.bank == Bank::Float) {
                callee.scalars[to.index].f = frame.scalars[argument.value.index].f;
                continue;
            }
            passArgument(registerValue(frame, argument.value), procedure, i, to, callee, site.line);
            continue;
        }
        const Reference& reference = frame.code->references[std::size_t(argument.variable)];
        if (reference.reg.index >= 0 && reference.reg.bank == Bank::Int && to.bank == Bank::Int
            && reference.flag < 0) {
            callee.scalars[to.index].i = frame.scalars[reference.reg.index].i;
            continue;
        }
        passArgument(read(frame, reference), procedure, i, to, callee, site.line);
    }
    if (code.takesArrays) {
        for (std::size_t i = 0; i < count; ++i)
            if (byReference.callers[i] != nullptr) {
                callee.values[code.parameters[i].index] = std::move(*byReference.callers[i]);
                byReference.any = true;
            }
        byReference.callee = callee.values;
        byReference.code = &code;
    }
    struct FramePop {
        Environment* environment;
        ~FramePop()
        {
            if (environment != nullptr)
                environment->leave();
        }
    } pop { nullptr };
    if (code.usesEnvironment) {
        environment_.enterProcedure(Environment::Scope());
        pop.environment = &environment_;
        callee.findsByName = true;
    }
    return resultOf(execute(callee, 0), callee, site, procedure, result, number, bank);
}

// What a procedure's run left: its number into `number` when it is of `bank`,
// else its value, converted to the procedure's return type, into `result`.
Interpreter::Returned Interpreter::resultOf(const Exit& exit, const Frame& callee, const CallSite& site,
    const Procedure& procedure, Value& result, Scalar* number, Bank bank)
{
    if (exit.kind == Exit::Kind::Break || exit.kind == Exit::Kind::Continue)
        fail(site.line,
            std::string(exit.kind == Exit::Kind::Break ? "break" : "continue") + " outside a loop");
    if (!procedure.returnsValue)
        return Returned::Nothing;
    if (exit.bank != Bank::Value && exit.bank == bank && number != nullptr) {
        *number = callee.scalars[exit.reg];
        return Returned::Number;
    }
    if (exit.bank == Bank::Int) {
        result = callee.scalars[exit.reg].i;
        return Returned::Value;
    }
    if (exit.bank == Bank::Float) {
        result = callee.scalars[exit.reg].f;
        return Returned::Value;
    }
    if (exit.reg < 0) {
        result = Value::ofType(procedure.returnType);
        return Returned::Value;
    }
    Value& returned = callee.values[exit.reg];
    if (returned.type() == procedure.returnType) {
        result = std::move(returned);
        return Returned::Value;
    }
    const Type from = returned.type();
    if (!convert(std::move(returned), procedure.returnType, result))
        fail(site.line,
            procedure.name + " returns " + withArticle(procedure.returnType) + ", not " + withArticle(from));
    return Returned::Value;
}

// One argument into its parameter's register, converted to its type.
void Interpreter::passArgument(
    const Value& value, const Procedure& procedure, std::size_t i, Register to, Frame& callee, int line)
{
    const Parameter& parameter = procedure.parameters[i];
    if (to.bank == Bank::Int && value.type() == Type::Int) {
        callee.scalars[to.index].i = std::get<int>(value);
        return;
    }
    if (to.bank == Bank::Float && value.type() == Type::Float) {
        callee.scalars[to.index].f = std::get<double>(value);
        return;
    }
    Value converted;
    if (!convert(value, parameter.type, converted))
        fail(line,
            procedure.name + ": $" + parameter.name + " is " + withArticle(parameter.type) + ", not "
                + withArticle(value.type()));
    if (to.bank == Bank::Int)
        callee.scalars[to.index].i = std::get<int>(converted);
    else if (to.bank == Bank::Float)
        callee.scalars[to.index].f = std::get<double>(converted);
    else
        callee.values[to.index] = std::move(converted);
}

Interpreter::CallResult Interpreter::callCommand(Frame& frame, const CallSite& site)
{
    MArgList args;
    for (const Argument& argument : site.arguments) {
        if (argument.word >= 0) {
            // A number word reaches the command as it was written: 1.50, 007.
            args.addArg(MString(frame.code->texts[std::size_t(argument.word)]));
            continue;
        }
        const Value value = argument.variable >= 0
            ? read(frame, frame.code->references[std::size_t(argument.variable)])
            : registerValue(frame, argument.value);
        if (!value.isArray()) {
            args.addArg(MString(value.text()));
            continue;
        }
        // An array hands each element over as an argument of its own.
        for (std::size_t i = 0; i < value.size(); ++i)
            args.addArg(MString(value.element(i).text()));
    }
    const DepthGuard depth(*this, site.line, site.depth, false);
    host::Invocation invocation = registry_.run(site.name, args, limits_.valueSize);
    if (invocation.passedArrayBound)
        checkSize(limits_.valueSize + 1, site.line);
    if (!invocation.status)
        throw Failure { invocation.status, true };  // the command or the registry has shown why
    checkResult(invocation.result, site.line);
    CallResult result;
    result.fromCommand = true;
    result.commandResult = std::move(invocation.result);
    return result;
}

// ---- instructions that need locals of their own, out of the loop: no
// indirect jump may leave a scope past a destructor

void Interpreter::storeInstruction(const Code& code, const Instruction* in, Value* v, int line)
{
    assignInto(v[in->b], v[in->a], code.conversions[std::size_t(in->c)], line);
}

void Interpreter::concatenate(const Code& code, const Instruction* in, const Scalar* s, Value* v, int line)
{
    std::string joined;
    joined.reserve(64);
    for (std::int32_t i = 0; i < in->c; ++i) {
        const std::int32_t part = code.lists[std::size_t(in->b + i)];
        const std::int32_t index = part / 4;
        switch (static_cast<Bank>(part % 4)) {
        case Bank::Int: {
            char digits[16];
            const auto written = std::to_chars(digits, digits + sizeof digits, s[index].i);
            joined.append(digits, written.ptr);
            break;
        }
        case Bank::Float:
            joined += floatText(s[index].f);
            break;
        case Bank::Value: {
            const Value& value = v[index];
            if (value.type() == Type::String)
                joined += std::get<std::string>(value);
            else
                joined += value.text();
            break;
        }
        }
    }
    checkText(joined.size(), line);
    v[in->a] = std::move(joined);
}

void Interpreter::appendText(const Instruction* in, Value* v, int line)
{
    std::string& text = std::get<std::string>(v[in->a]);
    const Value& tail = v[in->b];
    const std::size_t size = tail.type() == Type::String ? std::get<std::string>(tail).size() : 0;
    if (tail.type() == Type::String) {
        checkText(text.size() + size, line);
        text += std::get<std::string>(tail);
    } else {
        const std::string part = tail.text();
        checkText(text.size() + part.size(), line);
        text += part;
    }
}

void Interpreter::makeArray(const Code& code, const Instruction* in, Value* v, int line)
{
    checkSize(std::size_t(in->c), line);
    std::vector<std::pair<const Value*, int>> elements;
    elements.reserve(std::size_t(in->c));
    for (std::int32_t i = 0; i < in->c; ++i)
        elements.emplace_back(
            &v[code.lists[std::size_t(in->b + 2 * i)]], code.lists[std::size_t(in->b + 2 * i + 1)]);
    v[in->a] = arrayOf(elements, line);
}

void Interpreter::variableAppend(const Code& code, const Instruction* in, Value* v, int line)
{
    const std::string& name = code.names[std::size_t(in->b)];
    Value* variable = environment_.find(name, code.slots[std::size_t(in->b)]);
    if (variable != nullptr && variable->type() == Type::String) {
        std::string& text = std::get<std::string>(*variable);
        const std::string tail = v[in->c].text();
        checkText(text.size() + tail.size(), line);
        text += tail;
        v[in->a] = *variable;
        return;
    }
    if (variable == nullptr)
        fail(line, "$" + name + " is not declared");
    Value sum = combine(Op::Add, *variable, v[in->c], line);
    setVariable(name, std::move(sum), line);
    v[in->a] = *environment_.find(name);
}

void Interpreter::callInstruction(Frame& frame, const Instruction* in, std::int32_t pc)
{
    const Code& code = *frame.code;
    Scalar* const s = frame.scalars;
    Value* const v = frame.values;
    const CallSite& site = code.calls[std::size_t(in->b)];
    frame.pc = pc;
    PendingCall prepared;
    if (site.builtin == nullptr)
        prepared.procedure = s[in->c].procedure;
    if (in->x != 0) {
        callForNumber(frame, in, site, prepared.procedure);
        return;
    }
    if (!site.wantsResult && site.builtin == nullptr && prepared.procedure != nullptr) {
        // A procedure's value straight into its register.
        if (callProcedure(frame, site, *prepared.procedure, v[in->a]) == Returned::Nothing)
            v[in->a] = std::string();
        return;
    }
    CallResult result = call(frame, site, &prepared);
    if (site.wantsResult) {
        lastCall_ = std::move(result);
        return;
    }
    if (result.fromCommand)
        v[in->a] = fromCommandResult(std::move(result.commandResult));
    else if (result.hasValue)
        v[in->a] = std::move(result.value);
    else
        v[in->a] = std::string();
}

void Interpreter::callForNumber(
    Frame& frame, const Instruction* in, const CallSite& site, const Procedure* procedure)
{
    const Bank bank = in->x == 1 ? Bank::Int : Bank::Float;
    Scalar& number = frame.scalars[in->a];
    Value value = std::string();
    if (procedure != nullptr) {
        if (callProcedure(frame, site, *procedure, value, &number, bank) == Returned::Number)
            return;
    } else {
        // The procedure went while the code ran: a command of its name now.
        PendingCall none;
        CallResult result = call(frame, site, &none);
        if (result.fromCommand)
            value = fromCommandResult(std::move(result.commandResult));
        else if (result.hasValue)
            value = std::move(result.value);
    }
    takeNumber(std::move(value), bank, number, site);
}

// A procedure returns another type than when the calling code was compiled:
// the code takes its value as the type it was compiled for.
void Interpreter::takeNumber(Value value, Bank bank, Scalar& number, const CallSite& site)
{
    const Type type = bank == Bank::Int ? Type::Int : Type::Float;
    const Type from = value.type();
    Value converted;
    if (!convert(std::move(value), type, converted))
        fail(site.line, site.name + " returns " + withArticle(from) + ", not " + withArticle(type));
    if (bank == Bank::Int)
        number.i = std::get<int>(converted);
    else
        number.f = std::get<double>(converted);
}

// A call compiled for a number, of a procedure compiled for int and float
// parameters that the arguments' registers match: no value made, nothing
// looked up. False, with nothing done, when the call needs more than that.
bool Interpreter::callNumberDirectly(Frame& frame, const Instruction* in, std::int32_t pc)
{
    const CallSite& site = frame.code->calls[std::size_t(in->b)];
    const Procedure* procedure = frame.scalars[in->c].procedure;
    if (!site.scalarArguments || procedure == nullptr)
        return false;
    const Code* code = procedure->code.get();
    if (code == nullptr || code->takesArrays || code->usesEnvironment
        || (code->checkedIn != procedureGeneration_ && !code->assumed.empty()))
        return false;
    const std::size_t count = site.arguments.size();
    if (count != code->parameters.size())
        return false;
    for (std::size_t i = 0; i < count; ++i)
        if (site.arguments[i].value.bank != code->parameters[i].bank)
            return false;
    frame.pc = pc;
    const DepthGuard depth(*this, site.line, site.depth + 1, true);
    const FrameRegisters<RegisterStacks> registers(*registers_, *code);
    Frame callee;
    callee.code = code;
    callee.scalars = registers.scalars.data;
    callee.values = registers.values.data;
    for (std::size_t i = 0; i < count; ++i)
        callee.scalars[code->parameters[i].index] = frame.scalars[site.arguments[i].value.index];
    const Exit exit = execute(callee, 0);
    const Bank bank = in->x == 1 ? Bank::Int : Bank::Float;
    Scalar& number = frame.scalars[in->a];
    if (exit.kind == Exit::Kind::Return && exit.bank == bank && procedure->returnsValue) {
        number = callee.scalars[exit.reg];
        return true;
    }
    Value value = std::string();
    if (resultOf(exit, callee, site, *procedure, value, &number, bank) != Returned::Number)
        takeNumber(std::move(value), bank, number, site);
    return true;
}

Value Interpreter::makeMatrix(const Code& code, const Instruction* in, const Scalar* s)
{
    const std::int32_t* operands = &code.lists[std::size_t(in->b)];
    const std::size_t columns = std::size_t(operands[0]);
    Matrix matrix(std::size_t(in->c) / columns, columns);
    for (std::int32_t i = 0; i < in->c; ++i)
        matrix.elements[std::size_t(i)] = s[operands[i + 1]].f;
    return matrix;
}

double& Interpreter::matrixElement(Value& matrix, int row, int column, const std::string& name, int line)
{
    if (matrix.type() != Type::Matrix)
        fail(line, "$" + name + " is not a matrix");
    Matrix& elements = std::get<Matrix>(matrix);
    if (std::size_t(row) >= elements.rows || std::size_t(column) >= elements.columns)
        fail(line,
            "$" + name + "[" + std::to_string(row) + "][" + std::to_string(column) + "] does not exist: $"
                + name + " is " + described(matrix));
    return elements.at(std::size_t(row), std::size_t(column));
}

Value& Interpreter::variableNamed(const Code& code, std::int32_t name, int line)
{
    Value* variable = environment_.find(code.names[std::size_t(name)], code.slots[std::size_t(name)]);
    if (variable == nullptr)
        fail(line, "$" + code.names[std::size_t(name)] + " is not declared");
    return *variable;
}

// ---- the loop

namespace {

constexpr Opcode kListed[] = {
#define MEL_OPCODE_ITEM(name) Opcode::name,
    MEL_OPCODES(MEL_OPCODE_ITEM)
#undef MEL_OPCODE_ITEM
};

constexpr bool listedInOrder()
{
    for (std::size_t i = 0; i < sizeof kListed / sizeof kListed[0]; ++i)
        if (static_cast<std::size_t>(kListed[i]) != i)
            return false;
    return sizeof kListed / sizeof kListed[0] == static_cast<std::size_t>(Opcode::End) + 1;
}
static_assert(listedInOrder(), "MEL_OPCODES must list every opcode in the order of Opcode");

}  // namespace

Interpreter::Exit Interpreter::execute(Frame& frame, std::int32_t pc)
{
    const Code& code = *frame.code;
    const Instruction* const instructions = code.instructions.data();
    Scalar* const s = frame.scalars;
    Value* const v = frame.values;
    const auto line = [&code, &pc]() { return code.lines[std::size_t(pc)]; };
    const auto ints = [](Value& value) -> std::vector<int>& { return std::get<std::vector<int>>(value); };
    const auto floats
        = [](Value& value) -> std::vector<double>& { return std::get<std::vector<double>>(value); };
    const Instruction* in = nullptr;
    // Each instruction jumps straight to the next one's code: one indirect
    // jump an instruction, each predicted on its own.
    static void* const kDispatch[] = {
#define MEL_OPCODE_LABEL(name) &&op##name,
        MEL_OPCODES(MEL_OPCODE_LABEL)
#undef MEL_OPCODE_LABEL
    };
#define DISPATCH()                                                                                           \
    do {                                                                                                     \
        in = &instructions[pc];                                                                              \
        goto* kDispatch[static_cast<int>(in->op)];                                                           \
    } while (false)
#define NEXT()                                                                                               \
    do {                                                                                                     \
        ++pc;                                                                                                \
        DISPATCH();                                                                                          \
    } while (false)
    DISPATCH();
    {
    opNop:
        NEXT();
    opStep:
        tick(in->a, line());
        NEXT();
    opJump:
        pc = in->a;
        DISPATCH();
    opJumpToStep:
        pc = in->a;
        in = &instructions[pc];
        tick(in->a, line());
        NEXT();
    opJumpIfZero:
        if (s[in->a].i == 0) {
            pc = in->b;
            DISPATCH();
        }
        NEXT();
    opJumpIfNotZero:
        if (s[in->a].i != 0) {
            pc = in->b;
            DISPATCH();
        }
        NEXT();
    opTruth:
        s[in->a].i = truth(v[in->b], line()) ? 1 : 0;
        NEXT();
    opLoadInt:
        s[in->a].i = in->b;
        NEXT();
    opLoadFloat:
        s[in->a].f = code.floats[std::size_t(in->b)];
        NEXT();
    opLoadValue:
        v[in->a] = code.values[std::size_t(in->b)];
        NEXT();
    opMoveScalar:
        s[in->a] = s[in->b];
        NEXT();
    opMoveValue:
        if (in->a != in->b)
            v[in->a] = v[in->b];
        NEXT();
    opIntToFloat:
        s[in->a].f = s[in->b].i;
        NEXT();
    opFloatToInt:
        s[in->a].i = floatToInt(s[in->b].f);
        NEXT();
    opBoxInt:
        v[in->a] = s[in->b].i;
        NEXT();
    opBoxFloat:
        v[in->a] = s[in->b].f;
        NEXT();
    opUnboxInt:
        s[in->a].i = std::get<int>(v[in->b]);
        NEXT();
    opUnboxFloat:
        s[in->a].f = std::get<double>(v[in->b]);
        NEXT();
    opConvert:
        v[in->a] = converted(v[in->b], code.conversions[std::size_t(in->c)], line());
        NEXT();
    opStore:
        storeInstruction(code, in, v, line());
        NEXT();
    opNumberOf:
        s[in->a].f = number(v[in->b], line(), code.texts[std::size_t(in->c)].c_str());
        NEXT();
    opIndexOf:
        s[in->a].i = indexOf(v[in->b], line());
        NEXT();
    opCheckIndex:
        if (s[in->a].i < 0)
            checkIndex(s[in->a].i, line());
        NEXT();
    opAddInt:
        s[in->a].i = add(s[in->b].i, s[in->c].i);
        NEXT();
    opSubtractInt:
        s[in->a].i = wrappedInt(std::int64_t(s[in->b].i) - s[in->c].i);
        NEXT();
    opMultiplyInt:
        s[in->a].i = wrappedInt(std::int64_t(s[in->b].i) * s[in->c].i);
        NEXT();
    opDivideInt:
    opRemainderInt:
        s[in->a].i = combineInts(
            in->op == Opcode::DivideInt ? Op::Divide : Op::Remainder, s[in->b].i, s[in->c].i, line());
        NEXT();
    opNegateInt:
        s[in->a].i = wrappedInt(-std::int64_t(s[in->b].i));
        NEXT();
    opNotInt:
        s[in->a].i = s[in->b].i == 0 ? 1 : 0;
        NEXT();
    opEqualInt:
        s[in->a].i = s[in->b].i == s[in->c].i;
        NEXT();
    opNotEqualInt:
        s[in->a].i = s[in->b].i != s[in->c].i;
        NEXT();
    opLessInt:
        s[in->a].i = s[in->b].i < s[in->c].i;
        NEXT();
    opLessEqualInt:
        s[in->a].i = s[in->b].i <= s[in->c].i;
        NEXT();
    opGreaterInt:
        s[in->a].i = s[in->b].i > s[in->c].i;
        NEXT();
    opGreaterEqualInt:
        s[in->a].i = s[in->b].i >= s[in->c].i;
        NEXT();
    opAddIntConstant:
        s[in->a].i = add(s[in->b].i, in->c);
        NEXT();
    opEqualIntConstant:
        s[in->a].i = s[in->b].i == in->c;
        NEXT();
    opNotEqualIntConstant:
        s[in->a].i = s[in->b].i != in->c;
        NEXT();
    opLessIntConstant:
        s[in->a].i = s[in->b].i < in->c;
        NEXT();
    opLessEqualIntConstant:
        s[in->a].i = s[in->b].i <= in->c;
        NEXT();
    opGreaterIntConstant:
        s[in->a].i = s[in->b].i > in->c;
        NEXT();
    opGreaterEqualIntConstant:
        s[in->a].i = s[in->b].i >= in->c;
        NEXT();
    opMultiplyIntConstant:
        s[in->a].i = wrappedInt(std::int64_t(s[in->b].i) * in->c);
        NEXT();
    opDivideIntConstant:
        s[in->a].i = wrappedInt(std::int64_t(s[in->b].i) / in->c);
        NEXT();
    opRemainderIntConstant:
        s[in->a].i = wrappedInt(std::int64_t(s[in->b].i) % in->c);
        NEXT();
#define MEL_BRANCH(name, test)                                                                               \
    op##name##Branch : if ((s[in->a].i = (test)) == 0)                                                       \
    {                                                                                                        \
        pc = in[1].b;                                                                                        \
        DISPATCH();                                                                                          \
    }                                                                                                        \
    pc += 2;                                                                                                 \
    DISPATCH();
        MEL_BRANCH(EqualInt, s[in->b].i == s[in->c].i)
        MEL_BRANCH(NotEqualInt, s[in->b].i != s[in->c].i)
        MEL_BRANCH(LessInt, s[in->b].i < s[in->c].i)
        MEL_BRANCH(LessEqualInt, s[in->b].i <= s[in->c].i)
        MEL_BRANCH(GreaterInt, s[in->b].i > s[in->c].i)
        MEL_BRANCH(GreaterEqualInt, s[in->b].i >= s[in->c].i)
        MEL_BRANCH(EqualIntConstant, s[in->b].i == in->c)
        MEL_BRANCH(NotEqualIntConstant, s[in->b].i != in->c)
        MEL_BRANCH(LessIntConstant, s[in->b].i < in->c)
        MEL_BRANCH(LessEqualIntConstant, s[in->b].i <= in->c)
        MEL_BRANCH(GreaterIntConstant, s[in->b].i > in->c)
        MEL_BRANCH(GreaterEqualIntConstant, s[in->b].i >= in->c)
#undef MEL_BRANCH
    opStepInt:
        s[in->a].i = add(s[in->a].i, in->b);
        NEXT();
    opAddFloat:
        s[in->a].f = s[in->b].f + s[in->c].f;
        NEXT();
    opSubtractFloat:
        s[in->a].f = s[in->b].f - s[in->c].f;
        NEXT();
    opMultiplyFloat:
        s[in->a].f = s[in->b].f * s[in->c].f;
        NEXT();
    opDivideFloat:
        s[in->a].f = s[in->b].f / s[in->c].f;
        NEXT();
    opRemainderFloat:
        s[in->a].f = std::fmod(s[in->b].f, s[in->c].f);
        NEXT();
    opNegateFloat:
        s[in->a].f = -s[in->b].f;
        NEXT();
    opEqualFloat:
        s[in->a].i = s[in->b].f == s[in->c].f;
        NEXT();
    opNotEqualFloat:
        s[in->a].i = s[in->b].f != s[in->c].f;
        NEXT();
    opLessFloat:
        s[in->a].i = s[in->b].f < s[in->c].f;
        NEXT();
    opLessEqualFloat:
        s[in->a].i = s[in->b].f <= s[in->c].f;
        NEXT();
    opGreaterFloat:
        s[in->a].i = s[in->b].f > s[in->c].f;
        NEXT();
    opGreaterEqualFloat:
        s[in->a].i = s[in->b].f >= s[in->c].f;
        NEXT();
    opMathFloat:
        s[in->a].f = code.builtinRows[std::size_t(in->c)]->floatFunction(s[in->b].f);
        NEXT();
    opCombine : {
        const Value& left = v[in->b];
        const Value& right = v[in->c];
        const Op op = static_cast<Op>(in->x);
        // Two ints, the common case of values known only as they run.
        if (left.index() == 0 && right.index() == 0 && op != Op::Cross) {
            const int a = *std::get_if<int>(&left);
            const int b = *std::get_if<int>(&right);
            switch (op) {
            case Op::Add:
                v[in->a] = add(a, b);
                break;
            case Op::Subtract:
                v[in->a] = wrappedInt(std::int64_t(a) - b);
                break;
            case Op::Less:
                v[in->a] = a < b ? 1 : 0;
                break;
            default:
                v[in->a] = combineInts(op, a, b, line());
                break;
            }
            NEXT();
        }
        v[in->a] = combine(op, left, right, line());
        NEXT();
    }
    opStepValue:
        v[in->a] = stepped(v[in->b], in->x == 1 ? 1 : -1, code.texts[std::size_t(in->c)].c_str(), line());
        NEXT();
    opNegateValue:
        v[in->a] = negate(v[in->b], line());
        NEXT();
    opConcatenate:
        concatenate(code, in, s, v, line());
        NEXT();
    opAppendText:
        appendText(in, v, line());
        NEXT();
    opMakeArray:
        makeArray(code, in, v, line());
        NEXT();
    opMakeVector:
        v[in->a] = Vector3 { s[code.lists[std::size_t(in->b)]].f, s[code.lists[std::size_t(in->b + 1)]].f,
            s[code.lists[std::size_t(in->b + 2)]].f };
        NEXT();
    opMakeMatrix:
        v[in->a] = makeMatrix(code, in, s);
        NEXT();
    opMakeMatrixOfSize:
        checkSize(std::size_t(in->b) * std::size_t(in->c), line());
        v[in->a] = Matrix(std::size_t(in->b), std::size_t(in->c));
        NEXT();
    opMatrixElement:
        s[in->a].f = matrixElement(v[code.lists[std::size_t(in->b)]], s[code.lists[std::size_t(in->b + 2)]].i,
            s[code.lists[std::size_t(in->b + 3)]].i,
            code.texts[std::size_t(code.lists[std::size_t(in->b + 1)])], line());
        NEXT();
    opSetMatrixElement : {
        const std::int32_t* operands = &code.lists[std::size_t(in->a)];
        const std::string& name = code.texts[std::size_t(operands[1])];
        if (operands[0] < 0)
            fail(line(), "$" + name + " is not a matrix");
        matrixElement(v[operands[0]], s[operands[2]].i, s[operands[3]].i, name, line()) = s[operands[4]].f;
        NEXT();
    }
    opVariableMatrixElement : {
        const std::int32_t* operands = &code.lists[std::size_t(in->b)];
        s[in->a].f = matrixElement(variableNamed(code, operands[0], line()), s[operands[1]].i,
            s[operands[2]].i, code.names[std::size_t(operands[0])], line());
        NEXT();
    }
    opVariableSetMatrixElement : {
        const std::int32_t* operands = &code.lists[std::size_t(in->b)];
        matrixElement(variableNamed(code, operands[0], line()), s[operands[1]].i, s[operands[2]].i,
            code.names[std::size_t(operands[0])], line())
            = s[operands[3]].f;
        NEXT();
    }
    opComponent : {
        const Value& value = v[in->b];
        if (value.type() != Type::Vector)
            fail(line(),
                code.texts[std::size_t(in->c)] + " is " + withArticle(value.type()) + ", not a vector");
        const Vector3& vector = std::get<Vector3>(value);
        s[in->a].f = in->x == 0 ? vector.x : in->x == 1 ? vector.y : vector.z;
        NEXT();
    }
    opElementInt : {
        const std::vector<int>& array = ints(v[in->b]);
        const std::size_t index = std::size_t(s[in->c].i);
        s[in->a].i = index < array.size() ? array[index] : 0;
        NEXT();
    }
    opElementFloat : {
        const std::vector<double>& array = floats(v[in->b]);
        const std::size_t index = std::size_t(s[in->c].i);
        s[in->a].f = index < array.size() ? array[index] : 0.0;
        NEXT();
    }
    opElement:
        v[in->a] = element(v[code.lists[std::size_t(in->b)]], s[in->c].i,
            code.texts[std::size_t(code.lists[std::size_t(in->b + 1)])], line());
        NEXT();
    opSetElementInt : {
        const std::size_t index = std::size_t(s[in->b].i);
        checkSize(index + 1, line());
        std::vector<int>& array = ints(v[in->a]);
        if (index >= array.size())
            array.resize(index + 1);
        array[index] = s[in->c].i;
        NEXT();
    }
    opSetElementFloat : {
        const std::size_t index = std::size_t(s[in->b].i);
        checkSize(index + 1, line());
        std::vector<double>& array = floats(v[in->a]);
        if (index >= array.size())
            array.resize(index + 1);
        array[index] = s[in->c].f;
        NEXT();
    }
    opSetElement:
        setElement(v[code.lists[std::size_t(in->a)]], s[in->b].i, v[in->c],
            code.texts[std::size_t(code.lists[std::size_t(in->a + 1)])], line());
        NEXT();
    opStepElementInt : {
        const std::size_t index = std::size_t(s[in->b].i);
        std::vector<int>& array = ints(v[in->a]);
        checkSize(index + 1, line());
        if (index >= array.size())
            array.resize(index + 1);
        array[index] = add(array[index], in->c);
        NEXT();
    }
    opSize:
        s[in->a].i = static_cast<int>(std::min<std::size_t>(v[in->b].size(), 2147483647));
        NEXT();
    opResizeArray:
        checkSize(std::size_t(s[in->b].i), line());
        v[in->a].resize(std::size_t(s[in->b].i));
        NEXT();
    opCheckScalar:
        if (v[in->a].isArray())
            fail(line(),
                code.texts[std::size_t(in->b)] + " needs a scalar, not " + withArticle(v[in->a].type()));
        NEXT();
    opCheckArray:
        if (!v[in->a].isArray())
            fail(line(), "for-in needs an array, not " + withArticle(v[in->a].type()));
        NEXT();
    opCaseMatches:
        s[in->a].i = caseMatches(v[in->b], v[in->c], line()) ? 1 : 0;
        NEXT();
    opVariableGet : {
        const Value* variable
            = environment_.find(code.names[std::size_t(in->b)], code.slots[std::size_t(in->b)]);
        if (variable == nullptr)
            fail(line(), "$" + code.names[std::size_t(in->b)] + " is not declared");
        v[in->a] = *variable;
        NEXT();
    }
    opVariableSet:
        setVariable(code.names[std::size_t(in->b)], v[in->c], line(), &code.slots[std::size_t(in->b)]);
        NEXT();
    opVariableDeclare:
        declareVariable(code.declarations[std::size_t(in->b)], v[in->c], line());
        NEXT();
    opVariableElement : {
        const std::string& name = code.names[std::size_t(in->b)];
        const Value* variable = environment_.find(name, code.slots[std::size_t(in->b)]);
        if (variable == nullptr)
            fail(line(), "$" + name + " is not declared");
        v[in->a] = element(*variable, s[in->c].i, name, line());
        NEXT();
    }
    opVariableSetElement:
        setVariableElement(code.names[std::size_t(code.lists[std::size_t(in->b)])],
            s[code.lists[std::size_t(in->b + 1)]].i, v[code.lists[std::size_t(in->b + 2)]], line());
        NEXT();
    opVariableAppend:
        variableAppend(code, in, v, line());
        NEXT();
    opClearFlags:
        for (std::int32_t i = 0; i < in->b; ++i)
            s[code.lists[std::size_t(in->a + i)]].i = 0;
        NEXT();
    opDefine:
        define(code.procedures[std::size_t(in->a)]);
        NEXT();
    opEnterBlock:
        environment_.enterBlock();
        NEXT();
    opLeaveBlock:
        environment_.leaveBlock();
        NEXT();
    opPrepareCall : {
        const CallSite& site = code.calls[std::size_t(in->a)];
        s[in->b].procedure
            = site.generation == procedureGeneration_ ? site.procedure : prepareCall(site).procedure;
        NEXT();
    }
    opCall:
        if (in->x == 0 || !callNumberDirectly(frame, in, pc))
            callInstruction(frame, in, pc);
        NEXT();
    opYield:
        return Exit { Exit::Kind::Yield, in->a, static_cast<Bank>(in->b), in->x == 1 };
    opReturn:
        return Exit { Exit::Kind::Return, in->a, Bank::Value };
    opReturnInt:
        return Exit { Exit::Kind::Return, in->a, Bank::Int };
    opReturnFloat:
        return Exit { Exit::Kind::Return, in->a, Bank::Float };
    opReturnFlow:
        return Exit { in->a == 1 ? Exit::Kind::Break : Exit::Kind::Continue, -1, Bank::Value };
    opFail:
        fail(line(), code.texts[std::size_t(in->a)]);
    opEnd:
        return Exit();
    }
#undef NEXT
#undef DISPATCH
}

}  // namespace mel
