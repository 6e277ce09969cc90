#include "Parser.h"

#include "Lexer.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <utility>

namespace hostbatch {

namespace {

// Deep enough for any script written by hand, shallow enough that walking the
// tree cannot overflow the stack.
constexpr int kMaxNesting = 200;

bool isTypeWord(const Token& token)
{
    return token.isWord("int") || token.isWord("float") || token.isWord("string");
}

Type typeOfWord(const std::string& word)
{
    if (word == "int")
        return Type::Int;
    if (word == "float")
        return Type::Float;
    return Type::String;
}

bool isKeyword(const std::string& word)
{
    static const char* const kKeywords[] = { "if", "else", "while", "do", "for", "in", "switch", "case",
        "default", "break", "continue", "return", "proc", "global", "int", "float", "string" };
    for (const char* keyword : kKeywords)
        if (word == keyword)
            return true;
    return false;
}

class Parser {
public:
    Parser(std::string_view text, int firstLine)
        : lexer_(text, firstLine)
    {
    }

    void parseEach(const std::function<bool(StmtPtr)>& take)
    {
        while (lexer_.peek().kind != Token::Kind::End)
            if (!take(parseStatement(true)))
                return;
    }

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

    StmtPtr make(Stmt::Kind kind, const Token& first)
    {
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
            if (isTypeWord(first))
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
            if (isKeyword(first.text))
                expected(first, "a statement");
            return parseNameStatement(first);
        }
        StmtPtr statement = make(Stmt::Kind::Expression, first);
        statement->expression = parseExpression();
        endStatement();
        return statement;
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

    // `name(...)` is a call expression; any other name starts a command.
    StmtPtr parseNameStatement(const Token& first)
    {
        const Lexer::Place before = lexer_.place();
        lexer_.next();
        const bool call = lexer_.nextArgument().is("(");
        lexer_.restore(before);
        StmtPtr statement = make(Stmt::Kind::Expression, first);
        statement->expression = call ? parseExpression() : parseCommand(false);
        endStatement();
        return statement;
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

    Type parseArraySuffix(Type type)
    {
        if (!lexer_.peek().is("["))
            return type;
        lexer_.next();
        expect("]");
        return arrayType(type);
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
            if (accept("[")) {
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
            statement->expression = parseExpression();
        expect(";");
        if (!lexer_.peek().is(";"))
            statement->condition = parseExpression();
        expect(";");
        if (!lexer_.peek().is(")"))
            statement->step = parseExpression();
        expect(")");
        statement->body.push_back(parseStatement(false));
        return statement;
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
            const Nesting nesting(*this, argument);
            if (argument.is("(")) {
                command->operands.push_back(parseExpression());
                expect(")");
            } else if (argument.is("`")) {
                command->operands.push_back(parseBackquoted(argument));
            } else if (argument.kind == Token::Kind::Variable) {
                lexer_.restore(before);
                command->operands.push_back(parsePostfix());
            } else if (argument.kind == Token::Kind::Word && isCallStart(argument)) {
                // `name(...)` right after a word is a call: print size($a);
                lexer_.restore(before);
                command->operands.push_back(parsePostfix());
            } else if (argument.kind == Token::Kind::String || argument.kind == Token::Kind::Word) {
                ExprPtr word = node(Expr::Kind::String, argument);
                word->text = argument.text;
                command->operands.push_back(std::move(word));
            } else {
                expected(argument, "a command argument");
            }
        }
    }

    // A word that is a name with `(` right after it, no space between.
    bool isCallStart(const Token& word)
    {
        if (word.text.empty() || isKeyword(word.text)
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

    static ExprPtr node(Expr::Kind kind, const Token& where)
    {
        auto expression = std::make_unique<Expr>();
        expression->kind = kind;
        expression->line = where.line;
        return expression;
    }

    static ExprPtr binary(const Token& op, ExprPtr left, ExprPtr right)
    {
        ExprPtr expression = node(Expr::Kind::Binary, op);
        expression->text = op.text;
        expression->operands.push_back(std::move(left));
        expression->operands.push_back(std::move(right));
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
        if (target->kind != Expr::Kind::Variable && target->kind != Expr::Kind::Index)
            fail(op, "expected a variable before '" + op.text + "'");
        lexer_.next();
        ExprPtr assignment = node(Expr::Kind::Assign, op);
        assignment->text = op.text;
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
            { "*", "/", "%" },
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
        // Each operator adds a level to the tree, which is walked recursively, so
        // it counts as nesting until the chain ends.
        int chain = 0;
        while (precedence(lexer_.peek()) == level) {
            const Token op = lexer_.next();
            ++chain;
            if (++nesting_ > kMaxNesting) {
                nesting_ -= chain;
                fail(op, "nesting deeper than " + std::to_string(kMaxNesting) + " levels");
            }
            left = binary(op, std::move(left), parseBinary(level + 1));
        }
        nesting_ -= chain;
        return left;
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
            return step(op, std::move(target), true);
        }
        return parsePostfix();
    }

    static ExprPtr step(const Token& op, ExprPtr target, bool prefix)
    {
        ExprPtr expression = node(Expr::Kind::Step, op);
        expression->text = op.text;
        expression->prefix = prefix;
        expression->operands.push_back(std::move(target));
        return expression;
    }

    ExprPtr parsePostfix()
    {
        ExprPtr expression = parsePrimary();
        if (expression->kind == Expr::Kind::Variable && lexer_.peek().is("[")) {
            const Token open = lexer_.next();
            ExprPtr index = node(Expr::Kind::Index, open);
            index->text = expression->text;
            index->operands.push_back(parseExpression());
            expect("]");
            expression = std::move(index);
        }
        const Token op = lexer_.peek();
        if ((op.is("++") || op.is("--"))
            && (expression->kind == Expr::Kind::Variable || expression->kind == Expr::Kind::Index)) {
            lexer_.next();
            return step(op, std::move(expression), false);
        }
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
        case Token::Kind::Identifier:
            if (!isKeyword(token.text) && lexer_.peek().is("("))
                return parseCall(token);
            expected(token, "an expression");
        default:
            break;
        }
        if (token.is("(")) {
            ExprPtr inner = parseExpression();
            expect(")");
            return inner;
        }
        if (token.is("{"))
            return parseArrayLiteral(token);
        if (token.is("`"))
            return parseBackquoted(token);
        expected(token, "an expression");
    }

    // A literal too large for an int keeps its size as a float.
    static ExprPtr integer(const Token& token)
    {
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
};

}  // namespace

void parseEach(std::string_view text, int firstLine, const std::function<bool(StmtPtr)>& take,
    std::string& error, int& errorLine, int& errorColumn)
{
    try {
        Parser(text, firstLine).parseEach(take);
    } catch (const SyntaxError& syntaxError) {
        error = syntaxError.what;
        errorLine = syntaxError.line;
        errorColumn = syntaxError.column;
    }
}

ParsedSource parseSource(std::string_view text, int firstLine)
{
    ParsedSource parsed;
    parseEach(
        text, firstLine,
        [&parsed](StmtPtr statement) {
            parsed.statements.push_back(std::move(statement));
            return true;
        },
        parsed.error, parsed.errorLine, parsed.errorColumn);
    if (!parsed.ok())
        parsed.statements.clear();
    return parsed;
}

}  // namespace hostbatch
