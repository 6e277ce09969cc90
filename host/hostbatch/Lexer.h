#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace hostbatch {

/// A syntax error at a place in the source.
struct SyntaxError {
    int line;
    int column;
    std::string what;
};

/// One token. Identifiers, variables (without `$`), numbers, strings (their
/// unescaped text), bare words of a command's arguments, and punctuation
/// (`text` is the operator, e.g. "+=" or "`").
struct Token {
    enum class Kind { End, Identifier, Variable, Int, Float, String, Word, Punct };
    Kind kind = Kind::End;
    std::string text;
    int line = 1;
    int column = 1;

    bool is(const char* punct) const { return kind == Kind::Punct && text == punct; }
    bool isWord(const char* word) const { return kind == Kind::Identifier && text == word; }
};

/// Reads tokens from script text, from the front. Line ends are whitespace;
/// `//` and `/* */` are comments. Expression tokens come from `next`; the
/// arguments of a command in command syntax, where `-f` and `images/a.png` are
/// words, from `nextArgument`. Throws SyntaxError.
class Lexer {
public:
    /// Where the lexer is; saved and restored to look ahead.
    struct Place {
        std::size_t offset = 0;
        int line = 1;
        int column = 1;
    };

    Lexer(std::string_view text, int firstLine);

    Token next();
    /// In command syntax: a string, a `$variable`, a number or a bare word; or the
    /// punctuation `;`, `(`, `)`, `{`, `}`, `` ` `` that ends or opens something.
    Token nextArgument();
    Token peek();

    Place place() const { return place_; }
    void restore(Place place) { place_ = place; }

private:
    void skipSpaceAndComments();
    Token start() const;
    Token readString();
    Token readNumber();
    Token readName(Token::Kind kind);
    Token readPunct();
    bool atEnd() const { return place_.offset >= text_.size(); }
    char at(std::size_t ahead = 0) const;
    void advance();
    [[noreturn]] void fail(const Token& where, std::string what) const;

    std::string_view text_;
    Place place_;
};

}  // namespace hostbatch
