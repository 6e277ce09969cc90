#pragma once

// The compact form the evaluator runs: a syntax tree compiled into register
// instructions, with variables in resolved slots and numbers unboxed.
//
// A unit of code (a procedure's body, or one top-level statement) has three
// banks of registers: ints and floats unboxed in 8-byte scalar slots, and
// values (strings, vectors, arrays, and anything whose type is known only as
// it runs). A variable whose binding the compiler can prove lives in a
// register of its type; any other variable (the globals, and a local declared
// only on some paths) is found by name in the Environment, as the language
// defines the lookup.
#include "Syntax.h"
#include "Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mel {

struct Builtin;

/// Instructions. `a`, `b` and `c` are registers, constants or indices into
/// the code's tables, as each says; `x` is a small extra operand.
enum class Opcode : std::uint8_t {
    Nop,  ///< nothing: a place kept while compiling, dropped when the code is done
    Step,  ///< counts `a` steps; every so often looks at what may end the statement
    Jump,  ///< to `a`
    JumpToStep,  ///< to `a`, a Step, and counts its steps: a loop's way round
    JumpIfZero,  ///< to `b` when int `a` is 0
    JumpIfNotZero,  ///< to `b` when int `a` is not 0
    Truth,  ///< int `a` = whether value `b` is true, as a condition takes it
    LoadInt,  ///< int `a` = `b`
    LoadFloat,  ///< float `a` = floats[`b`]
    LoadValue,  ///< value `a` = values[`b`]
    MoveScalar,  ///< scalar `a` = scalar `b`
    MoveValue,  ///< value `a` = value `b`
    IntToFloat,  ///< float `a` = int `b`
    FloatToInt,  ///< int `a` = float `b`, truncated toward zero and held to the range of int
    BoxInt,  ///< value `a` = int `b`
    BoxFloat,  ///< value `a` = float `b`
    UnboxInt,  ///< int `a` = value `b`, which holds an int
    UnboxFloat,  ///< float `a` = value `b`, which holds a float
    Convert,  ///< value `a` = value `b` converted as conversions[`c`] says, or its error
    Store,  ///< value `a` = value `b` converted to the type value `a` holds (conversions[`c`] words the
            ///< error)
    NumberOf,  ///< float `a` = value `b` as a number, or "... where a number is needed (where)" (texts[`c`])
    IndexOf,  ///< int `a` = value `b` as an index (a number, truncated, at least 0)
    CheckIndex,  ///< fails unless int `a` is at least 0
    AddInt,
    SubtractInt,
    MultiplyInt,
    DivideInt,  ///< "division by zero" when `c` is 0
    RemainderInt,
    NegateInt,
    NotInt,  ///< int `a` = int `b` == 0
    EqualInt,
    NotEqualInt,
    LessInt,
    LessEqualInt,
    GreaterInt,
    GreaterEqualInt,
    AddIntConstant,  ///< int `a` = int `b` + `c`, wrapped
    EqualIntConstant,  ///< int `a` = int `b` == `c`, and so on for the other comparisons
    NotEqualIntConstant,
    LessIntConstant,
    LessEqualIntConstant,
    GreaterIntConstant,
    GreaterEqualIntConstant,
    MultiplyIntConstant,  ///< int `a` = int `b` * `c`, wrapped
    DivideIntConstant,  ///< int `a` = int `b` / `c`, `c` not 0
    RemainderIntConstant,  ///< int `a` = int `b` % `c`, `c` not 0
    // A comparison of ints that a JumpIfZero follows: int `a` = the comparison,
    // then, when it is 0, to that jump's `b`, else past it: one dispatch for
    // the two, and the jump is still there for code that lands on it.
    EqualIntBranch,
    NotEqualIntBranch,
    LessIntBranch,
    LessEqualIntBranch,
    GreaterIntBranch,
    GreaterEqualIntBranch,
    EqualIntConstantBranch,
    NotEqualIntConstantBranch,
    LessIntConstantBranch,
    LessEqualIntConstantBranch,
    GreaterIntConstantBranch,
    GreaterEqualIntConstantBranch,
    StepInt,  ///< int `a` += `b`, wrapped: ++ and -- on an int register
    AddFloat,
    SubtractFloat,
    MultiplyFloat,
    DivideFloat,
    RemainderFloat,
    NegateFloat,
    EqualFloat,
    NotEqualFloat,
    LessFloat,
    LessEqualFloat,
    GreaterFloat,
    GreaterEqualFloat,
    MathFloat,  ///< float `a` = builtinRows[`c`]'s float function of float `b`
    Combine,  ///< value `a` = value `b` (op `x`) value `c`, the operators' general case
    StepValue,  ///< value `a` = value `b` stepped by one (`x` 1) or back (`x` 0): texts[`c`] is "++" or "--"
    NegateValue,  ///< value `a` = -value `b`
    Concatenate,  ///< value `a` = the texts of the `c` registers at lists[`b`...] (index * 4 + bank) joined
    AppendText,  ///< value `a`, a string, += the text of value `b`, in place
    MakeArray,  ///< value `a` = the array literal of the `c` values at lists[`b`...]
    MakeVector,  ///< value `a` = <<float lists[`b`], +1, +2>>
    MakeMatrix,  ///< value `a` = the matrix of the `c` floats at lists[`b`+1...], lists[`b`] to a row
    MakeMatrixOfSize,  ///< value `a` = a matrix of `b` rows and `c` columns of zeros, within the array limit
    MatrixElement,  ///< float `a` = element [lists[`b`+2]][lists[`b`+3]] of matrix value lists[`b`]
                    ///< (texts[lists[`b`+1]])
    SetMatrixElement,  ///< element [lists[`a`+2]][lists[`a`+3]] of matrix value lists[`a`]
                       ///< (texts[lists[`a`+1]]) = float lists[`a`+4]
    VariableMatrixElement,  ///< float `a` = element [lists[`b`+1]][lists[`b`+2]] of the matrix
                            ///< names[lists[`b`]]
    VariableSetMatrixElement,  ///< element [lists[`b`+1]][lists[`b`+2]] of the matrix names[lists[`b`]] =
                               ///< float lists[`b`+3]
    Component,  ///< float `a` = component `x` of value `b`, a vector, or texts[`c`]'s error
    ElementInt,  ///< int `a` = element int `c` of value `b`, an int[] (0 past the end)
    ElementFloat,  ///< float `a` = element int `c` of value `b`, a float[]
    Element,  ///< value `a` = element int `c` of value lists[`b`], an array named texts[lists[`b`+1]]
    SetElementInt,  ///< element int `b` of value `a`, an int[], = int `c`; grows
    SetElementFloat,  ///< element int `b` of value `a`, a float[], = float `c`; grows
    SetElement,  ///< element int `b` of value lists[`a`] = value `c` converted; texts[lists[`a`+1]] names it
    StepElementInt,  ///< element int `b` of value `a`, an int[], += `c`, wrapped; grows
    Size,  ///< int `a` = elements of value `b`, an array
    ResizeArray,  ///< value `a`, an array, = int `b` elements (a declaration's size)
    CheckScalar,  ///< fails unless value `a` is a scalar: texts[`b`] says what needs one
    CheckArray,  ///< fails unless value `a` is an array: "for-in needs an array, not ..."
    CaseMatches,  ///< int `a` = whether value `c` matches value `b`, as switch compares
    VariableGet,  ///< value `a` = the variable names[`b`], found by name
    VariableSet,  ///< the variable names[`b`] = value `c`, converted to its type or declared
    VariableDeclare,  ///< declarations[`b`]: the variable declared by name, holding value `c`
    VariableElement,  ///< value `a` = element int `c` of the array variable names[`b`]
    VariableSetElement,  ///< element int lists[`b`+1] of names[lists[`b`]] = value lists[`b`+2]
    VariableAppend,  ///< names[`b`] += text of value `c`, in place when it is a string; value `a` = result
    ClearFlags,  ///< the `b` int registers at lists[`a`...] = 0: variables not declared yet
    Define,  ///< defines procedures[`a`]
    EnterBlock,  ///< a block scope of the Environment opens
    LeaveBlock,  ///< and closes
    PrepareCall,  ///< finds what calls[`a`] calls, a procedure or a command, before its arguments run, into
                  ///< scalar `b`
    Call,  ///< value `a` = the call calls[`b`] (a procedure or command as the PrepareCall into scalar `c`
           ///< found it); with `x` 1, scalar `a` = the number the procedure returns (see Code::assumed)
    Yield,  ///< an argument's code ends: its value is in register `a` of bank `b` (`x` 1: a temporary)
    Return,  ///< the procedure returns value `a` (none when `a` < 0)
    ReturnInt,  ///< the procedure, which returns an int, returns int `a`
    ReturnFloat,  ///< the procedure, which returns a float, returns float `a`
    ReturnFlow,  ///< break (`a` 1) or continue (`a` 2) left the procedure's body
    Fail,  ///< fails with texts[`a`]
    End,  ///< the code ends
};

/// Every opcode, in the order of Opcode: for tables indexed by it.
// clang-format off
#define MEL_OPCODES(OP) \
    OP(Nop) OP(Step) OP(Jump) OP(JumpToStep) OP(JumpIfZero) OP(JumpIfNotZero) OP(Truth) OP(LoadInt) \
    OP(LoadFloat) OP(LoadValue) OP(MoveScalar) OP(MoveValue) OP(IntToFloat) OP(FloatToInt) \
    OP(BoxInt) OP(BoxFloat) OP(UnboxInt) OP(UnboxFloat) OP(Convert) OP(Store) OP(NumberOf) \
    OP(IndexOf) OP(CheckIndex) OP(AddInt) OP(SubtractInt) OP(MultiplyInt) OP(DivideInt) \
    OP(RemainderInt) OP(NegateInt) OP(NotInt) OP(EqualInt) OP(NotEqualInt) OP(LessInt) \
    OP(LessEqualInt) OP(GreaterInt) OP(GreaterEqualInt) OP(AddIntConstant) OP(EqualIntConstant) \
    OP(NotEqualIntConstant) OP(LessIntConstant) OP(LessEqualIntConstant) OP(GreaterIntConstant) \
    OP(GreaterEqualIntConstant) OP(MultiplyIntConstant) OP(DivideIntConstant) \
    OP(RemainderIntConstant) OP(EqualIntBranch) OP(NotEqualIntBranch) OP(LessIntBranch) \
    OP(LessEqualIntBranch) OP(GreaterIntBranch) OP(GreaterEqualIntBranch) OP(EqualIntConstantBranch) \
    OP(NotEqualIntConstantBranch) OP(LessIntConstantBranch) OP(LessEqualIntConstantBranch) \
    OP(GreaterIntConstantBranch) OP(GreaterEqualIntConstantBranch) OP(StepInt) OP(AddFloat) \
    OP(SubtractFloat) OP(MultiplyFloat) OP(DivideFloat) OP(RemainderFloat) OP(NegateFloat) \
    OP(EqualFloat) OP(NotEqualFloat) OP(LessFloat) OP(LessEqualFloat) OP(GreaterFloat) \
    OP(GreaterEqualFloat) OP(MathFloat) OP(Combine) OP(StepValue) OP(NegateValue) OP(Concatenate) \
    OP(AppendText) OP(MakeArray) OP(MakeVector) OP(MakeMatrix) OP(MakeMatrixOfSize) \
    OP(MatrixElement) OP(SetMatrixElement) OP(VariableMatrixElement) OP(VariableSetMatrixElement) \
    OP(Component) OP(ElementInt) OP(ElementFloat) OP(Element) OP(SetElementInt) OP(SetElementFloat) \
    OP(SetElement) OP(StepElementInt) OP(Size) OP(ResizeArray) OP(CheckScalar) OP(CheckArray) \
    OP(CaseMatches) OP(VariableGet) OP(VariableSet) OP(VariableDeclare) OP(VariableElement) \
    OP(VariableSetElement) OP(VariableAppend) OP(ClearFlags) OP(Define) OP(EnterBlock) \
    OP(LeaveBlock) OP(PrepareCall) OP(Call) OP(Yield) OP(Return) OP(ReturnInt) OP(ReturnFloat) \
    OP(ReturnFlow) OP(Fail) OP(End)
// clang-format on

/// An 8-byte register: an int or a float, as the code that uses it knows, or
/// what a PrepareCall found for its Call.
union Scalar {
    int i;
    double f;
    const Procedure* procedure;
};

/// Which registers an operand lives in.
enum class Bank : std::uint8_t { Int, Float, Value };

struct Instruction {
    Opcode op = Opcode::End;
    std::uint8_t x = 0;
    std::int32_t a = 0;
    std::int32_t b = 0;
    std::int32_t c = 0;
};

/// A register of some bank.
struct Register {
    Bank bank = Bank::Value;
    std::int32_t index = -1;
};

/// What a conversion converts to and how its error reads.
struct Conversion {
    Type type = Type::Int;
    enum class Wording { Assign, Initialise, Cast, Parameter, Element } wording = Wording::Assign;
    std::string name;  ///< The variable, parameter or procedure it speaks of.
};

/// A declaration of a variable found by name.
struct DeclarationInfo {
    std::string name;
    Type type = Type::Int;
    bool global = false;
};

/// One argument of a call.
struct Argument {
    Register value;  ///< Where its value is, once computed (procedures, commands): any bank.
    std::int32_t start = -1;  ///< For a built-in: the first instruction of its code, which yields it.
    std::int32_t variable = -1;  ///< When it is a variable alone: its reference (references index).
    std::int32_t constant = -1;  ///< For a built-in, when it is a literal: its value (values index), no code.
    std::int32_t word = -1;  ///< A number word of command syntax: its text as written (texts index).
    int line = 0;
};

/// How code reaches a variable written alone as an argument: a register, or by name.
struct Reference {
    std::string name;
    Register reg;  ///< reg.index < 0 when it is found by name.
    bool typed = false;  ///< Whether `type` is the register's type (else a value register of any type).
    Type type = Type::Int;
    std::int32_t flag = -1;  ///< An int register that is 1 once it is declared, when not on every path.
    int line = 0;
};

/// One call: a built-in (resolved when compiled), or a procedure or command
/// looked up when it runs.
struct CallSite {
    std::string name;
    const Builtin* builtin = nullptr;
    bool command = false;  ///< Command syntax: every argument is evaluated first and given as text.
    std::vector<Argument> arguments;
    int line = 0;
    int depth = 0;  ///< Statements and expressions this call is nested in, within its code.
    bool wantsResult = false;
    /// Every argument is an int or a float in its register (`value`), variables too.
    bool scalarArguments = false;
    /// The procedure it found last, valid while no procedure was defined since.
    mutable std::uint64_t generation = 0;
    mutable const Procedure* procedure = nullptr;
};

/// A compiled unit: a procedure's body, one top-level statement, or one
/// statement of eval or source.
struct Code {
    std::vector<Instruction> instructions;
    std::vector<int> lines;  ///< The source line of each instruction.
    std::vector<double> floats;
    std::vector<Value> values;
    std::vector<std::string> names;  ///< Of variables found by name, one a lookup.
    std::vector<std::string> texts;
    std::vector<std::int32_t> lists;
    std::vector<Conversion> conversions;
    std::vector<DeclarationInfo> declarations;
    std::vector<CallSite> calls;
    std::vector<Reference> references;
    std::vector<std::shared_ptr<const Procedure>> procedures;
    std::vector<const Builtin*> builtinRows;
    /// Registers of each bank the code needs.
    std::int32_t scalars = 0;
    std::int32_t valueRegisters = 0;
    /// Where each lookup by name (one a names row) last found its variable,
    /// so that a loop finds it again without hashing the name.
    mutable std::vector<VariableSlot> slots;
    /// Whether it finds variables by name, so that it needs a frame of the Environment.
    bool usesEnvironment = false;
    /// A procedure's parameters, in order: the register each arrives in.
    std::vector<Register> parameters;
    /// Whether one of them is an array, which an array variable is passed to by reference.
    bool takesArrays = false;
    /// The registers holding variables, with their names, for whatIs: the
    /// first and last instruction each is in reach.
    struct Named {
        std::string name;
        Register reg;
        Type type;  ///< For a value register: none when it takes its first value's.
        bool typed;
        std::int32_t flag;  ///< An int register that says whether it is declared, or -1.
        std::int32_t from;
        std::int32_t to;
    };
    std::vector<Named> named;
    /// For a statement that only calls something: the register of its result.
    Register result;
    /// Whether `result` holds an expression statement's value (not a call's).
    bool resultIsValue = false;
    /// The globals a statement that calls nothing has in registers while it
    /// runs: moved in as it starts, back as it ends, however it ends.
    struct Promoted {
        Value* global;
        Register reg;
    };
    std::vector<Promoted> promoted;
    /// And those it declares itself: each a global once the statement ends,
    /// however it ends, when its flag says it was declared.
    struct DeclaredGlobal {
        std::string name;
        Register reg;
        std::int32_t flag;
    };
    std::vector<DeclaredGlobal> declaredGlobals;
    /// The procedures whose calls give their numbers unboxed, each with the
    /// type it returned when the code was compiled. A procedure's code is
    /// compiled again before it runs once one of them returns another type;
    /// a call that finds another type while the code runs converts what it
    /// returns to the type it was compiled for, as an assignment would.
    struct Assumed {
        std::string procedure;
        Type type;
    };
    std::vector<Assumed> assumed;
    /// The generation of procedures `assumed` was last found true in.
    mutable std::uint64_t checkedIn = 0;
};

}  // namespace mel
