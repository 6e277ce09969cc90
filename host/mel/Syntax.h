#pragma once

#include "Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace mel {

/// A binary operator, as the parser read it, so that running compares no text.
enum class Op {
    Or,
    And,
    Equal,
    NotEqual,
    Less,
    LessEqual,
    Greater,
    GreaterEqual,
    Add,
    Subtract,
    Multiply,
    Divide,
    Remainder,
    Cross  ///< `^`: the cross product of two vectors
};

/// The operator a token spells ("+" is Add; "+=" is Add too); false for none.
inline bool opOf(const std::string& text, Op& op)
{
    static const char* const kTexts[]
        = { "||", "&&", "==", "!=", "<", "<=", ">", ">=", "+", "-", "*", "/", "%", "^" };
    const std::string bare
        = text.size() == 2 && text[1] == '=' && std::string("+-*/").find(text[0]) != std::string::npos
        ? text.substr(0, 1)
        : text;
    for (int i = 0; i < 14; ++i)
        if (bare == kTexts[i]) {
            op = static_cast<Op>(i);
            return true;
        }
    return false;
}

inline const char* opText(Op op)
{
    static const char* const kTexts[]
        = { "||", "&&", "==", "!=", "<", "<=", ">", ">=", "+", "-", "*", "/", "%", "^" };
    return kTexts[static_cast<int>(op)];
}

/// One node of an expression. Which members mean something depends on `kind`.
/// Where a variable was last found, so that a loop finds it again without
/// hashing its name: valid while the environment's generation is the same
/// (see Environment::find).
struct VariableSlot {
    std::uint64_t generation = 0;
    Value* value = nullptr;
};

struct Expr {
    enum class Kind {
        Int,  ///< `number`; a number word of a command's arguments keeps its `text`
        Float,  ///< `real`; the same
        String,  ///< `text`: a string literal, or a bare word of a command's arguments
        Array,  ///< `{a, b}`: `operands` are the elements
        Variable,  ///< `$text`
        Index,  ///< `$text[operands[0]]`, or `$text[operands[0]][operands[1]]` for a matrix
        Unary,  ///< `text` is "-" or "!"; `operands[0]`
        Binary,  ///< `operands[0] chain[0] operands[1] chain[1] ...`: one level of operators, left to right
        Ternary,  ///< `operands[0] ? operands[1] : operands[2]`
        Cast,  ///< `(castType) operands[0]`
        Vector,  ///< `<<operands[0], operands[1], operands[2]>>`
        Matrix,  ///< `<<a, b; c, d>>`: `operands` row after row, `number` to a row
        Component,  ///< `operands[0].x` (`number` 0), `.y` (1) or `.z` (2): read only
        Assign,  ///< `operands[0]` (Variable or Index) `text` ("=", "+=", ...) `operands[1]`
        Step,  ///< `++` or `--` (`text`) on `operands[0]`; `prefix` tells which side
        Call,  ///< `text(operands...)`: a built-in, a procedure or a command
        Command,  ///< `text operands...` in command syntax: a statement or between backquotes
        Sequence,  ///< `operands[0], operands[1], ...` in a `for` header: each in turn, the last's value
    };

    Kind kind = Kind::Int;
    int line = 0;
    std::string text;
    int number = 0;
    double real = 0;
    bool prefix = false;
    Type castType = Type::Int;
    std::vector<std::unique_ptr<Expr>> operands;
    /// Binary: the operator before each operand after the first. A chain of
    /// operators of one level is one node, walked in a loop, not a tree as
    /// deep as the chain is long.
    std::vector<Op> chain;
    /// Assign: the operator of `+=`, `-=`, `*=`, `/=`, set when `compound`.
    Op op = Op::Add;
    bool compound = false;
    /// Variable and Index: the variable's slot, filled while running.
    mutable VariableSlot slot;
};

using ExprPtr = std::unique_ptr<Expr>;

struct Stmt;
using StmtPtr = std::unique_ptr<Stmt>;

struct Parameter {
    Type type = Type::Int;
    std::string name;
};

/// A procedure: kept by the interpreter for the rest of the session.
struct Procedure {
    std::string name;
    bool returnsValue = false;
    Type returnType = Type::Int;
    std::vector<Parameter> parameters;
    StmtPtr body;  ///< A block.
    int line = 0;
};

/// One variable of a declaration: `$name`, `$name[]`, `$name[size]` or a
/// matrix's `$name[rows][columns]`, with an optional initialiser.
struct Declarator {
    std::string name;
    bool array = false;
    ExprPtr size;
    std::size_t rows = 0;  ///< A matrix's size.
    std::size_t columns = 0;
    ExprPtr initialiser;
    int line = 0;
};

/// One case label of a switch: its value (none for `default`) and the index of
/// the first statement it runs.
struct CaseLabel {
    ExprPtr value;
    std::size_t first = 0;
};

/// One statement. Which members mean something depends on `kind`.
struct Stmt {
    enum class Kind {
        Empty,
        Expression,  ///< `expression`
        Declaration,  ///< `declaredType` `declarators`, `global` for a global one
        Block,  ///< `{ body }`
        If,  ///< `if (condition) body[0] else body[1]`; body[1] may be missing
        While,  ///< `while (condition) body[0]`
        DoWhile,  ///< `do body[0] while (condition);`
        For,  ///< `for (expression; condition; step) body[0]`; each part optional
        ForIn,  ///< `for ($variable in condition) body[0]`
        Switch,  ///< `switch (condition) { labels and body }`
        Break,
        Continue,
        Return,  ///< `return expression;`, the expression optional
        Procedure,  ///< `procedure`
    };

    Kind kind = Kind::Empty;
    int line = 0;
    std::string firstWord;  ///< The keyword, name or variable the statement starts with.
    ExprPtr expression;
    ExprPtr condition;
    ExprPtr step;
    std::string variable;
    std::vector<StmtPtr> body;
    std::vector<CaseLabel> labels;
    Type declaredType = Type::Int;
    bool global = false;
    std::vector<Declarator> declarators;
    std::shared_ptr<const Procedure> procedure;
};

}  // namespace mel
