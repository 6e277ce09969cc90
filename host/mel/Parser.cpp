#include "Parser.h"

#include "Lexer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

namespace mel {

namespace {

// Deep enough for any script written by hand, shallow enough that walking the
// tree cannot overflow the stack.
constexpr int kMaxNesting = 200;
// The nodes of one statement's tree: far more than a script written or
// generated for real needs, few enough that a statement that never ends (a
// stream of words without a `;`) holds bounded memory while it is parsed.
constexpr std::size_t kMaxParts = std::size_t { 1 } << 18;

bool isTypeName(const std::string& word)
{
    return word == "int" || word == "float" || word == "string" || word == "vector" || word == "matrix";
}

bool isTypeWord(const Token& token)
{
    return token.kind == Token::Kind::Identifier && isTypeName(token.text);
}

Type typeOfWord(const std::string& word)
{
    if (word == "int")
        return Type::Int;
    if (word == "float")
        return Type::Float;
    if (word == "vector")
        return Type::Vector;
    if (word == "matrix")
        return Type::Matrix;
    return Type::String;
}

// Whether `text` is a number as the lexer reads one: digits with an optional
// fraction and exponent, or 0x and hexadecimal digits; `real` tells a float.
bool isNumberText(const std::string& text, bool& real)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        real = false;
        return text.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
    }
    std::size_t at = 0;
    const auto digits = [&text, &at] {
        const std::size_t start = at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])))
            ++at;
        return at - start;
    };
    std::size_t count = digits();
    real = false;
    if (at < text.size() && text[at] == '.') {
        ++at;
        real = true;
        count += digits();
    }
    if (count == 0)
        return false;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '-' || text[at] == '+'))
            ++at;
        if (digits() == 0)
            return false;
        real = true;
    }
    return at == text.size();
}

// The words that stand for 1 and 0 in an expression.
bool isTruthWord(const std::string& word, int& value)
{
    // The guide names true/false and on/off; yes/no are read the same way by
    // the host's own scripts.
    static const char* const kTrue[] = { "true", "on", "yes" };
    static const char* const kFalse[] = { "false", "off", "no" };
    for (int i = 0; i < 3; ++i) {
        if (word == kTrue[i] || word == kFalse[i]) {
            value = word == kTrue[i] ? 1 : 0;
            return true;
        }
    }
    return false;
}

bool isKeyword(const std::string& word)
{
    static const char* const kKeywords[]
        = { "if", "else", "while", "do", "for", "in", "switch", "case", "default", "break", "continue",
              "return", "proc", "global", "int", "float", "string", "vector", "matrix" };
    for (const char* keyword : kKeywords)
        if (word == keyword)
            return true;
    return false;
}

class Parser {
public:
    enum class Step { Statement, End, Incomplete };

    Parser(std::string_view text, int firstLine, int firstColumn = 1)
        : lexer_(text, firstLine, firstColumn)
    {
    }

    void parseEach(const std::function<bool(StmtPtr)>& take)
    {
        StmtPtr statement;
        while (step(statement, true) == Step::Statement)
            if (!take(std::move(statement)))
                return;
    }

    /// Parses the next top-level statement. Unless `final`, the text may go on:
    /// a statement whose parse depended on where the text ends (its last token
    /// touching the end, an `if` that may yet get its `else`, a syntax error at
    /// the end) is Incomplete. Throws SyntaxError.
    Step step(StmtPtr& statement, bool final)
    {
        lexer_.clearReachedEnd();
        parts_ = 0;
        try {
            if (lexer_.peek().kind == Token::Kind::End)
                return final ? Step::End : Step::Incomplete;
            statement = parseStatement(true);
        } catch (const SyntaxError&) {
            if (!final && lexer_.reachedEnd())
                return Step::Incomplete;
            throw;
        }
        return !final && lexer_.reachedEnd() ? Step::Incomplete : Step::Statement;
    }

    Lexer::Place place() const { return lexer_.place(); }

private:
    // Counts one level of nesting for the lifetime of the scope.
    class Nesting {
    public:
        Nesting(Parser& parser, const Token& where)
            : parser_(parser)
        {
            if (++parser_.nesting_ > kMaxNesting)
                parser_.fail(where, "nesting deeper than " + std::to_string(kMaxNesting) + " levels");
        }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;
        ~Nesting() { --parser_.nesting_; }

    private:
        Parser& parser_;
    };

    [[noreturn]] void fail(const Token& where, const std::string& what)
    {
        throw SyntaxError { where.line, where.column, what };
    }

    [[noreturn]] void expected(const Token& found, const std::string& what)
    {
        fail(found, "expected " + what + ", found " + describe(found));
    }

    static std::string describe(const Token& token)
    {
        switch (token.kind) {
        case Token::Kind::End:
            return "the end of the script";
        case Token::Kind::Variable:
            return "$" + token.text;
        case Token::Kind::String:
            return "a string";
        default:
            return "'" + token.text + "'";
        }
    }

    Token expect(const char* punct)
    {
        Token token = lexer_.next();
        if (!token.is(punct))
            expected(token, std::string("'") + punct + "'");
        return token;
    }

    // A statement's `;`, which the last statement of a source may leave out.
    void endStatement()
    {
        const Token token = lexer_.peek();
        if (token.kind == Token::Kind::End)
            return;
        expect(";");
    }

    void countPart(const Token& where)
    {
        if (++parts_ > kMaxParts)
            throw SyntaxError { where.line, where.column,
                "a statement of more than " + std::to_string(kMaxParts) + " parts", true };
    }

    StmtPtr make(Stmt::Kind kind, const Token& first)
    {
        countPart(first);
        auto statement = std::make_unique<Stmt>();
        statement->kind = kind;
        statement->line = first.line;
        statement->firstWord = first.kind == Token::Kind::Variable ? "$" + first.text : first.text;
        return statement;
    }

    StmtPtr parseStatement(bool topLevel)
    {
        const Token first = lexer_.peek();
        const Nesting nesting(*this, first);
        if (first.is(";")) {
            lexer_.next();
            return make(Stmt::Kind::Empty, first);
        }
        if (first.is("{"))
            return parseBlock();
        if (first.kind == Token::Kind::Identifier) {
            if (first.text == "global" || first.text == "proc")
                return parseGlobalOrProc(first, topLevel);
            if (isTypeWord(first) && !typeWordCalled())
                return parseDeclaration(first, false);
            if (first.text == "if")
                return parseIf();
            if (first.text == "while")
                return parseWhile();
            if (first.text == "do")
                return parseDoWhile();
            if (first.text == "for")
                return parseFor();
            if (first.text == "switch")
                return parseSwitch();
            if (first.text == "break" || first.text == "continue")
                return parseJump(first);
            if (first.text == "return")
                return parseReturn();
            if (isTypeWord(first))
                return parseExpressionStatement(first);
            if (isKeyword(first.text))
                expected(first, "a statement");
            return parseNameStatement(first);
        }
        return parseExpressionStatement(first);
    }

    StmtPtr parseExpressionStatement(const Token& first)
    {
        StmtPtr statement = make(Stmt::Kind::Expression, first);
        statement->expression = parseExpression();
        endStatement();
        return statement;
    }

    // Whether the type word next is a conversion in function style, `int(...)`,
    // rather than the start of a declaration. Leaves the lexer where it was.
    bool typeWordCalled()
    {
        const Lexer::Place before = lexer_.place();
        lexer_.next();
        const bool called = nextIs("(");
        lexer_.restore(before);
        return called;
    }

    // Whether the next token is the punctuation `punct`; false too when the
    // next token is no token at all, whose error the caller then meets as it
    // reads on. Leaves the lexer where it was.
    bool nextIs(const char* punct)
    {
        const Lexer::Place before = lexer_.place();
        bool is = false;
        try {
            is = lexer_.next().is(punct);
        } catch (const SyntaxError&) {
            is = false;
        }
        lexer_.restore(before);
        return is;
    }

    StmtPtr parseBlock()
    {
        const Token open = expect("{");
        StmtPtr block = make(Stmt::Kind::Block, open);
        while (!lexer_.peek().is("}")) {
            if (lexer_.peek().kind == Token::Kind::End)
                expected(lexer_.peek(), "'}'");
            block->body.push_back(parseStatement(false));
        }
        lexer_.next();
        return block;
    }

    // `name(...)` is a call expression; any other name starts a command, as does
    // `name (int) $f`, whose brackets hold a cast, not arguments.
    StmtPtr parseNameStatement(const Token& first)
    {
        const Lexer::Place before = lexer_.place();
        lexer_.next();
        const bool bracketed = lexer_.nextArgument().is("(") && !atCast();
        lexer_.restore(before);
        StmtPtr statement = make(Stmt::Kind::Expression, first);
        statement->expression = bracketed ? parseCallOrCommand() : parseCommand(false);
        endStatement();
        return statement;
    }

    // `name (...)` is a call when the statement ends after it, and otherwise a
    // command whose first argument is an expression in brackets, as the host's
    // guide writes `setAttr ($node + ".tx") 0;`. When neither reads, the error
    // is the one found further on.
    ExprPtr parseCallOrCommand()
    {
        const Lexer::Place before = lexer_.place();
        const std::size_t parts = parts_;
        std::optional<SyntaxError> asCall;
        try {
            ExprPtr call = parseExpression();
            const Token after = lexer_.peek();
            if (after.is(";") || after.kind == Token::Kind::End)
                return call;
            asCall = SyntaxError { after.line, after.column, "expected ';', found " + describe(after) };
        } catch (const SyntaxError& error) {
            if (error.endsSource)
                throw;
            asCall = error;
        }
        lexer_.restore(before);
        parts_ = parts;
        try {
            return parseCommand(false);
        } catch (const SyntaxError& asCommand) {
            const bool callWentFurther = asCall->line > asCommand.line
                || (asCall->line == asCommand.line && asCall->column > asCommand.column);
            if (callWentFurther && !asCommand.endsSource)
                throw *asCall;
            throw;
        }
    }

    StmtPtr parseGlobalOrProc(const Token& first, bool topLevel)
    {
        lexer_.next();
        bool global = first.text == "global";
        if (global) {
            const Token after = lexer_.peek();
            if (isTypeWord(after)) {
                StmtPtr declaration = parseDeclaration(after, true);
                declaration->firstWord = "global";
                return declaration;
            }
            if (!after.isWord("proc"))
                expected(after, "'proc' or a type after 'global'");
            lexer_.next();
        }
        if (!topLevel)
            fail(first, "procedures are defined only at the top level");
        auto procedure = std::make_shared<Procedure>();
        procedure->line = first.line;
        Token token = lexer_.next();
        if (isTypeWord(token)) {
            procedure->returnsValue = true;
            procedure->returnType = parseArraySuffix(typeOfWord(token.text));
            token = lexer_.next();
        }
        if (token.kind != Token::Kind::Identifier || isKeyword(token.text))
            expected(token, "the procedure's name");
        procedure->name = token.text;
        expect("(");
        if (!lexer_.peek().is(")")) {
            do {
                const Token type = lexer_.next();
                if (!isTypeWord(type))
                    expected(type, "a parameter type");
                const Token name = lexer_.next();
                if (name.kind != Token::Kind::Variable)
                    expected(name, "a parameter name");
                procedure->parameters.push_back(
                    Parameter { parseArraySuffix(typeOfWord(type.text)), name.text });
            } while (accept(","));
        }
        expect(")");
        if (!lexer_.peek().is("{"))
            expected(lexer_.peek(), "'{'");
        procedure->body = parseBlock();
        StmtPtr statement = make(Stmt::Kind::Procedure, first);
        statement->global = global;
        statement->procedure = std::move(procedure);
        return statement;
    }

    // `[]` after a parameter's or a return type; a matrix takes the size of
    // what it is given, written `matrix $m` or `matrix $m[][]`.
    Type parseArraySuffix(Type type)
    {
        if (!lexer_.peek().is("["))
            return type;
        const Token open = lexer_.next();
        expect("]");
        if (type != Type::Matrix)
            return arrayType(type);
        if (!accept("["))
            fail(open, "there are no arrays of matrices");
        expect("]");
        return type;
    }

    bool accept(const char* punct)
    {
        if (!lexer_.peek().is(punct))
            return false;
        lexer_.next();
        return true;
    }

    StmtPtr parseDeclaration(const Token& typeWord, bool global)
    {
        lexer_.next();
        StmtPtr statement = make(Stmt::Kind::Declaration, typeWord);
        statement->declaredType = typeOfWord(typeWord.text);
        statement->global = global;
        do {
            const Token name = lexer_.next();
            if (name.kind != Token::Kind::Variable)
                expected(name, "a variable name");
            Declarator declarator;
            declarator.name = name.text;
            declarator.line = name.line;
            if (statement->declaredType == Type::Matrix) {
                // A procedure reaches a global matrix declared elsewhere as
                // `global matrix $g;`.
                if (!global || lexer_.peek().is("["))
                    parseMatrixSize(name, declarator);
            } else if (accept("[")) {
                declarator.array = true;
                if (!lexer_.peek().is("]"))
                    declarator.size = parseExpression();
                expect("]");
            }
            if (accept("="))
                declarator.initialiser = parseExpression();
            statement->declarators.push_back(std::move(declarator));
        } while (accept(","));
        endStatement();
        return statement;
    }

    // `[rows][columns]` after a matrix's name: numbers, as a matrix cannot
    // grow and its size is known before the script runs.
    void parseMatrixSize(const Token& name, Declarator& declarator)
    {
        for (std::size_t* size : { &declarator.rows, &declarator.columns }) {
            const Token open = lexer_.next();
            const Token number = open.is("[") ? lexer_.next() : open;
            // Nine digits keep the size an int.
            const bool counted = open.is("[") && number.kind == Token::Kind::Int && number.text.size() <= 9
                && std::strtol(number.text.c_str(), nullptr, 10) > 0;
            if (!counted)
                fail(number,
                    "a matrix is declared with its size in numbers: matrix $" + name.text
                        + "[rows][columns]");
            *size = std::size_t(std::strtol(number.text.c_str(), nullptr, 10));
            expect("]");
        }
    }

    ExprPtr parseCondition()
    {
        expect("(");
        ExprPtr condition = parseExpression();
        expect(")");
        return condition;
    }

    StmtPtr parseIf()
    {
        StmtPtr statement = make(Stmt::Kind::If, lexer_.next());
        statement->condition = parseCondition();
        statement->body.push_back(parseStatement(false));
        if (lexer_.peek().isWord("else")) {
            lexer_.next();
            statement->body.push_back(parseStatement(false));
        }
        return statement;
    }

    StmtPtr parseWhile()
    {
        StmtPtr statement = make(Stmt::Kind::While, lexer_.next());
        statement->condition = parseCondition();
        statement->body.push_back(parseStatement(false));
        return statement;
    }

    StmtPtr parseDoWhile()
    {
        StmtPtr statement = make(Stmt::Kind::DoWhile, lexer_.next());
        statement->body.push_back(parseStatement(false));
        const Token word = lexer_.next();
        if (!word.isWord("while"))
            expected(word, "'while'");
        statement->condition = parseCondition();
        endStatement();
        return statement;
    }

    StmtPtr parseFor()
    {
        const Token first = lexer_.next();
        expect("(");
        const Lexer::Place before = lexer_.place();
        const Token variable = lexer_.next();
        if (variable.kind == Token::Kind::Variable && lexer_.peek().isWord("in")) {
            lexer_.next();
            StmtPtr statement = make(Stmt::Kind::ForIn, first);
            statement->variable = variable.text;
            statement->condition = parseExpression();
            expect(")");
            statement->body.push_back(parseStatement(false));
            return statement;
        }
        lexer_.restore(before);
        StmtPtr statement = make(Stmt::Kind::For, first);
        if (!lexer_.peek().is(";"))
            statement->expression = parseSequence();
        expect(";");
        if (!lexer_.peek().is(";"))
            statement->condition = parseExpression();
        expect(";");
        if (!lexer_.peek().is(")"))
            statement->step = parseSequence();
        expect(")");
        statement->body.push_back(parseStatement(false));
        return statement;
    }

    // One expression, or several separated by commas, as a `for` header's
    // first and last parts take: for ($i = 0, $j = 9; $i < $j; $i++, $j--)
    ExprPtr parseSequence()
    {
        const Token first = lexer_.peek();
        ExprPtr expression = parseExpression();
        if (!lexer_.peek().is(","))
            return expression;
        ExprPtr sequence = node(Expr::Kind::Sequence, first);
        sequence->operands.push_back(std::move(expression));
        while (accept(","))
            sequence->operands.push_back(parseExpression());
        return sequence;
    }

    StmtPtr parseSwitch()
    {
        StmtPtr statement = make(Stmt::Kind::Switch, lexer_.next());
        statement->condition = parseCondition();
        expect("{");
        while (!accept("}")) {
            const Token token = lexer_.peek();
            if (token.isWord("case") || token.isWord("default")) {
                lexer_.next();
                CaseLabel label;
                if (token.isWord("case"))
                    label.value = parseExpression();
                expect(":");
                label.first = statement->body.size();
                statement->labels.push_back(std::move(label));
            } else if (token.kind == Token::Kind::End) {
                expected(token, "'}'");
            } else {
                statement->body.push_back(parseStatement(false));
            }
        }
        return statement;
    }

    StmtPtr parseJump(const Token& first)
    {
        lexer_.next();
        StmtPtr statement = make(first.text == "break" ? Stmt::Kind::Break : Stmt::Kind::Continue, first);
        endStatement();
        return statement;
    }

    StmtPtr parseReturn()
    {
        StmtPtr statement = make(Stmt::Kind::Return, lexer_.next());
        const Token next = lexer_.peek();
        if (!next.is(";") && next.kind != Token::Kind::End && !next.is("}"))
            statement->expression = parseExpression();
        endStatement();
        return statement;
    }

    // A command in command syntax: its name, then arguments up to the `;` (or
    // the closing backquote inside backquotes).
    ExprPtr parseCommand(bool inBackquotes)
    {
        const Token name = lexer_.next();
        if (name.kind != Token::Kind::Identifier || isKeyword(name.text))
            expected(name, "a command name");
        ExprPtr command = node(Expr::Kind::Command, name);
        command->text = name.text;
        while (true) {
            const Lexer::Place before = lexer_.place();
            const Token argument = lexer_.nextArgument();
            if (argument.kind == Token::Kind::End || argument.is(";") || argument.is("}")
                || (inBackquotes && argument.is("`"))) {
                lexer_.restore(before);
                return command;
            }
            command->operands.push_back(parseCommandArgument(argument, before));
        }
    }

    // Whether, just after a `(`, a type word alone in brackets follows: a cast.
    // Leaves the lexer where it was.
    bool atCast()
    {
        const Lexer::Place inside = lexer_.place();
        const bool cast = isTypeWord(lexer_.next()) && lexer_.peek().is(")");
        lexer_.restore(inside);
        return cast;
    }

    // One argument in command syntax, `argument` its first token, read from `before`.
    ExprPtr parseCommandArgument(const Token& argument, Lexer::Place before)
    {
        const Nesting nesting(*this, argument);
        if (argument.is("(")) {
            // `(int) $f` casts the argument that follows, as the same cast in an
            // expression casts what follows it: print (int) $f;
            if (atCast()) {
                const Token type = lexer_.next();
                lexer_.next();
                ExprPtr cast = node(Expr::Kind::Cast, argument);
                cast->castType = typeOfWord(type.text);
                const Lexer::Place operandPlace = lexer_.place();
                const Token operand = lexer_.nextArgument();
                if (operand.kind == Token::Kind::End || operand.is(";") || operand.is("}") || operand.is("`")
                    || operand.is(")"))
                    expected(operand, "a command argument to cast");
                cast->operands.push_back(parseCommandArgument(operand, operandPlace));
                return cast;
            }
            ExprPtr inner = parseExpression();
            expect(")");
            return inner;
        }
        if (argument.is("`"))
            return parseBackquoted(argument);
        if (argument.is("{"))
            return parseArrayLiteral(argument);  // print {"a", "b"};
        if (argument.kind == Token::Kind::Variable) {
            // `$v.x` is read only in an expression, as in MEL: here `$name.png`
            // stays two arguments.
            lexer_.restore(before);
            return parsePostfix(false);
        }
        if (argument.kind == Token::Kind::Word && argument.text.compare(0, 2, "<<") == 0) {
            // A vector is one argument, spaces inside it or not: print <<1, 2, 3>>;
            lexer_.restore(before);
            return parsePostfix();
        }
        if (argument.kind == Token::Kind::Word && isCallStart(argument)) {
            // `name(...)` right after a word is a call: print size($a);
            lexer_.restore(before);
            return parsePostfix();
        }
        if (argument.kind != Token::Kind::String && argument.kind != Token::Kind::Word)
            expected(argument, "a command argument");
        if (argument.kind == Token::Kind::Word)
            if (ExprPtr number = numberWord(argument))
                return number;
        ExprPtr word = node(Expr::Kind::String, argument);
        word->text = argument.text;
        return word;
    }

    // A word that is a whole number, `3`, `-5`, `2.5`, `1e-3`, `0x1F`, is that
    // number, as `fwrite $f 3` writes the int 3; it keeps its text for a
    // command, which gets its arguments as they were written. Null for any
    // other word.
    ExprPtr numberWord(const Token& word)
    {
        const std::string& text = word.text;
        Token unsignedNumber = word;
        unsignedNumber.text = text.substr(text[0] == '-' || text[0] == '+' ? 1 : 0);
        bool real = false;
        if (!isNumberText(unsignedNumber.text, real))
            return nullptr;
        ExprPtr number = real ? node(Expr::Kind::Float, word) : integer(unsignedNumber);
        if (real)
            number->real = std::strtod(unsignedNumber.text.c_str(), nullptr);
        if (text[0] == '-') {
            number->number = wrappedInt(-std::int64_t(number->number));
            number->real = -number->real;
        }
        number->text = text;
        return number;
    }

    // A word that is a name with `(` right after it, no space between.
    bool isCallStart(const Token& word)
    {
        if (word.text.empty() || (isKeyword(word.text) && !isTypeName(word.text))
            || std::isdigit(static_cast<unsigned char>(word.text[0])))
            return false;
        for (const char c : word.text)
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
                return false;
        const Lexer::Place after = lexer_.place();
        const Token next = lexer_.nextArgument();
        lexer_.restore(after);
        return next.is("(") && next.line == word.line
            && next.column == word.column + static_cast<int>(word.text.size());
    }

    ExprPtr parseBackquoted(const Token& open)
    {
        ExprPtr command = parseCommand(true);
        const Token close = lexer_.nextArgument();
        if (!close.is("`"))
            expected(close,
                "'`' to close the one at line " + std::to_string(open.line) + "."
                    + std::to_string(open.column));
        return command;
    }

    ExprPtr node(Expr::Kind kind, const Token& where)
    {
        countPart(where);
        auto expression = std::make_unique<Expr>();
        expression->kind = kind;
        expression->line = where.line;
        return expression;
    }

    ExprPtr parseExpression()
    {
        const Nesting nesting(*this, lexer_.peek());
        return parseAssignment();
    }

    ExprPtr parseAssignment()
    {
        ExprPtr target = parseTernary();
        const Token op = lexer_.peek();
        if (!(op.is("=") || op.is("+=") || op.is("-=") || op.is("*=") || op.is("/=")))
            return target;
        if (target->kind == Expr::Kind::Component)
            fail(op, "a vector's component is read only: assign the whole vector");
        if (target->kind != Expr::Kind::Variable && target->kind != Expr::Kind::Index)
            fail(op, "expected a variable before '" + op.text + "'");
        lexer_.next();
        ExprPtr assignment = node(Expr::Kind::Assign, op);
        assignment->text = op.text;
        assignment->compound = op.text != "=";
        opOf(op.text, assignment->op);
        assignment->operands.push_back(std::move(target));
        assignment->operands.push_back(parseExpression());
        return assignment;
    }

    ExprPtr parseTernary()
    {
        ExprPtr condition = parseBinary(0);
        const Token question = lexer_.peek();
        if (!question.is("?"))
            return condition;
        lexer_.next();
        ExprPtr ternary = node(Expr::Kind::Ternary, question);
        ternary->operands.push_back(std::move(condition));
        ternary->operands.push_back(parseExpression());
        expect(":");
        ternary->operands.push_back(parseExpression());
        return ternary;
    }

    // The binary operators by precedence, loosest first.
    static int precedence(const Token& token)
    {
        static const char* const kLevels[][4] = {
            { "||" },
            { "&&" },
            { "==", "!=" },
            { "<", "<=", ">", ">=" },
            { "+", "-" },
            { "*", "/", "%", "^" },
        };
        if (token.kind != Token::Kind::Punct)
            return -1;
        for (int level = 0; level < 6; ++level)
            for (const char* op : kLevels[level])
                if (op != nullptr && token.text == op)
                    return level;
        return -1;
    }

    ExprPtr parseBinary(int level)
    {
        if (level == 6)
            return parseUnary();
        ExprPtr left = parseBinary(level + 1);
        if (precedence(lexer_.peek()) != level)
            return left;
        ExprPtr chain = node(Expr::Kind::Binary, lexer_.peek());
        chain->operands.push_back(std::move(left));
        while (precedence(lexer_.peek()) == level) {
            Op op = Op::Add;
            opOf(lexer_.next().text, op);
            chain->chain.push_back(op);
            chain->operands.push_back(parseBinary(level + 1));
        }
        return chain;
    }

    ExprPtr parseUnary()
    {
        const Token op = lexer_.peek();
        if (op.is("-") || op.is("!") || op.is("+")) {
            lexer_.next();
            const Nesting nesting(*this, op);
            ExprPtr operand = parseUnary();
            if (op.is("+"))
                return operand;
            ExprPtr unary = node(Expr::Kind::Unary, op);
            unary->text = op.text;
            unary->operands.push_back(std::move(operand));
            return unary;
        }
        if (op.is("++") || op.is("--")) {
            lexer_.next();
            ExprPtr target = parsePostfix();
            if (target->kind != Expr::Kind::Variable && target->kind != Expr::Kind::Index)
                fail(op, "expected a variable after '" + op.text + "'");
            return stepNode(op, std::move(target), true);
        }
        return parsePostfix();
    }

    ExprPtr stepNode(const Token& op, ExprPtr target, bool prefix)
    {
        ExprPtr expression = node(Expr::Kind::Step, op);
        expression->text = op.text;
        expression->prefix = prefix;
        expression->operands.push_back(std::move(target));
        return expression;
    }

    ExprPtr parsePostfix(bool components = true)
    {
        ExprPtr expression = parsePrimary();
        if (expression->kind != Expr::Kind::Variable)
            return expression;
        // What may follow is looked at without reading it as a token: in a
        // command's arguments `$node|child` goes on with a word.
        if (nextIs("[")) {
            const Token open = lexer_.next();
            ExprPtr index = node(Expr::Kind::Index, open);
            index->text = expression->text;
            index->operands.push_back(parseExpression());
            expect("]");
            // `$m[row][column]`: an element of a matrix.
            if (nextIs("[")) {
                lexer_.next();
                index->operands.push_back(parseExpression());
                expect("]");
            }
            expression = std::move(index);
        }
        if (components && nextIs(".")) {
            const Token dot = lexer_.next();
            const Token name = lexer_.next();
            const int component = name.isWord("x") ? 0 : name.isWord("y") ? 1 : name.isWord("z") ? 2 : -1;
            if (component < 0)
                expected(name, "x, y or z after '.'");
            ExprPtr access = node(Expr::Kind::Component, dot);
            access->number = component;
            access->operands.push_back(std::move(expression));
            return access;
        }
        if (nextIs("++") || nextIs("--"))
            return stepNode(lexer_.next(), std::move(expression), false);
        return expression;
    }

    ExprPtr parsePrimary()
    {
        const Token token = lexer_.next();
        switch (token.kind) {
        case Token::Kind::Int:
            return integer(token);
        case Token::Kind::Float: {
            ExprPtr real = node(Expr::Kind::Float, token);
            real->real = std::strtod(token.text.c_str(), nullptr);
            return real;
        }
        case Token::Kind::String: {
            ExprPtr text = node(Expr::Kind::String, token);
            text->text = token.text;
            return text;
        }
        case Token::Kind::Variable: {
            ExprPtr variable = node(Expr::Kind::Variable, token);
            variable->text = token.text;
            return variable;
        }
        case Token::Kind::Identifier: {
            if (isTypeWord(token) && lexer_.peek().is("("))
                return parseConversion(token);
            if (!isKeyword(token.text) && lexer_.peek().is("("))
                return parseCall(token);
            int truth = 0;
            if (isTruthWord(token.text, truth)) {
                ExprPtr constant = node(Expr::Kind::Int, token);
                constant->number = truth;
                return constant;
            }
            expected(token, "an expression");
        }
        default:
            break;
        }
        if (token.is("(")) {
            // `(int) $f`: a type word alone in brackets casts what follows.
            const Lexer::Place before = lexer_.place();
            const Token type = lexer_.next();
            if (isTypeWord(type) && lexer_.peek().is(")")) {
                lexer_.next();
                const Nesting nesting(*this, token);
                ExprPtr cast = node(Expr::Kind::Cast, token);
                cast->castType = typeOfWord(type.text);
                cast->operands.push_back(parseUnary());
                return cast;
            }
            lexer_.restore(before);
            ExprPtr inner = parseExpression();
            expect(")");
            return inner;
        }
        if (token.is("{"))
            return parseArrayLiteral(token);
        if (token.is("<<"))
            return parseVectorOrMatrix(token);
        if (token.is("`"))
            return parseBackquoted(token);
        expected(token, "an expression");
    }

    // `<<x, y, z>>` is a vector; any other count, or rows between `;`, a
    // matrix: `<<1, 2; 3, 4>>`. A row shorter than the longest ends in zeros.
    ExprPtr parseVectorOrMatrix(const Token& open)
    {
        const Nesting nesting(*this, open);
        std::vector<std::vector<ExprPtr>> rows(1);
        while (true) {
            rows.back().push_back(parseExpression());
            const Token separator = lexer_.next();
            if (separator.is(">>"))
                break;
            if (separator.is(";"))
                rows.emplace_back();
            else if (!separator.is(","))
                expected(separator, "',', ';' or '>>'");
        }
        if (rows.size() == 1 && rows[0].size() == 3) {
            ExprPtr vector = node(Expr::Kind::Vector, open);
            vector->operands = std::move(rows[0]);
            return vector;
        }
        ExprPtr matrix = node(Expr::Kind::Matrix, open);
        std::size_t columns = 0;
        for (const auto& row : rows)
            columns = std::max(columns, row.size());
        matrix->number = static_cast<int>(columns);
        for (auto& row : rows) {
            for (ExprPtr& element : row)
                matrix->operands.push_back(std::move(element));
            for (std::size_t i = row.size(); i < columns; ++i) {
                ExprPtr zero = node(Expr::Kind::Int, open);
                matrix->operands.push_back(std::move(zero));
            }
        }
        return matrix;
    }

    // A literal too large for an int keeps its size as a float; a hexadecimal
    // one of up to 32 bits is the int of those bits, as C reads 0xFFFFFFFF.
    ExprPtr integer(const Token& token)
    {
        if (token.text.size() > 2 && (token.text[1] == 'x' || token.text[1] == 'X')) {
            errno = 0;
            const unsigned long long bits = std::strtoull(token.text.c_str() + 2, nullptr, 16);
            if (errno == 0 && bits <= 0xffffffffULL) {
                ExprPtr number = node(Expr::Kind::Int, token);
                number->number = wrappedInt(static_cast<std::int64_t>(bits));
                return number;
            }
            ExprPtr real = node(Expr::Kind::Float, token);
            real->real = std::strtod(token.text.c_str(), nullptr);
            return real;
        }
        errno = 0;
        const long long value = std::strtoll(token.text.c_str(), nullptr, 10);
        if (errno == 0 && value <= 2147483647LL) {
            ExprPtr number = node(Expr::Kind::Int, token);
            number->number = static_cast<int>(value);
            return number;
        }
        ExprPtr real = node(Expr::Kind::Float, token);
        real->real = std::strtod(token.text.c_str(), nullptr);
        return real;
    }

    // `int(3.67)`, `vector("<<1, 2, 3>>")`: the same conversion as a cast.
    ExprPtr parseConversion(const Token& type)
    {
        ExprPtr cast = node(Expr::Kind::Cast, type);
        cast->castType = typeOfWord(type.text);
        expect("(");
        cast->operands.push_back(parseExpression());
        expect(")");
        return cast;
    }

    ExprPtr parseCall(const Token& name)
    {
        ExprPtr call = node(Expr::Kind::Call, name);
        call->text = name.text;
        expect("(");
        if (!accept(")")) {
            do
                call->operands.push_back(parseExpression());
            while (accept(","));
            expect(")");
        }
        return call;
    }

    ExprPtr parseArrayLiteral(const Token& open)
    {
        ExprPtr array = node(Expr::Kind::Array, open);
        if (!accept("}")) {
            do
                array->operands.push_back(parseExpression());
            while (accept(","));
            expect("}");
        }
        return array;
    }

    Lexer lexer_;
    int nesting_ = 0;
    std::size_t parts_ = 0;
};

// The offset just past the first line end (LF, CR LF or a lone CR) at or
// after `from`, or npos when there is none.
std::size_t pastLineEnd(std::string_view text, std::size_t from)
{
    const std::size_t end = text.find_first_of("\r\n", from);
    if (end == std::string_view::npos)
        return end;
    return text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? end + 2 : end + 1;
}

}  // namespace

StatementReader::StatementReader(std::string_view text, int firstLine)
    : text_(text)
    , line_(firstLine)
{
}

StatementReader::StatementReader(Read read, std::size_t limit)
    : read_(std::move(read))
    , limit_(limit)
    , atEnd_(false)
    , stream_(true)
{
}

void StatementReader::fail(const std::string& what, int line, int column)
{
    error_ = line > 0 ? "line " + std::to_string(line) + "." + std::to_string(column) + ": " + what : what;
    errorWhat_ = what;
    errorLine_ = line;
    errorColumn_ = column;
}

// Reads once more; false on a read error.
bool StatementReader::fill()
{
    // Dropping what was parsed only when it is most of the buffer keeps
    // reading linear.
    if (start_ > (std::size_t { 1 } << 16) && start_ > buffer_.size() / 2) {
        buffer_.erase(0, start_);
        start_ = 0;
        text_ = buffer_;
    }
    char chunk[1 << 16];
    const long count = read_(chunk, sizeof chunk);
    if (count < 0) {
        readFailed_ = true;
        fatal_ = true;
        fail("cannot read: " + std::string(std::strerror(errno)), 0, 0);
        return false;
    }
    if (count == 0) {
        atEnd_ = true;
        skipping_ = false;
        return true;
    }
    const std::string_view read(chunk, std::size_t(count));
    std::size_t from = 0;
    if (lineFeedMayFollow_ && read.front() == '\n')
        from = 1;  // the rest of a CR LF split between two reads
    lineFeedMayFollow_ = false;
    if (skipping_) {
        const std::size_t end = pastLineEnd(read, from);
        if (end == std::string_view::npos)
            return true;
        skipping_ = false;
        ++line_;
        column_ = 1;
        lineFeedMayFollow_ = end == read.size() && read.back() == '\r';
        from = end;
    }
    buffer_.append(chunk + from, std::size_t(count) - from);
    text_ = buffer_;
    return true;
}

StatementReader::Result StatementReader::next(StmtPtr& statement)
{
    // Below this a stream is parsed after every read, so that a statement typed
    // at a terminal runs when its line is entered; above it only once what is
    // pending has doubled, so that a long statement costs linear time.
    constexpr std::size_t kEager = std::size_t { 1 } << 16;
    while (true) {
        const std::size_t pending = text_.size() - start_;
        if (!skipping_ && (atEnd_ || pending <= kEager || pending >= 2 * lastAttempt_)) {
            Parser parser(text_.substr(start_), line_, column_);
            Parser::Step step = Parser::Step::Incomplete;
            try {
                step = parser.step(statement, atEnd_);
            } catch (const SyntaxError& syntaxError) {
                fail(syntaxError.what, syntaxError.line, syntaxError.column);
                fatal_ = !stream_ || syntaxError.endsSource;
                return Result::Error;
            }
            if (step == Parser::Step::End)
                return Result::End;
            if (step == Parser::Step::Statement) {
                const Lexer::Place place = parser.place();
                start_ += place.offset;
                line_ = place.line;
                column_ = place.column;
                lastAttempt_ = 0;
                return Result::Statement;
            }
            lastAttempt_ = pending;
        }
        if (limit_ != 0 && pending > limit_) {
            fatal_ = true;
            fail("a statement of more than " + std::to_string(limit_) + " bytes", line_, column_);
            return Result::Error;
        }
        if (!fill())
            return Result::Error;
    }
}

bool StatementReader::skipError()
{
    if (fatal_)
        return false;
    // Drop through the end of the error's line, counting the lines on the way.
    std::size_t at = start_;
    int line = line_;
    while (at < text_.size() && line < errorLine_) {
        const std::size_t end = pastLineEnd(text_, at);
        if (end == std::string_view::npos)
            break;
        at = end;
        ++line;
    }
    const std::size_t end = pastLineEnd(text_, at);
    line_ = line;
    column_ = 1;
    lastAttempt_ = 0;
    if (end == std::string_view::npos) {
        start_ = text_.size();
        skipping_ = !atEnd_;
        if (line_ < errorLine_)
            line_ = errorLine_;
        return true;
    }
    start_ = end;
    line_ = line + 1;
    lineFeedMayFollow_ = !atEnd_ && end == text_.size() && text_.back() == '\r';
    return true;
}

ParsedSource parseSource(std::string_view text, int firstLine)
{
    ParsedSource parsed;
    StatementReader reader(text, firstLine);
    StmtPtr statement;
    StatementReader::Result next;
    while ((next = reader.next(statement)) == StatementReader::Result::Statement)
        parsed.statements.push_back(std::move(statement));
    if (next == StatementReader::Result::Error) {
        parsed.statements.clear();
        parsed.error = reader.errorWhat();
        parsed.errorLine = reader.errorLine();
        parsed.errorColumn = reader.errorColumn();
    }
    return parsed;
}

bool hoistProcedures(
    std::string_view text, std::vector<std::shared_ptr<const Procedure>>& procedures, std::string& error)
{
    StatementReader check(text);
    StmtPtr statement;
    StatementReader::Result next;
    while ((next = check.next(statement)) == StatementReader::Result::Statement)
        if (statement->kind == Stmt::Kind::Procedure)
            procedures.push_back(statement->procedure);
    if (next != StatementReader::Result::Error)
        return true;
    error = check.error();
    return false;
}

}  // namespace mel
