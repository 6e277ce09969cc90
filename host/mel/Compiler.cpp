// The compile step: a syntax tree into register code (Code.h). A variable
// whose binding can be proved lives in a register of its type, ints and
// floats unboxed; the types of expressions are worked out where they can be;
// steps are counted once for each straight run of code. What a construct
// means is what it meant to the tree walk before it: what is left to run time
// goes through the shared operations of Value.h and the interpreter.
//
// How a name is found:
// - In a procedure, every variable is its own register, except the names it
//   declares global anywhere, found by name. A variable declared on some paths
//   only (a declaration in a branch, a for-in's variable after its loop) has
//   an int flag beside it that says whether it is declared yet.
// - In top-level code (a statement, or one of eval's or source's), only a
//   variable declared in one of its own blocks, on every path through that
//   block, is a register: every other name reaches the globals (or a block's
//   variable declared by assignment, which depends on whether a global of its
//   name exists when it runs), so it is found by name.
#include "Compiler.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <unordered_set>
#include <utility>

namespace mel {

namespace {

using StaticType = std::optional<Type>;  // none: known only when it runs

Bank bankOf(StaticType type)
{
    if (type == Type::Int)
        return Bank::Int;
    if (type == Type::Float)
        return Bank::Float;
    return Bank::Value;
}

bool isNumber(StaticType type)
{
    return type == Type::Int || type == Type::Float;
}

bool isComparison(Op op)
{
    return op >= Op::Equal && op <= Op::GreaterEqual;
}

bool isJump(Opcode op)
{
    return op == Opcode::Jump || op == Opcode::JumpIfZero || op == Opcode::JumpIfNotZero;
}

// Every name a procedure declares global: found by name wherever it appears
// in the procedure, as its frame reaches only the globals it declared.
void collectGlobals(const Stmt& statement, std::unordered_set<std::string>& names)
{
    if (statement.kind == Stmt::Kind::Declaration && statement.global)
        for (const Declarator& declarator : statement.declarators)
            names.insert(declarator.name);
    for (const StmtPtr& inner : statement.body)
        collectGlobals(*inner, names);
}

// What a statement's tree holds, for whether its globals can be its own:
// the names it uses, those it declares, those it assigns inside a block (which
// declares a block's variable where no global of the name exists), and
// whether it calls anything.
struct Uses {
    std::unordered_set<std::string> used;
    std::unordered_set<std::string> declared;
    std::unordered_set<std::string> assignedInBlock;
    std::unordered_set<std::string> elementsAssigned;  // which declares an array where none exists
    bool calls = false;
    int blocks = 0;

    void assigned(const Expr& target)
    {
        if (blocks > 0 && (target.kind == Expr::Kind::Variable || target.kind == Expr::Kind::Index))
            assignedInBlock.insert(target.text);
        if (target.kind == Expr::Kind::Index)
            elementsAssigned.insert(target.text);
    }

    void expression(const Expr& expression)
    {
        if (expression.kind == Expr::Kind::Assign || expression.kind == Expr::Kind::Step)
            assigned(*expression.operands[0]);
        switch (expression.kind) {
        case Expr::Kind::Variable:
        case Expr::Kind::Index:
            used.insert(expression.text);
            break;
        case Expr::Kind::Call:
        case Expr::Kind::Command:
            calls = true;
            break;
        default:
            break;
        }
        for (const ExprPtr& operand : expression.operands)
            this->expression(*operand);
    }

    void statement(const Stmt& statement)
    {
        for (const Declarator& declarator : statement.declarators) {
            declared.insert(declarator.name);
            if (declarator.size)
                expression(*declarator.size);
            if (declarator.initialiser)
                expression(*declarator.initialiser);
        }
        if (statement.kind == Stmt::Kind::ForIn) {
            used.insert(statement.variable);
            if (blocks > 0)
                assignedInBlock.insert(statement.variable);
        }
        if (statement.kind == Stmt::Kind::Procedure)
            calls = true;
        const bool block = statement.kind == Stmt::Kind::Block;
        blocks += block ? 1 : 0;
        for (const Expr* part :
            { statement.expression.get(), statement.condition.get(), statement.step.get() })
            if (part != nullptr)
                expression(*part);
        for (const CaseLabel& label : statement.labels)
            if (label.value)
                expression(*label.value);
        for (const StmtPtr& inner : statement.body)
            this->statement(*inner);
        blocks -= block ? 1 : 0;
    }
};

class Compiler {
public:
    Compiler(CodeKind kind, std::string what, const std::unordered_map<std::string, Builtin>& builtins,
        const NumberReturned& numberReturned)
        : kind_(kind)
        , what_(std::move(what))
        , builtins_(builtins)
        , numberReturned_(numberReturned)
        , code_(std::make_shared<Code>())
    {
    }

    /// Types of the globals a statement declares, learnt from a first compile:
    /// one that only ever takes values of one type is a register of it.
    using Hints = std::unordered_map<std::string, Type>;

    std::shared_ptr<const Code> statement(
        const Stmt& statement, const GlobalType& globalType, bool giveValue, const Hints& hints = Hints())
    {
        hints_ = &hints;
        openRegion(statement.line);
        openScope(false);
        if (globalType)
            promoteGlobals(statement, globalType);
        const Expr* call = statement.kind == Stmt::Kind::Expression ? statement.expression.get() : nullptr;
        if (call != nullptr && (call->kind == Expr::Kind::Call || call->kind == Expr::Kind::Command)) {
            // A statement that only calls something takes the callee's result.
            countSteps(1);
            code_->result = compileCall(*call, true).reg;
        } else if (giveValue && statement.kind == Stmt::Kind::Expression) {
            // The statement's value is wanted: an assignment's, an expression's.
            countSteps(1);
            code_->result = box(expression(*statement.expression), statement.line);
            code_->resultIsValue = true;
        } else {
            compileStatement(statement);
        }
        closeScope(statement.line);
        closeRegion();
        failStrayJumps(statement.line);
        emit(Opcode::End, statement.line);
        return finish();
    }

    std::shared_ptr<const Code> procedure(const Procedure& procedure)
    {
        returnType_ = procedure.returnsValue ? StaticType(procedure.returnType) : StaticType();
        collectGlobals(*procedure.body, globals_);
        openRegion(procedure.line);
        openScope(false);
        for (const Parameter& parameter : procedure.parameters) {
            const Register reg = allocate(bankOf(parameter.type));
            code_->parameters.push_back(reg);
            code_->takesArrays = code_->takesArrays || isArray(parameter.type);
            bind(parameter.name, reg, parameter.type);
        }
        compileStatement(*procedure.body);
        closeScope(procedure.line);
        closeRegion();
        emit(Opcode::Return, procedure.line, -1);
        return finish();
    }

private:
    struct Operand {
        Register reg;
        StaticType type;
    };

    // Nothing but this statement can reach a global while a statement that
    // calls nothing runs, so the globals it uses, and does not declare, are
    // registers for its length.
    void promoteGlobals(const Stmt& statement, const GlobalType& globalType)
    {
        Uses uses;
        uses.statement(statement);
        if (uses.calls)
            return;
        for (const std::string& variable : uses.used) {
            if (uses.declared.count(variable) != 0)
                continue;
            Value* global = globalType(variable);
            if (global == nullptr) {
                // A global the statement declares by assigning it, where no
                // block of its own could declare it instead.
                if (uses.assignedInBlock.count(variable) != 0 || uses.elementsAssigned.count(variable) != 0)
                    continue;
                const auto hint = hints_->find(variable);
                const StaticType type = hint != hints_->end() ? StaticType(hint->second) : std::nullopt;
                const Register reg = allocate(bankOf(type));
                Binding& binding = bind(variable, reg, type, false);
                binding.global = true;
                code_->declaredGlobals.push_back(Code::DeclaredGlobal { variable, reg, binding.flag });
                continue;
            }
            const Type type = global->type();
            const Register reg = allocate(bankOf(type));
            bind(variable, reg, type);
            code_->promoted.push_back(Code::Promoted { global, reg });
        }
    }

    struct Binding {
        Register reg;
        StaticType type;  // none: the type of its first value
        std::int32_t flag = -1;  // an int register that is 1 once it is declared, when not on every path
        std::int32_t named = -1;  // its row of code.named
        bool declared = false;  // a flagged one, declared for all code compiled from here on
        int conditional = 0;  // the scope it belongs to runs on these paths
        bool global = false;  // a global the statement declares
    };

    // Whether reading `binding` must look at its flag first.
    bool mayBeUndeclared(const Binding& binding, const std::string& variable) const
    {
        return binding.flag >= 0 && !binding.declared && !declaredHere(variable);
    }

    struct Scope {
        std::unordered_map<std::string, Binding> names;
        std::int32_t scalarTop = 0;  // above its variables
        std::int32_t valueTop = 0;
        std::int32_t scalarStart = 0;
        std::int32_t valueStart = 0;
        int conditional = 0;
        bool block = false;
        bool environment = false;  // an EnterBlock stands where it opens
        std::int32_t enter = -1;  // the place kept for that EnterBlock
        std::int32_t clear = -1;  // the place kept for the clearing of its flags
        std::vector<std::int32_t> flags;
        std::vector<std::int32_t> leaves;  // places kept for a LeaveBlock where a jump leaves it
    };

    // Code whose steps one Step counts: its place, and the steps so far.
    struct Region {
        std::int32_t step;
        int steps;
    };

    struct Loop {
        std::vector<std::int32_t> breaks;
        std::vector<std::int32_t> continues;
        std::size_t scopes;  // scopes open outside the loop
        bool isSwitch = false;  // takes break, passes continue on
    };

    // ---- output

    std::int32_t emit(
        Opcode op, int line, std::int32_t a = 0, std::int32_t b = 0, std::int32_t c = 0, std::uint8_t x = 0)
    {
        code_->instructions.push_back(Instruction { op, x, a, b, c });
        code_->lines.push_back(line);
        return static_cast<std::int32_t>(code_->instructions.size() - 1);
    }

    std::int32_t here() const { return static_cast<std::int32_t>(code_->instructions.size()); }

    void patch(std::int32_t at, std::int32_t target)
    {
        Instruction& jump = code_->instructions[std::size_t(at)];
        if (jump.op == Opcode::Jump)
            jump.a = target;
        else
            jump.b = target;
    }

    template <typename Table, typename Item> static std::int32_t add(Table& table, Item item)
    {
        table.push_back(std::move(item));
        return static_cast<std::int32_t>(table.size() - 1);
    }

    std::int32_t text(const std::string& what) { return add(code_->texts, what); }
    std::int32_t name(const std::string& variable) { return add(code_->names, variable); }

    std::int32_t list(std::initializer_list<std::int32_t> items)
    {
        const std::int32_t first = static_cast<std::int32_t>(code_->lists.size());
        code_->lists.insert(code_->lists.end(), items.begin(), items.end());
        return first;
    }

    std::int32_t list(const std::vector<std::int32_t>& items)
    {
        const std::int32_t first = static_cast<std::int32_t>(code_->lists.size());
        code_->lists.insert(code_->lists.end(), items.begin(), items.end());
        return first;
    }

    // Drops the places kept while compiling, moving every jump and argument
    // start to where its instruction now is.
    std::shared_ptr<const Code> finish()
    {
        code_->usesEnvironment = usesEnvironment_;
        code_->slots.resize(code_->names.size());
        std::vector<std::int32_t> moved(code_->instructions.size() + 1, 0);
        std::int32_t kept = 0;
        for (std::size_t i = 0; i < code_->instructions.size(); ++i) {
            moved[i] = kept;
            if (code_->instructions[i].op != Opcode::Nop)
                ++kept;
        }
        moved[code_->instructions.size()] = kept;
        std::vector<Instruction> instructions;
        std::vector<int> lines;
        for (std::size_t i = 0; i < code_->instructions.size(); ++i) {
            Instruction instruction = code_->instructions[i];
            if (instruction.op == Opcode::Nop)
                continue;
            if (instruction.op == Opcode::Jump)
                instruction.a = moved[std::size_t(instruction.a)];
            else if (isJump(instruction.op))
                instruction.b = moved[std::size_t(instruction.b)];
            instructions.push_back(instruction);
            lines.push_back(code_->lines[i]);
        }
        for (CallSite& site : code_->calls)
            for (Argument& argument : site.arguments)
                if (argument.start >= 0)
                    argument.start = moved[std::size_t(argument.start)];
        for (Code::Named& named : code_->named) {
            named.from = moved[std::size_t(named.from)];
            named.to
                = named.to == std::numeric_limits<std::int32_t>::max() ? kept : moved[std::size_t(named.to)];
        }
        // A jump to a Step counts the steps itself: a loop's turn one dispatch shorter.
        for (Instruction& instruction : instructions)
            if (instruction.op == Opcode::Jump && instructions[std::size_t(instruction.a)].op == Opcode::Step)
                instruction.op = Opcode::JumpToStep;
        code_->instructions = std::move(instructions);
        code_->lines = std::move(lines);
        return code_;
    }

    // Steps are counted where code can come round again: as a loop starts
    // a turn, a procedure a call, and a statement once; each counts at once
    // every step its code holds, whichever way it goes. A run that never
    // loops or calls is bounded by its own length; one that does is counted.
    void countSteps(int steps) { regions_.back().steps += steps; }

    void openRegion(int line) { regions_.push_back(Region { emit(Opcode::Nop, line), 0 }); }

    void closeRegion()
    {
        const Region region = regions_.back();
        regions_.pop_back();
        if (region.steps > 0)
            code_->instructions[std::size_t(region.step)]
                = Instruction { Opcode::Step, 0, region.steps, 0, 0 };
    }

    std::int32_t jump(Opcode op, int line, std::int32_t condition = 0)
    {
        if (op == Opcode::Jump)
            return emit(op, line, -1);
        if (op == Opcode::JumpIfZero)
            branchOnComparison(condition);
        return emit(op, line, condition, -1);
    }

    // A comparison of ints just made into the register a JumpIfZero is about
    // to test takes the jump itself.
    void branchOnComparison(std::int32_t condition)
    {
        static const std::pair<Opcode, Opcode> kBranching[] = {
            { Opcode::EqualInt, Opcode::EqualIntBranch },
            { Opcode::NotEqualInt, Opcode::NotEqualIntBranch },
            { Opcode::LessInt, Opcode::LessIntBranch },
            { Opcode::LessEqualInt, Opcode::LessEqualIntBranch },
            { Opcode::GreaterInt, Opcode::GreaterIntBranch },
            { Opcode::GreaterEqualInt, Opcode::GreaterEqualIntBranch },
            { Opcode::EqualIntConstant, Opcode::EqualIntConstantBranch },
            { Opcode::NotEqualIntConstant, Opcode::NotEqualIntConstantBranch },
            { Opcode::LessIntConstant, Opcode::LessIntConstantBranch },
            { Opcode::LessEqualIntConstant, Opcode::LessEqualIntConstantBranch },
            { Opcode::GreaterIntConstant, Opcode::GreaterIntConstantBranch },
            { Opcode::GreaterEqualIntConstant, Opcode::GreaterEqualIntConstantBranch },
        };
        if (code_->instructions.empty())
            return;
        Instruction& last = code_->instructions.back();
        if (last.a != condition)
            return;
        for (const auto& [comparison, branching] : kBranching)
            if (last.op == comparison) {
                last.op = branching;
                return;
            }
    }

    void jumpTo(std::int32_t target, int line) { patch(jump(Opcode::Jump, line), target); }

    // Where a jump may land: what was counted before it belongs to the run before.
    std::int32_t label(int /*line*/) { return here(); }

    // ---- registers

    Register allocate(Bank bank)
    {
        if (bank == Bank::Value) {
            const Register reg { bank, valueTop_++ };
            code_->valueRegisters = std::max(code_->valueRegisters, valueTop_);
            return reg;
        }
        const Register reg { bank, scalarTop_++ };
        code_->scalars = std::max(code_->scalars, scalarTop_);
        return reg;
    }

    // Temporaries live until their statement ends; declarations, and what a
    // loop keeps for itself, until their scope closes.
    void releaseTemporaries()
    {
        scalarTop_ = scopes_.back().scalarTop;
        valueTop_ = scopes_.back().valueTop;
    }

    void keepAsLocal()
    {
        scopes_.back().scalarTop = scalarTop_;
        scopes_.back().valueTop = valueTop_;
    }

    // ---- scopes and names

    void openScope(bool block)
    {
        Scope scope;
        scope.scalarStart = scope.scalarTop = scalarTop_;
        scope.valueStart = scope.valueTop = valueTop_;
        scope.conditional = conditional_;
        scope.block = block;
        scope.enter = emit(Opcode::Nop, 0);
        scope.clear = emit(Opcode::Nop, 0);
        scopes_.push_back(std::move(scope));
    }

    void closeScope(int line)
    {
        Scope& scope = scopes_.back();
        for (auto& entry : scope.names)
            if (entry.second.named >= 0)
                code_->named[std::size_t(entry.second.named)].to = here();
        if (!scope.flags.empty())
            code_->instructions[std::size_t(scope.clear)] = Instruction { Opcode::ClearFlags, 0,
                list(scope.flags), static_cast<std::int32_t>(scope.flags.size()), 0 };
        if (scope.environment) {
            emit(Opcode::LeaveBlock, line);
            for (const std::int32_t at : scope.leaves)
                code_->instructions[std::size_t(at)] = Instruction { Opcode::LeaveBlock, 0, 0, 0, 0 };
        }
        scalarTop_ = scope.scalarStart;
        valueTop_ = scope.valueStart;
        scopes_.pop_back();
    }

    // A variable found by name may be declared by this code into the block
    // it stands in, which then needs the Environment's block scope.
    void mayDeclareByName()
    {
        usesEnvironment_ = true;
        for (auto scope = scopes_.rbegin(); scope != scopes_.rend(); ++scope) {
            if (!scope->block)
                continue;
            if (!scope->environment) {
                scope->environment = true;
                code_->instructions[std::size_t(scope->enter)]
                    = Instruction { Opcode::EnterBlock, 0, 0, 0, 0 };
            }
            return;
        }
    }

    Binding* find(const std::string& variable)
    {
        for (auto scope = scopes_.rbegin(); scope != scopes_.rend(); ++scope) {
            const auto found = scope->names.find(variable);
            if (found != scope->names.end())
                return &found->second;
        }
        return nullptr;
    }

    // Whether `$variable`, not bound to a register, is found by name.
    bool byName(const std::string& variable) const
    {
        return kind_ != CodeKind::Procedure || globals_.count(variable) != 0;
    }

    Binding& bind(const std::string& variable, Register reg, StaticType type, bool everyPath = true)
    {
        Scope& scope = scopes_.back();
        Binding binding { reg, type };
        binding.conditional = scope.conditional;
        if (!everyPath) {
            binding.flag = allocate(Bank::Int).index;
            scope.flags.push_back(binding.flag);
        }
        binding.named = add(code_->named,
            Code::Named { variable, reg, type.value_or(Type::Int), type.has_value(), binding.flag, here(),
                std::numeric_limits<std::int32_t>::max() });
        keepAsLocal();
        return scope.names[variable] = binding;
    }

    bool onEveryPath(const Scope& scope) const { return scope.conditional == conditional_; }

    // Code that may not run: a branch, a loop, a built-in's argument.
    struct Conditional {
        explicit Conditional(Compiler& compiler)
            : compiler_(compiler)
        {
            ++compiler_.conditional_;
        }
        Conditional(const Conditional&) = delete;
        Conditional& operator=(const Conditional&) = delete;
        ~Conditional() { --compiler_.conditional_; }
        Compiler& compiler_;
    };

    // One level of the statements and expressions a call is nested in, as
    // the nesting bound counts them.
    struct Nested {
        explicit Nested(Compiler& compiler)
            : compiler_(compiler)
        {
            ++compiler_.depth_;
        }
        Nested(const Nested&) = delete;
        Nested& operator=(const Nested&) = delete;
        ~Nested() { --compiler_.depth_; }
        Compiler& compiler_;
    };

    // ---- statements

    void compileStatement(const Stmt& statement)
    {
        const Nested nested(*this);
        countSteps(1);
        switch (statement.kind) {
        case Stmt::Kind::Empty:
            break;
        case Stmt::Kind::Expression:
            discard(*statement.expression);
            break;
        case Stmt::Kind::Declaration:
            compileDeclaration(statement);
            break;
        case Stmt::Kind::Block:
            openScope(true);
            for (const StmtPtr& inner : statement.body)
                compileStatement(*inner);
            closeScope(statement.line);
            break;
        case Stmt::Kind::If:
            compileIf(statement);
            break;
        case Stmt::Kind::While:
            compileWhile(statement);
            break;
        case Stmt::Kind::DoWhile:
            compileDoWhile(statement);
            break;
        case Stmt::Kind::For:
            compileFor(statement);
            break;
        case Stmt::Kind::ForIn:
            compileForIn(statement);
            break;
        case Stmt::Kind::Switch:
            compileSwitch(statement);
            break;
        case Stmt::Kind::Break:
        case Stmt::Kind::Continue:
            compileJump(statement);
            break;
        case Stmt::Kind::Return:
            compileReturn(statement);
            break;
        case Stmt::Kind::Procedure:
            emit(Opcode::Define, statement.line, add(code_->procedures, statement.procedure));
            break;
        }
        releaseTemporaries();
    }

    void compileIf(const Stmt& statement)
    {
        const Register condition = truth(*statement.condition);
        const std::int32_t skip = jump(Opcode::JumpIfZero, statement.line, condition.index);
        releaseTemporaries();
        {
            const Conditional branch(*this);
            compileStatement(*statement.body[0]);
        }
        if (statement.body.size() < 2) {
            patch(skip, label(statement.line));
            return;
        }
        const std::int32_t over = jump(Opcode::Jump, statement.line);
        patch(skip, label(statement.line));
        {
            const Conditional branch(*this);
            compileStatement(*statement.body[1]);
        }
        patch(over, label(statement.line));
    }

    void openLoop(bool isSwitch = false)
    {
        Loop loop;
        loop.scopes = scopes_.size();
        loop.isSwitch = isSwitch;
        loops_.push_back(std::move(loop));
    }

    void closeLoop(std::int32_t continueTarget, std::int32_t breakTarget)
    {
        for (const std::int32_t at : loops_.back().breaks)
            patch(at, breakTarget);
        for (const std::int32_t at : loops_.back().continues)
            patch(at, continueTarget);
        loops_.pop_back();
    }

    void compileWhile(const Stmt& statement)
    {
        const Conditional loop(*this);
        openLoop();
        const std::int32_t top = label(statement.line);
        openRegion(statement.line);
        const Register condition = truth(*statement.condition);
        const std::int32_t exit = jump(Opcode::JumpIfZero, statement.line, condition.index);
        releaseTemporaries();
        compileStatement(*statement.body[0]);
        closeRegion();
        jumpTo(top, statement.line);
        const std::int32_t end = label(statement.line);
        patch(exit, end);
        closeLoop(top, end);
    }

    void compileDoWhile(const Stmt& statement)
    {
        const Conditional loop(*this);
        openLoop();
        const std::int32_t top = label(statement.line);
        openRegion(statement.line);
        compileStatement(*statement.body[0]);
        const std::int32_t next = label(statement.line);
        const Register condition = truth(*statement.condition);
        closeRegion();
        emit(Opcode::JumpIfNotZero, statement.line, condition.index, top);
        releaseTemporaries();
        closeLoop(next, label(statement.line));
    }

    void compileFor(const Stmt& statement)
    {
        if (statement.expression)
            discard(*statement.expression);
        releaseTemporaries();
        const Conditional loop(*this);
        openLoop();
        const std::int32_t top = label(statement.line);
        openRegion(statement.line);
        std::int32_t exit = -1;
        if (statement.condition) {
            const Register condition = truth(*statement.condition);
            exit = jump(Opcode::JumpIfZero, statement.line, condition.index);
            releaseTemporaries();
        }
        compileStatement(*statement.body[0]);
        const std::int32_t next = label(statement.line);
        if (statement.step) {
            discard(*statement.step);
            releaseTemporaries();
        }
        closeRegion();
        jumpTo(top, statement.line);
        const std::int32_t end = label(statement.line);
        if (exit >= 0)
            patch(exit, end);
        closeLoop(next, end);
    }

    void compileForIn(const Stmt& statement)
    {
        const int line = statement.line;
        // The array is read once, as it stands when the loop starts.
        const Operand array = expression(*statement.condition);
        const Register held = allocate(Bank::Value);
        emit(Opcode::MoveValue, line, held.index, box(array, line).index);
        emit(Opcode::CheckArray, line, held.index);
        const Register position = allocate(Bank::Int);
        const Register count = allocate(Bank::Int);
        emit(Opcode::LoadInt, line, position.index, 0);
        emit(Opcode::Size, line, count.index, held.index);
        keepAsLocal();
        const StaticType element
            = array.type && isArray(*array.type) ? StaticType(elementType(*array.type)) : StaticType();
        const Conditional loop(*this);
        openLoop();
        const std::int32_t top = label(line);
        openRegion(line);
        const Register more = allocate(Bank::Int);
        emit(Opcode::LessInt, line, more.index, position.index, count.index);
        const std::int32_t exit = jump(Opcode::JumpIfZero, line, more.index);
        const Register value = allocate(bankOf(element));
        if (element == Type::Int)
            emit(Opcode::ElementInt, line, value.index, held.index, position.index);
        else if (element == Type::Float)
            emit(Opcode::ElementFloat, line, value.index, held.index, position.index);
        else
            emit(Opcode::Element, line, value.index, list({ held.index, text(statement.variable) }),
                position.index);
        assignVariable(statement.variable, Operand { value, element }, line);
        releaseTemporaries();
        // In the body the variable is declared, whatever its flag says after.
        ++declaredHere_[statement.variable];
        compileStatement(*statement.body[0]);
        --declaredHere_[statement.variable];
        const std::int32_t next = label(line);
        emit(Opcode::StepInt, line, position.index, 1);
        closeRegion();
        jumpTo(top, line);
        const std::int32_t end = label(line);
        patch(exit, end);
        closeLoop(next, end);
    }

    void compileSwitch(const Stmt& statement)
    {
        const int line = statement.line;
        const Operand subject = expression(*statement.condition);
        const Register held = allocate(Bank::Value);
        emit(Opcode::MoveValue, line, held.index, box(subject, line).index);
        emit(Opcode::CheckScalar, line, held.index, text("switch"));
        keepAsLocal();
        // The labels are tried in order; a matching case wins over default,
        // wherever default stands.
        std::vector<std::int32_t> entries(statement.labels.size(), -1);
        const CaseLabel* fallback = nullptr;
        {
            const Conditional labels(*this);
            for (std::size_t i = 0; i < statement.labels.size(); ++i) {
                const CaseLabel& caseLabel = statement.labels[i];
                if (!caseLabel.value) {
                    fallback = &caseLabel;
                    continue;
                }
                const Operand value = expression(*caseLabel.value);
                const Register matches = allocate(Bank::Int);
                emit(Opcode::CaseMatches, line, matches.index, held.index, box(value, line).index);
                entries[i] = jump(Opcode::JumpIfNotZero, line, matches.index);
                releaseTemporaries();
            }
        }
        const std::int32_t noMatch = jump(Opcode::Jump, line);
        const Conditional body(*this);
        openLoop(true);
        // Cases fall through into the next until a break, as in C.
        std::vector<std::int32_t> starts;
        for (const StmtPtr& inner : statement.body) {
            starts.push_back(label(line));
            compileStatement(*inner);
        }
        const std::int32_t end = label(line);
        starts.push_back(end);
        for (std::size_t i = 0; i < statement.labels.size(); ++i)
            if (entries[i] >= 0)
                patch(entries[i], starts[statement.labels[i].first]);
        patch(noMatch, fallback != nullptr ? starts[fallback->first] : end);
        closeLoop(end, end);
    }

    // Closes the Environment's block scopes that a jump out of them passes:
    // a place is kept in each, since a scope may learn it needs one after the
    // jump is compiled.
    void leaveScopesDownTo(std::size_t count, int line)
    {
        for (std::size_t i = scopes_.size(); i > count; --i)
            if (scopes_[i - 1].block)
                scopes_[i - 1].leaves.push_back(emit(Opcode::Nop, line));
    }

    void compileJump(const Stmt& statement)
    {
        const bool isBreak = statement.kind == Stmt::Kind::Break;
        Loop* loop = nullptr;
        for (auto inner = loops_.rbegin(); inner != loops_.rend(); ++inner)
            if (isBreak || !inner->isSwitch) {
                loop = &*inner;
                break;
            }
        if (loop != nullptr) {
            leaveScopesDownTo(loop->scopes, statement.line);
            (isBreak ? loop->breaks : loop->continues).push_back(jump(Opcode::Jump, statement.line));
            return;
        }
        if (kind_ == CodeKind::Procedure) {
            // Out of the procedure's body: the call fails with it.
            emit(Opcode::ReturnFlow, statement.line, isBreak ? 1 : 2);
            return;
        }
        leaveScopesDownTo(1, statement.line);
        strayJumps_.push_back({ jump(Opcode::Jump, statement.line), statement.kind });
    }

    void compileReturn(const Stmt& statement)
    {
        std::int32_t reg = -1;
        if (statement.expression) {
            const Operand returned = expression(*statement.expression);
            // A number the procedure returns as its own type goes back unboxed.
            if (kind_ == CodeKind::Procedure && returnType_ == Type::Int && returned.type == Type::Int) {
                emit(Opcode::ReturnInt, statement.line, returned.reg.index);
                return;
            }
            if (kind_ == CodeKind::Procedure && returnType_ == Type::Float && isNumber(returned.type)) {
                emit(Opcode::ReturnFloat, statement.line, asFloat(returned, statement.line).index);
                return;
            }
            reg = box(returned, statement.line).index;
        }
        if (kind_ == CodeKind::Procedure) {
            emit(Opcode::Return, statement.line, reg);
            return;
        }
        leaveScopesDownTo(1, statement.line);
        strayJumps_.push_back({ jump(Opcode::Jump, statement.line), Stmt::Kind::Return });
    }

    // Where a break, continue or return outside a loop or procedure lands:
    // the statement ran to there, and fails with it.
    void failStrayJumps(int line)
    {
        if (strayJumps_.empty())
            return;
        const std::int32_t over = jump(Opcode::Jump, line);
        for (const auto& stray : strayJumps_) {
            patch(stray.first, here());
            std::string what;
            if (kind_ == CodeKind::Text)
                what = what_ + ": break, continue or return outside a loop or procedure";
            else if (stray.second == Stmt::Kind::Return)
                what = "return outside a procedure";
            else
                what = std::string(stray.second == Stmt::Kind::Break ? "break" : "continue")
                    + " outside a loop";
            emit(Opcode::Fail, line, text(what));
        }
        patch(over, here());
    }

    void compileDeclaration(const Stmt& statement)
    {
        for (const Declarator& declarator : statement.declarators) {
            const Type type = declarator.array ? arrayType(statement.declaredType) : statement.declaredType;
            const int line = declarator.line;
            Scope& scope = scopes_.back();
            const bool byNameHere = statement.global
                || (kind_ == CodeKind::Procedure && globals_.count(declarator.name) != 0)
                || (kind_ != CodeKind::Procedure && !(scope.block && onEveryPath(scope)));
            if (byNameHere) {
                // A global, or at the top level a variable that may meet one.
                const Register reg = allocate(bankOf(type));
                initialise(declarator, type, reg);
                if (!statement.global)
                    mayDeclareByName();
                usesEnvironment_ = true;
                emit(Opcode::VariableDeclare, line, 0,
                    add(code_->declarations, DeclarationInfo { declarator.name, type, statement.global }),
                    box(Operand { reg, type }, line).index);
                releaseTemporaries();
                continue;
            }
            const auto existing = scope.names.find(declarator.name);
            if (existing != scope.names.end() && existing->second.type != type) {
                // What comes before runs; then the declaration fails, as the walk did.
                const Register reg = allocate(bankOf(type));
                initialise(declarator, type, reg);
                emit(Opcode::Fail, line,
                    text("$" + declarator.name + " is already declared as "
                        + withArticle(existing->second.type.value_or(type))));
                releaseTemporaries();
                continue;
            }
            if (existing != scope.names.end()) {
                // Declared again in its scope with its type: it takes the new value.
                initialise(declarator, type, existing->second.reg);
                if (existing->second.flag >= 0)
                    emit(Opcode::LoadInt, line, existing->second.flag, 1);
                releaseTemporaries();
                continue;
            }
            // Its register is taken before its initialiser runs, which still
            // sees any variable of the name outside.
            const Register reg = allocate(bankOf(type));
            keepAsLocal();
            initialise(declarator, type, reg);
            Binding& binding = bind(declarator.name, reg, type, onEveryPath(scope));
            if (binding.flag >= 0)
                emit(Opcode::LoadInt, line, binding.flag, 1);
            if (type == Type::Matrix && declarator.rows == 0)
                emit(Opcode::Fail, line,
                    text("global matrix $" + declarator.name
                        + " has no size yet: declare it first as matrix $" + declarator.name
                        + "[rows][columns]"));
            releaseTemporaries();
        }
    }

    // Fills `reg` with the declared variable's first value.
    void initialise(const Declarator& declarator, Type type, Register reg)
    {
        const int line = declarator.line;
        if (type == Type::Matrix) {
            // A matrix has its size from its declaration; a value assigned
            // later fills it, zeros where it is smaller.
            emit(Opcode::MakeMatrixOfSize, line, reg.index,
                static_cast<std::int32_t>(std::min<std::size_t>(declarator.rows, 0x7fffffff)),
                static_cast<std::int32_t>(std::min<std::size_t>(declarator.columns, 0x7fffffff)));
            if (declarator.initialiser) {
                const Operand initial = expression(*declarator.initialiser);
                emit(Opcode::Store, line, reg.index, box(initial, line).index,
                    add(code_->conversions,
                        Conversion { type, Conversion::Wording::Initialise, declarator.name }));
            }
            return;
        }
        std::int32_t size = -1;
        if (declarator.size)
            size = index(*declarator.size).index;
        if (declarator.initialiser) {
            const Operand initial = expression(*declarator.initialiser);
            if (size >= 0) {
                loadDefault(reg, type, line);
                emit(Opcode::ResizeArray, line, reg.index, size);
            }
            convertInto(initial, reg, type, line,
                Conversion { type, Conversion::Wording::Initialise, declarator.name });
            return;
        }
        loadDefault(reg, type, line);
        if (size >= 0) {
            emit(Opcode::ResizeArray, line, reg.index, size);
        }
    }

    void loadDefault(Register reg, Type type, int line)
    {
        if (type == Type::Int)
            emit(Opcode::LoadInt, line, reg.index, 0);
        else if (type == Type::Float)
            emit(Opcode::LoadFloat, line, reg.index, add(code_->floats, 0.0));
        else
            emit(Opcode::LoadValue, line, reg.index, add(code_->values, Value::ofType(type)));
    }

    // ---- expressions

    // An expression whose value is not wanted: an assignment or a step then
    // need not give one.
    void discard(const Expr& expression)
    {
        if (expression.kind == Expr::Kind::Sequence) {
            for (const ExprPtr& operand : expression.operands)
                discard(*operand);
            return;
        }
        if (expression.kind == Expr::Kind::Assign || expression.kind == Expr::Kind::Step) {
            const Nested nested(*this);
            countSteps(1);
            if (expression.kind == Expr::Kind::Assign)
                assign(expression, false);
            else
                step(expression, false);
            return;
        }
        this->expression(expression);
    }

    Operand expression(const Expr& expression)
    {
        const Nested nested(*this);
        countSteps(1);
        const int line = expression.line;
        switch (expression.kind) {
        case Expr::Kind::Int: {
            const Register reg = allocate(Bank::Int);
            emit(Opcode::LoadInt, line, reg.index, expression.number);
            return { reg, Type::Int };
        }
        case Expr::Kind::Float: {
            const Register reg = allocate(Bank::Float);
            emit(Opcode::LoadFloat, line, reg.index, add(code_->floats, expression.real));
            return { reg, Type::Float };
        }
        case Expr::Kind::String: {
            const Register reg = allocate(Bank::Value);
            emit(Opcode::LoadValue, line, reg.index, add(code_->values, Value(expression.text)));
            return { reg, Type::String };
        }
        case Expr::Kind::Array:
            return arrayLiteral(expression);
        case Expr::Kind::Variable:
            return variable(expression.text, line);
        case Expr::Kind::Index:
            return element(expression);
        case Expr::Kind::Unary:
            return unary(expression);
        case Expr::Kind::Binary:
            return binary(expression);
        case Expr::Kind::Ternary:
            return ternary(expression);
        case Expr::Kind::Cast:
            return cast(expression);
        case Expr::Kind::Vector: {
            std::vector<std::int32_t> components;
            for (const ExprPtr& operand : expression.operands)
                components.push_back(number(*operand, "vector").index);
            const Register reg = allocate(Bank::Value);
            emit(Opcode::MakeVector, line, reg.index, list(components));
            return { reg, Type::Vector };
        }
        case Expr::Kind::Matrix: {
            // Row after row, each element a number.
            std::vector<std::int32_t> elements { expression.number };
            for (const ExprPtr& operand : expression.operands)
                elements.push_back(number(*operand, "matrix").index);
            const Register reg = allocate(Bank::Value);
            emit(Opcode::MakeMatrix, line, reg.index, list(elements),
                static_cast<std::int32_t>(expression.operands.size()));
            return { reg, Type::Matrix };
        }
        case Expr::Kind::Sequence:
            for (std::size_t i = 0; i + 1 < expression.operands.size(); ++i)
                discard(*expression.operands[i]);
            return this->expression(*expression.operands.back());
        case Expr::Kind::Component: {
            const Expr& of = *expression.operands[0];
            const Operand vector = this->expression(of);
            const Register reg = allocate(Bank::Float);
            const std::string named = (of.kind == Expr::Kind::Index ? "an element of $" : "$") + of.text;
            emit(Opcode::Component, line, reg.index, box(vector, line).index, text(named),
                static_cast<std::uint8_t>(expression.number));
            return { reg, Type::Float };
        }
        case Expr::Kind::Assign:
            return assign(expression, true);
        case Expr::Kind::Step:
            return step(expression, true);
        case Expr::Kind::Call:
        case Expr::Kind::Command:
            return compileCall(expression, false);
        }
        return { allocate(Bank::Int), Type::Int };
    }

    bool declaredHere(const std::string& variable) const
    {
        const auto found = declaredHere_.find(variable);
        return found != declaredHere_.end() && found->second > 0;
    }

    // `$name` read: its register, or found by name.
    Operand variable(const std::string& variable, int line)
    {
        const Binding* binding = find(variable);
        if (binding != nullptr) {
            if (mayBeUndeclared(*binding, variable)) {
                emit(Opcode::JumpIfNotZero, line, binding->flag, here() + 2);
                emit(Opcode::Fail, line, text("$" + variable + " is not declared"));
            }
            return { binding->reg, binding->type };
        }
        usesEnvironment_ = true;
        const Register reg = allocate(Bank::Value);
        emit(Opcode::VariableGet, line, reg.index, name(variable));
        return { reg, std::nullopt };
    }

    Operand arrayLiteral(const Expr& expression)
    {
        std::vector<std::int32_t> elements;
        StaticType type = Type::Int;
        bool known = true;
        for (const ExprPtr& operand : expression.operands) {
            const Operand value = this->expression(*operand);
            elements.push_back(box(value, operand->line).index);
            elements.push_back(operand->line);
            if (!value.type || isArray(*value.type)) {
                known = false;
                continue;
            }
            // Strings win over vectors, vectors over numbers, floats over ints.
            const Type element = *value.type;
            if (element == Type::String || (element == Type::Vector && type != Type::String)
                || (element == Type::Float && type == Type::Int))
                type = element;
        }
        const Register reg = allocate(Bank::Value);
        emit(Opcode::MakeArray, expression.line, reg.index, list(elements),
            static_cast<std::int32_t>(expression.operands.size()));
        return { reg, known ? StaticType(arrayType(*type)) : StaticType() };
    }

    // An index, as the interpreter takes one: a number truncated toward zero, at least 0.
    Register index(const Expr& expression)
    {
        const Operand position = this->expression(expression);
        const int line = expression.line;
        if (position.type == Type::Int) {
            emit(Opcode::CheckIndex, line, position.reg.index);
            return position.reg;
        }
        const Register reg = allocate(Bank::Int);
        if (position.type == Type::Float) {
            emit(Opcode::FloatToInt, line, reg.index, position.reg.index);
            emit(Opcode::CheckIndex, line, reg.index);
        } else {
            emit(Opcode::IndexOf, line, reg.index, box(position, line).index);
        }
        return reg;
    }

    // `$m[row][column]`: an element of a matrix, which must exist.
    Operand matrixElement(const Expr& expression)
    {
        const int line = expression.line;
        const Register row = index(*expression.operands[0]);
        const Register column = index(*expression.operands[1]);
        const Register reg = allocate(Bank::Float);
        if (find(expression.text) == nullptr) {
            usesEnvironment_ = true;
            emit(Opcode::VariableMatrixElement, line, reg.index,
                list({ name(expression.text), row.index, column.index }));
            return { reg, Type::Float };
        }
        const Operand matrix = variable(expression.text, line);
        emit(Opcode::MatrixElement, line, reg.index,
            list({ box(matrix, line).index, text(expression.text), row.index, column.index }));
        return { reg, Type::Float };
    }

    Operand element(const Expr& expression)
    {
        if (expression.operands.size() == 2)
            return matrixElement(expression);
        const int line = expression.line;
        const Register position = index(*expression.operands[0]);
        const Binding* binding = find(expression.text);
        if (binding == nullptr) {
            usesEnvironment_ = true;
            const Register reg = allocate(Bank::Value);
            emit(Opcode::VariableElement, line, reg.index, name(expression.text), position.index);
            return { reg, std::nullopt };
        }
        const Operand array = variable(expression.text, line);
        const StaticType type
            = array.type && isArray(*array.type) ? StaticType(elementType(*array.type)) : StaticType();
        const Register reg = allocate(bankOf(type));
        if (type == Type::Int)
            emit(Opcode::ElementInt, line, reg.index, array.reg.index, position.index);
        else if (type == Type::Float)
            emit(Opcode::ElementFloat, line, reg.index, array.reg.index, position.index);
        else
            emit(Opcode::Element, line, reg.index, list({ array.reg.index, text(expression.text) }),
                position.index);
        return { reg, type };
    }

    // Whether an expression's value holds as a condition: a number by not
    // being zero, a vector by not being <<0, 0, 0>>, anything else an error.
    Register truth(const Expr& expression)
    {
        const Operand value = this->expression(expression);
        const int line = expression.line;
        if (value.type == Type::Int)
            return value.reg;
        const Register reg = allocate(Bank::Int);
        if (value.type == Type::Float) {
            const Register zero = allocate(Bank::Float);
            emit(Opcode::LoadFloat, line, zero.index, add(code_->floats, 0.0));
            emit(Opcode::NotEqualFloat, line, reg.index, value.reg.index, zero.index);
            return reg;
        }
        emit(Opcode::Truth, line, reg.index, box(value, line).index);
        return reg;
    }

    // A number, as a vector's component takes one.
    Register number(const Expr& expression, const char* where)
    {
        const Operand value = this->expression(expression);
        const int line = expression.line;
        if (value.type == Type::Float)
            return value.reg;
        const Register reg = allocate(Bank::Float);
        if (value.type == Type::Int) {
            emit(Opcode::IntToFloat, line, reg.index, value.reg.index);
            return reg;
        }
        emit(Opcode::NumberOf, line, reg.index, box(value, line).index, text(where));
        return reg;
    }

    Operand unary(const Expr& expression)
    {
        const int line = expression.line;
        if (expression.text == "!") {
            const Register condition = truth(*expression.operands[0]);
            const Register reg = allocate(Bank::Int);
            emit(Opcode::NotInt, line, reg.index, condition.index);
            return { reg, Type::Int };
        }
        const Operand operand = this->expression(*expression.operands[0]);
        if (operand.type == Type::Int || operand.type == Type::Float) {
            const Register reg = allocate(operand.reg.bank);
            emit(operand.type == Type::Int ? Opcode::NegateInt : Opcode::NegateFloat, line, reg.index,
                operand.reg.index);
            return { reg, operand.type };
        }
        const Register reg = allocate(Bank::Value);
        emit(Opcode::NegateValue, line, reg.index, box(operand, line).index);
        return { reg, operand.type == Type::Vector ? StaticType(Type::Vector) : StaticType() };
    }

    Operand binary(const Expr& expression)
    {
        if (expression.chain[0] == Op::And || expression.chain[0] == Op::Or)
            return logical(expression);
        Operand left = this->expression(*expression.operands[0]);
        for (std::size_t i = 1; i < expression.operands.size(); ++i) {
            const Op op = expression.chain[i - 1];
            if (op == Op::Add && left.type == Type::String && joinable(expression, i)) {
                left = concatenate(expression, i, left);
                continue;
            }
            const Operand right = this->expression(*expression.operands[i]);
            countSteps(1);
            left = combine(op, left, right, expression.line);
        }
        return left;
    }

    // Whether the + at `from` starts a run of + of scalars known to be such.
    bool joinable(const Expr& expression, std::size_t from)
    {
        const StaticType type = inferType(*expression.operands[from]);
        return type && !isArray(*type);
    }

    // `"a" + $b + 1 + ...` joined at once, from the first string on, each
    // part's text appended: what the + of a string does, without the strings between.
    Operand concatenate(const Expr& expression, std::size_t& i, Operand first)
    {
        const int line = expression.line;
        std::vector<std::int32_t> parts { encode(first.reg) };
        for (;
             i < expression.operands.size() && expression.chain[i - 1] == Op::Add && joinable(expression, i);
             ++i) {
            const Operand part = this->expression(*expression.operands[i]);
            countSteps(1);
            parts.push_back(encode(part.reg));
        }
        --i;  // the loop of binary() steps past the last part
        const Register reg = allocate(Bank::Value);
        emit(Opcode::Concatenate, line, reg.index, list(parts), static_cast<std::int32_t>(parts.size()));
        return { reg, Type::String };
    }

    // A register of any bank as one number of a list: its index and bank.
    static std::int32_t encode(Register reg) { return reg.index * 4 + static_cast<std::int32_t>(reg.bank); }

    // `a op b` for an arithmetic or comparison operator.
    Operand combine(Op op, Operand left, Operand right, int line, std::int32_t into = -1)
    {
        if (left.type == Type::Int && right.type == Type::Int && op != Op::Cross)
            return intOperation(op, left.reg, right.reg, line, into);
        if (isNumber(left.type) && isNumber(right.type) && op != Op::Cross)
            return floatOperation(op, asFloat(left, line), asFloat(right, line), line, into);
        const Register a = box(left, line);
        const Register b = box(right, line);
        const Register reg = allocate(Bank::Value);
        emit(Opcode::Combine, line, reg.index, a.index, b.index, static_cast<std::uint8_t>(op));
        return { reg, combinedType(op, left.type, right.type) };
    }

    // What the general case gives, where the operands' types tell.
    static StaticType combinedType(Op op, StaticType left, StaticType right)
    {
        if (!left || !right || isArray(*left) || isArray(*right))
            return std::nullopt;
        if (isComparison(op))
            return Type::Int;
        if (left == Type::String || right == Type::String)
            return op == Op::Add ? StaticType(Type::String) : std::nullopt;
        if (left == Type::Vector || right == Type::Vector) {
            if (op == Op::Multiply && left == Type::Vector && right == Type::Vector)
                return Type::Float;
            return op == Op::Remainder ? std::nullopt : StaticType(Type::Vector);
        }
        return std::nullopt;
    }

    Operand intOperation(Op op, Register a, Register b, int line, std::int32_t into = -1)
    {
        static const Opcode kOpcodes[]
            = { Opcode::Nop, Opcode::Nop, Opcode::EqualInt, Opcode::NotEqualInt, Opcode::LessInt,
                  Opcode::LessEqualInt, Opcode::GreaterInt, Opcode::GreaterEqualInt, Opcode::AddInt,
                  Opcode::SubtractInt, Opcode::MultiplyInt, Opcode::DivideInt, Opcode::RemainderInt };
        // An int literal on the right is an immediate: one instruction fewer.
        static const Opcode kWithConstant[]
            = { Opcode::Nop, Opcode::Nop, Opcode::EqualIntConstant, Opcode::NotEqualIntConstant,
                  Opcode::LessIntConstant, Opcode::LessEqualIntConstant, Opcode::GreaterIntConstant,
                  Opcode::GreaterEqualIntConstant, Opcode::AddIntConstant, Opcode::AddIntConstant,
                  Opcode::MultiplyIntConstant, Opcode::DivideIntConstant, Opcode::RemainderIntConstant };
        const Instruction& last = code_->instructions.back();
        const bool divides = op == Op::Divide || op == Op::Remainder;
        if (last.op == Opcode::LoadInt && last.a == b.index && b.index == scalarTop_ - 1 && b.index != a.index
            && !(op == Op::Subtract && last.b == std::numeric_limits<std::int32_t>::min())
            && !(divides && last.b == 0)) {
            const std::int32_t constant = op == Op::Subtract ? -last.b : last.b;
            code_->instructions.back() = Instruction { Opcode::Nop, 0, 0, 0, 0 };
            const Register reg = into >= 0 ? Register { Bank::Int, into } : allocate(Bank::Int);
            emit(kWithConstant[static_cast<int>(op)], line, reg.index, a.index, constant);
            return { reg, Type::Int };
        }
        const Register reg = into >= 0 ? Register { Bank::Int, into } : allocate(Bank::Int);
        emit(kOpcodes[static_cast<int>(op)], line, reg.index, a.index, b.index);
        return { reg, Type::Int };
    }

    Operand floatOperation(Op op, Register a, Register b, int line, std::int32_t into = -1)
    {
        static const Opcode kOpcodes[]
            = { Opcode::Nop, Opcode::Nop, Opcode::EqualFloat, Opcode::NotEqualFloat, Opcode::LessFloat,
                  Opcode::LessEqualFloat, Opcode::GreaterFloat, Opcode::GreaterEqualFloat, Opcode::AddFloat,
                  Opcode::SubtractFloat, Opcode::MultiplyFloat, Opcode::DivideFloat, Opcode::RemainderFloat };
        const Bank bank = isComparison(op) ? Bank::Int : Bank::Float;
        const Register reg = into >= 0 ? Register { bank, into } : allocate(bank);
        emit(kOpcodes[static_cast<int>(op)], line, reg.index, a.index, b.index);
        return { reg, bank == Bank::Int ? Type::Int : Type::Float };
    }

    Register asFloat(Operand operand, int line)
    {
        if (operand.type == Type::Float)
            return operand.reg;
        const Register reg = allocate(Bank::Float);
        emit(Opcode::IntToFloat, line, reg.index, operand.reg.index);
        return reg;
    }

    // Any operand as a value register.
    Register box(Operand operand, int line)
    {
        if (operand.reg.bank == Bank::Value)
            return operand.reg;
        const Register reg = allocate(Bank::Value);
        emit(operand.reg.bank == Bank::Int ? Opcode::BoxInt : Opcode::BoxFloat, line, reg.index,
            operand.reg.index);
        return reg;
    }

    // `a && b && ...` and `a || b || ...`: stop at the first that decides.
    Operand logical(const Expr& expression)
    {
        const int line = expression.line;
        const bool stopsAt = expression.chain[0] == Op::Or;
        const Register reg = allocate(Bank::Int);
        std::vector<std::int32_t> decided;
        for (std::size_t i = 0; i < expression.operands.size(); ++i) {
            std::optional<Conditional> maybe;  // all but the first may not run
            if (i > 0)
                maybe.emplace(*this);
            const Register condition = truth(*expression.operands[i]);
            decided.push_back(
                jump(stopsAt ? Opcode::JumpIfNotZero : Opcode::JumpIfZero, line, condition.index));
        }
        emit(Opcode::LoadInt, line, reg.index, stopsAt ? 0 : 1);
        const std::int32_t over = jump(Opcode::Jump, line);
        const std::int32_t stop = label(line);
        emit(Opcode::LoadInt, line, reg.index, stopsAt ? 1 : 0);
        for (const std::int32_t at : decided)
            patch(at, stop);
        patch(over, label(line));
        return { reg, Type::Int };
    }

    Operand ternary(const Expr& expression)
    {
        const int line = expression.line;
        const Register condition = truth(*expression.operands[0]);
        const StaticType first = inferType(*expression.operands[1]);
        const StaticType type = first == inferType(*expression.operands[2]) ? first : std::nullopt;
        const Register reg = allocate(bankOf(type));
        const std::int32_t otherwise = jump(Opcode::JumpIfZero, line, condition.index);
        moveBranch(*expression.operands[1], reg);
        const std::int32_t over = jump(Opcode::Jump, line);
        patch(otherwise, label(line));
        moveBranch(*expression.operands[2], reg);
        patch(over, label(line));
        return { reg, type };
    }

    // One branch of a ?:, its value into `reg`.
    void moveBranch(const Expr& branch, Register reg)
    {
        const Conditional maybe(*this);
        const Operand value = expression(branch);
        if (reg.bank == Bank::Value)
            emit(Opcode::MoveValue, branch.line, reg.index, box(value, branch.line).index);
        else
            emit(Opcode::MoveScalar, branch.line, reg.index, value.reg.index);
    }

    Operand cast(const Expr& expression)
    {
        const int line = expression.line;
        const Operand value = this->expression(*expression.operands[0]);
        const Type to = expression.castType;
        if (value.type == to)
            return value;
        const Register reg = allocate(bankOf(to));
        convertInto(value, reg, to, line, Conversion { to, Conversion::Wording::Cast, std::string() });
        return { reg, to };
    }

    // `value` into `reg`, of `type`, converted as `conversion` says.
    void convertInto(Operand value, Register reg, Type type, int line, Conversion conversion)
    {
        if (type == Type::Matrix && conversion.wording != Conversion::Wording::Cast) {
            // Into a matrix variable, which keeps its size.
            emit(Opcode::Store, line, reg.index, box(value, line).index,
                add(code_->conversions, std::move(conversion)));
            return;
        }
        if (value.type == type) {
            if (reg.bank == Bank::Value && (value.reg.bank != Bank::Value || value.reg.index != reg.index))
                emit(Opcode::MoveValue, line, reg.index, box(value, line).index);
            else if (reg.bank != Bank::Value && value.reg.index != reg.index)
                emit(Opcode::MoveScalar, line, reg.index, value.reg.index);
            return;
        }
        if (type == Type::Float && value.type == Type::Int) {
            emit(Opcode::IntToFloat, line, reg.index, value.reg.index);
            return;
        }
        if (type == Type::Int && value.type == Type::Float) {
            emit(Opcode::FloatToInt, line, reg.index, value.reg.index);
            return;
        }
        const Register source = box(value, line);
        const Register converted = reg.bank == Bank::Value ? reg : allocate(Bank::Value);
        emit(Opcode::Convert, line, converted.index, source.index,
            add(code_->conversions, std::move(conversion)));
        if (reg.bank == Bank::Int)
            emit(Opcode::UnboxInt, line, reg.index, converted.index);
        else if (reg.bank == Bank::Float)
            emit(Opcode::UnboxFloat, line, reg.index, converted.index);
    }

    // ---- assignments

    // `$name = value` for a variable written alone: converted to its type, or
    // declared with the value's type where it is not declared.
    void assignVariable(const std::string& variable, Operand value, int line)
    {
        Binding* binding = find(variable);
        if (binding != nullptr) {
            store(*binding, variable, value, line);
            return;
        }
        if (byName(variable)) {
            mayDeclareByName();
            emit(Opcode::VariableSet, line, 0, name(variable), box(value, line).index);
            return;
        }
        // Declared by this, in the innermost scope, with the value's type.
        Scope& scope = scopes_.back();
        const Register reg = allocate(bankOf(value.type));
        Binding& declared = bind(variable, reg, value.type, onEveryPath(scope));
        if (declared.flag >= 0)
            emit(Opcode::LoadInt, line, declared.flag, 1);
        if (reg.bank == Bank::Value)
            emit(Opcode::MoveValue, line, reg.index, box(value, line).index);
        else
            emit(Opcode::MoveScalar, line, reg.index, value.reg.index);
    }

    void store(Binding& binding, const std::string& variable, Operand value, int line)
    {
        if (binding.global) {
            // A first value that is stored whenever the statement runs gives
            // the variable its type for good; else every value must agree.
            std::vector<StaticType>& stored = stored_[variable];
            if (stored.empty() && binding.conditional == conditional_ && !binding.declared)
                firstStored_[variable] = value.type;
            stored.push_back(value.type);
        }
        if (!mayBeUndeclared(binding, variable)) {
            storeDeclared(binding, variable, value, line);
            return;
        }
        // From an assignment that runs whenever its variable's scope does on,
        // the variable is declared.
        const bool declaresForGood = binding.conditional == conditional_;
        if (value.type && binding.type == value.type) {
            // Declared or not, the value goes in as it is.
            emit(Opcode::LoadInt, line, binding.flag, 1);
            storeDeclared(binding, variable, value, line);
            binding.declared = declaresForGood;
            return;
        }
        // Where it is not declared yet, the assignment declares it with this value.
        const std::int32_t declaredAlready = emit(Opcode::JumpIfNotZero, line, binding.flag, -1);
        emit(Opcode::LoadInt, line, binding.flag, 1);
        if (binding.type)
            convertInto(value, binding.reg, *binding.type, line,
                Conversion { *binding.type, Conversion::Wording::Assign, variable });
        else
            emit(Opcode::MoveValue, line, binding.reg.index, box(value, line).index);
        const std::int32_t over = jump(Opcode::Jump, line);
        patch(declaredAlready, label(line));
        storeDeclared(binding, variable, value, line);
        patch(over, label(line));
        binding.declared = declaresForGood;
    }

    void storeDeclared(const Binding& binding, const std::string& variable, Operand value, int line)
    {
        if (binding.type) {
            convertInto(value, binding.reg, *binding.type, line,
                Conversion { *binding.type, Conversion::Wording::Assign, variable });
            return;
        }
        // Its type is the one its first value had.
        emit(Opcode::Store, line, binding.reg.index, box(value, line).index,
            add(code_->conversions, Conversion { Type::Int, Conversion::Wording::Assign, variable }));
    }

    Operand assign(const Expr& expression, bool wanted)
    {
        const Expr& target = *expression.operands[0];
        const int line = expression.line;
        if (target.kind == Expr::Kind::Index)
            return assignElement(expression, wanted);
        Binding* binding = find(target.text);
        if (binding != nullptr && !mayBeUndeclared(*binding, target.text) && binding->type
            && !expression.compound) {
            // The common case: into a register of a known type, computed in place where it can be.
            const Operand value = expressionInto(*expression.operands[1], *binding);
            if (value.reg.index != binding->reg.index || value.reg.bank != binding->reg.bank)
                storeDeclared(*binding, target.text, value, line);
            return { binding->reg, binding->type };
        }
        Operand value = this->expression(*expression.operands[1]);
        if (expression.compound && expression.op == Op::Add && value.type && !isArray(*value.type)) {
            if (binding != nullptr && binding->type == Type::String
                && !mayBeUndeclared(*binding, target.text)) {
                // Appending to a string in place keeps a loop of appends linear.
                emit(Opcode::AppendText, line, binding->reg.index, box(value, line).index);
                return { binding->reg, Type::String };
            }
            if (binding == nullptr && byName(target.text)) {
                usesEnvironment_ = true;
                const Register reg = allocate(Bank::Value);
                emit(Opcode::VariableAppend, line, reg.index, name(target.text), box(value, line).index);
                return { reg, std::nullopt };
            }
        }
        if (expression.compound) {
            // `$a op= b` is `$a = $a op b`, with b worked out first.
            const Operand current = variable(target.text, target.line);
            if (binding != nullptr && !mayBeUndeclared(*binding, target.text) && binding->type
                && isNumber(binding->type) && isNumber(value.type)
                && (binding->type == Type::Float || value.type == Type::Int)) {
                // An int or float variable combined in place.
                combine(expression.op, current, value, line, binding->reg.index);
                return { binding->reg, binding->type };
            }
            value = combine(expression.op, current, value, line);
        }
        assignVariable(target.text, value, line);
        if (!wanted)
            return value;
        return variable(target.text, line);
    }

    // The value of `expression`, computed straight into the register of the
    // variable it is assigned to where the types allow.
    Operand expressionInto(const Expr& expression, const Binding& binding)
    {
        if (expression.kind != Expr::Kind::Binary || expression.operands.size() != 2
            || expression.chain[0] == Op::And || expression.chain[0] == Op::Or
            || isComparison(expression.chain[0]) || expression.chain[0] == Op::Cross)
            return this->expression(expression);
        const StaticType left = inferType(*expression.operands[0]);
        const StaticType right = inferType(*expression.operands[1]);
        const bool ints = left == Type::Int && right == Type::Int && binding.type == Type::Int;
        const bool floats = isNumber(left) && isNumber(right) && (left == Type::Float || right == Type::Float)
            && binding.type == Type::Float;
        if (!ints && !floats)
            return this->expression(expression);
        const Nested nested(*this);
        countSteps(1);
        const Operand a = this->expression(*expression.operands[0]);
        const Operand b = this->expression(*expression.operands[1]);
        countSteps(1);
        return combine(expression.chain[0], a, b, expression.line, binding.reg.index);
    }

    Operand assignElement(const Expr& expression, bool wanted)
    {
        const Expr& target = *expression.operands[0];
        const int line = expression.line;
        Operand value = this->expression(*expression.operands[1]);
        if (expression.compound)
            value = combine(expression.op, element(target), value, line);
        setElement(target, value, line);
        if (!wanted)
            return value;
        return element(target);
    }

    // Writing past the end grows the array, as the host's arrays do.
    void setElement(const Expr& target, Operand value, int line)
    {
        if (target.operands.size() == 2) {
            // The value becomes a float first; then the element must exist.
            const Register number = allocate(Bank::Float);
            convertInto(value, number, Type::Float, line,
                Conversion { Type::Float, Conversion::Wording::Element, target.text });
            const Register row = index(*target.operands[0]);
            const Register column = index(*target.operands[1]);
            if (find(target.text) == nullptr) {
                usesEnvironment_ = true;
                emit(Opcode::VariableSetMatrixElement, line, 0,
                    list({ name(target.text), row.index, column.index, number.index }));
                return;
            }
            const Operand matrix = variable(target.text, line);
            emit(Opcode::SetMatrixElement, line,
                list({ matrix.reg.bank == Bank::Value ? matrix.reg.index : -1, text(target.text), row.index,
                    column.index, number.index }));
            return;
        }
        const Register position = index(*target.operands[0]);
        const Binding* binding = find(target.text);
        if (binding == nullptr) {
            // Found by name; declared as an array of the value's type where it is not.
            if (byName(target.text))
                mayDeclareByName();
            usesEnvironment_ = true;
            emit(Opcode::VariableSetElement, line, 0,
                list({ name(target.text), position.index, box(value, line).index }));
            return;
        }
        const Operand array = variable(target.text, line);
        if (array.type == Type::IntArray && value.type == Type::Int) {
            emit(Opcode::SetElementInt, line, array.reg.index, position.index, value.reg.index);
            return;
        }
        if (array.type == Type::FloatArray && isNumber(value.type)) {
            emit(Opcode::SetElementFloat, line, array.reg.index, position.index, asFloat(value, line).index);
            return;
        }
        emit(Opcode::SetElement, line, list({ array.reg.index, text(target.text) }), position.index,
            box(value, line).index);
    }

    Operand step(const Expr& expression, bool wanted)
    {
        const Expr& target = *expression.operands[0];
        const int line = expression.line;
        const int change = expression.text[0] == '+' ? 1 : -1;
        const bool keepBefore = wanted && !expression.prefix;
        const Binding* binding = find(target.text);
        const bool plain = binding != nullptr && !mayBeUndeclared(*binding, target.text);
        if (target.kind == Expr::Kind::Variable && plain && binding->type == Type::Int) {
            // The loop counter's usual case, in place.
            Register before;
            if (keepBefore) {
                before = allocate(Bank::Int);
                emit(Opcode::MoveScalar, line, before.index, binding->reg.index);
            }
            emit(Opcode::StepInt, line, binding->reg.index, change);
            return { keepBefore ? before : binding->reg, Type::Int };
        }
        if (target.kind == Expr::Kind::Index && plain && binding->type == Type::IntArray && !wanted) {
            const Register position = index(*target.operands[0]);
            emit(Opcode::StepElementInt, line, binding->reg.index, position.index, change);
            return { position, Type::Int };
        }
        // The general case: read, step by one as a number (an int as an int), assign back.
        const Operand before
            = target.kind == Expr::Kind::Variable ? variable(target.text, target.line) : element(target);
        Operand after;
        if (before.type == Type::Int) {
            after = { allocate(Bank::Int), Type::Int };
            emit(Opcode::AddIntConstant, line, after.reg.index, before.reg.index, change);
        } else if (before.type == Type::Float) {
            const Register one = allocate(Bank::Float);
            emit(Opcode::LoadFloat, line, one.index, add(code_->floats, double(change)));
            after = { allocate(Bank::Float), Type::Float };
            emit(Opcode::AddFloat, line, after.reg.index, before.reg.index, one.index);
        } else {
            after = { allocate(Bank::Value), std::nullopt };
            emit(Opcode::StepValue, line, after.reg.index, box(before, line).index, text(expression.text),
                change > 0 ? 1 : 0);
        }
        Operand kept = before;
        if (keepBefore && before.reg.bank != Bank::Value && target.kind == Expr::Kind::Variable) {
            // The variable's register changes with the assignment: keep what it held.
            kept = { allocate(before.reg.bank), before.type };
            emit(Opcode::MoveScalar, line, kept.reg.index, before.reg.index);
        } else if (keepBefore && before.reg.bank == Bank::Value) {
            kept = { allocate(Bank::Value), before.type };
            emit(Opcode::MoveValue, line, kept.reg.index, before.reg.index);
        }
        if (target.kind == Expr::Kind::Variable)
            assignVariable(target.text, after, line);
        else
            setElement(target, after, line);
        return keepBefore ? kept : after;
    }

    // ---- calls

    Operand compileCall(const Expr& call, bool topLevel)
    {
        CallSite site;
        site.name = call.text;
        site.line = call.line;
        site.depth = topLevel ? 0 : depth_;
        site.command = call.kind == Expr::Kind::Command;
        site.wantsResult = topLevel;
        const auto builtin = builtins_.find(call.text);
        if (builtin != builtins_.end())
            return builtinCall(call, site, &builtin->second);
        // A procedure or a command, looked up as it runs, before its
        // arguments are worked out in order; an array variable written alone
        // is passed by reference where the procedure takes that array type.
        const Register callee = allocate(Bank::Int);  // holds what PrepareCall found
        const std::int32_t prepare = emit(Opcode::PrepareCall, call.line, 0, callee.index);
        for (const ExprPtr& operand : call.operands) {
            Argument argument;
            argument.line = operand->line;
            if (operand->kind == Expr::Kind::Variable) {
                argument.variable = reference(*operand);
                const Reference& ref = code_->references[std::size_t(argument.variable)];
                if (ref.reg.index >= 0 && ref.reg.bank != Bank::Value && ref.flag < 0)
                    argument.value = ref.reg;
            } else {
                argument.value = expression(*operand).reg;  // an int or float stays unboxed
            }
            if ((operand->kind == Expr::Kind::Int || operand->kind == Expr::Kind::Float)
                && !operand->text.empty())
                argument.word = text(operand->text);  // a command gets a number word as it was written
            site.arguments.push_back(argument);
        }
        site.scalarArguments = std::all_of(site.arguments.begin(), site.arguments.end(),
            [](const Argument& argument) { return argument.value.bank != Bank::Value; });
        const StaticType number = topLevel ? StaticType() : numberReturned(call.text);
        const Register reg = allocate(bankOf(number));
        const std::int32_t index = add(code_->calls, std::move(site));
        code_->instructions[std::size_t(prepare)].a = index;
        emit(Opcode::Call, call.line, reg.index, index, callee.index,
            !number                   ? 0
                : number == Type::Int ? 1
                                      : 2);
        if (number)
            code_->assumed.push_back({ call.text, *number });
        return { reg, number };
    }

    // A variable written alone as an argument: its register, or its name.
    std::int32_t reference(const Expr& operand)
    {
        Reference ref;
        ref.name = operand.text;
        ref.line = operand.line;
        const Binding* binding = find(operand.text);
        if (binding != nullptr) {
            ref.reg = binding->reg;
            ref.typed = binding->type.has_value();
            ref.type = binding->type.value_or(Type::Int);
            ref.flag = mayBeUndeclared(*binding, operand.text) ? binding->flag : -1;
        } else {
            usesEnvironment_ = true;
        }
        return add(code_->references, std::move(ref));
    }

    Operand builtinCall(const Expr& call, CallSite& site, const Builtin* builtin)
    {
        site.builtin = builtin;
        const int line = call.line;
        if (builtin->floatFunction != nullptr && builtin->kind == Builtin::Kind::Command
            && call.operands.size() == 1 && builtin->fewest <= 1 && isNumber(inferType(*call.operands[0]))) {
            // A float function of a number, straight on the floats.
            const Register argument = asFloat(expression(*call.operands[0]), line);
            const Register reg = allocate(Bank::Float);
            emit(Opcode::MathFloat, line, reg.index, argument.index, add(code_->builtinRows, builtin));
            return { reg, Type::Float };
        }
        // Each argument is its own run of code, worked out when the built-in
        // asks for it: `catch` works its argument out inside its own attempt,
        // and a built-in that fails first never asks for the rest.
        const std::int32_t skip = jump(Opcode::Jump, line);
        for (const ExprPtr& operand : call.operands) {
            Argument argument;
            argument.line = operand->line;
            if (operand->kind == Expr::Kind::Variable) {
                if (find(operand->text) == nullptr) {
                    if (byName(operand->text))
                        mayDeclareByName();
                    else
                        // The built-in may declare it by assigning it (tokenize's
                        // last argument): a register declared once it is.
                        bind(operand->text, allocate(Bank::Value), std::nullopt, false);
                }
                argument.variable = reference(*operand);
            }
            if (operand->kind == Expr::Kind::String || operand->kind == Expr::Kind::Int
                || operand->kind == Expr::Kind::Float) {
                // A literal needs no code: the built-in reads it where it stands.
                countSteps(1);
                argument.constant = add(code_->values,
                    operand->kind == Expr::Kind::String    ? Value(operand->text)
                        : operand->kind == Expr::Kind::Int ? Value(operand->number)
                                                           : Value(operand->real));
                site.arguments.push_back(argument);
                continue;
            }
            const Conditional maybe(*this);
            const std::int32_t scalarMark = scalarTop_;
            const std::int32_t valueMark = valueTop_;
            argument.start = label(operand->line);
            const Operand value = expression(*operand);
            // A register taken for the argument alone may give its value up.
            const bool temporary = value.reg.bank == Bank::Value ? value.reg.index >= valueMark : false;
            emit(Opcode::Yield, operand->line, value.reg.index, static_cast<std::int32_t>(value.reg.bank), 0,
                temporary ? 1 : 0);
            // An argument's temporaries are free again once it has yielded;
            // what it declared stays.
            scalarTop_ = std::max(scalarMark, scopes_.back().scalarTop);
            valueTop_ = std::max(valueMark, scopes_.back().valueTop);
            site.arguments.push_back(argument);
        }
        patch(skip, label(line));
        const Register reg = allocate(Bank::Value);
        emit(Opcode::Call, line, reg.index, add(code_->calls, std::move(site)));
        return { reg, std::nullopt };
    }

    // ---- types

    // The type `expression` will have, where it is known before it runs.
    // A procedure's number type, for a call of it; none for a built-in's name.
    StaticType numberReturned(const std::string& name) const
    {
        if (!numberReturned_ || builtins_.count(name) != 0)
            return std::nullopt;
        return numberReturned_(name);
    }

    StaticType inferType(const Expr& expression)
    {
        switch (expression.kind) {
        case Expr::Kind::Int:
            return Type::Int;
        case Expr::Kind::Float:
            return Type::Float;
        case Expr::Kind::String:
            return Type::String;
        case Expr::Kind::Variable: {
            const Binding* binding = find(expression.text);
            return binding != nullptr ? binding->type : std::nullopt;
        }
        case Expr::Kind::Index: {
            if (expression.operands.size() == 2)
                return Type::Float;
            const Binding* binding = find(expression.text);
            if (binding == nullptr || !binding->type || !isArray(*binding->type))
                return std::nullopt;
            return elementType(*binding->type);
        }
        case Expr::Kind::Unary:
            if (expression.text == "!")
                return Type::Int;
            return inferType(*expression.operands[0]);
        case Expr::Kind::Binary: {
            if (expression.chain[0] == Op::And || expression.chain[0] == Op::Or)
                return Type::Int;
            StaticType left = inferType(*expression.operands[0]);
            for (std::size_t i = 1; i < expression.operands.size(); ++i) {
                const StaticType right = inferType(*expression.operands[i]);
                const Op op = expression.chain[i - 1];
                if (left == Type::Int && right == Type::Int && op != Op::Cross)
                    left = Type::Int;
                else if (isNumber(left) && isNumber(right) && op != Op::Cross)
                    left = isComparison(op) ? Type::Int : Type::Float;
                else
                    left = combinedType(op, left, right);
            }
            return left;
        }
        case Expr::Kind::Cast:
            return expression.castType;
        case Expr::Kind::Vector:
            return Type::Vector;
        case Expr::Kind::Matrix:
            return Type::Matrix;
        case Expr::Kind::Sequence:
            return inferType(*expression.operands.back());
        case Expr::Kind::Component:
            return Type::Float;
        case Expr::Kind::Call: {
            const auto builtin = builtins_.find(expression.text);
            if (builtin == builtins_.end())
                return numberReturned(expression.text);
            if (builtin->second.floatFunction != nullptr && expression.operands.size() == 1
                && isNumber(inferType(*expression.operands[0])))
                return Type::Float;
            return std::nullopt;
        }
        default:
            return std::nullopt;
        }
    }

public:
    Hints hints() const
    {
        Hints learnt;
        for (const auto& entry : firstStored_)
            if (entry.second)
                learnt[entry.first] = *entry.second;
        for (const auto& entry : stored_) {
            if (firstStored_.count(entry.first) != 0)
                continue;
            const StaticType first = entry.second.front();
            if (first
                && std::all_of(entry.second.begin(), entry.second.end(),
                    [&first](const StaticType& type) { return type == first; }))
                learnt[entry.first] = *first;
        }
        return learnt;
    }

private:
    const Hints* hints_ = nullptr;
    StaticType returnType_;  // a procedure's, when it returns a value
    std::unordered_map<std::string, std::vector<StaticType>> stored_;
    std::unordered_map<std::string, StaticType> firstStored_;
    CodeKind kind_;
    std::string what_;
    const std::unordered_map<std::string, Builtin>& builtins_;
    const NumberReturned& numberReturned_;
    std::shared_ptr<Code> code_;
    std::vector<Scope> scopes_;
    std::vector<Loop> loops_;
    std::vector<std::pair<std::int32_t, Stmt::Kind>> strayJumps_;
    std::unordered_set<std::string> globals_;
    std::unordered_map<std::string, int> declaredHere_;
    std::int32_t scalarTop_ = 0;
    std::int32_t valueTop_ = 0;
    std::vector<Region> regions_;
    int conditional_ = 0;
    int depth_ = 0;
    bool usesEnvironment_ = false;
};

}  // namespace

std::shared_ptr<const Code> compileStatement(const Stmt& statement, CodeKind kind, const std::string& what,
    const std::unordered_map<std::string, Builtin>& builtins, const NumberReturned& numberReturned,
    const GlobalType& globalType, bool giveValue)
{
    Compiler first(kind, what, builtins, numberReturned);
    std::shared_ptr<const Code> code = first.statement(statement, globalType, giveValue);
    const Compiler::Hints hints = first.hints();
    if (hints.empty())
        return code;
    return Compiler(kind, what, builtins, numberReturned).statement(statement, globalType, giveValue, hints);
}

std::shared_ptr<const Code> compileProcedure(const Procedure& procedure,
    const std::unordered_map<std::string, Builtin>& builtins, const NumberReturned& numberReturned)
{
    return Compiler(CodeKind::Procedure, std::string(), builtins, numberReturned).procedure(procedure);
}

}  // namespace mel
