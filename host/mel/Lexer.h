#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace mel {

/// A syntax error at a place in the source. `endsSource` is set for a
/// statement too large to parse, after which a stream cannot go on.
struct SyntaxError {
    int line;
    int column;
    std::string what;
    bool endsSource = false;
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

/// Reads tokens from script text, from the front. Line ends (LF, CR LF or a
/// lone CR) are whitespace; `//` and `/* */` are comments. Expression tokens come from `next`; the
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

    /// `text` starts at `firstLine`, `firstColumn` of its source.
    Lexer(std::string_view text, int firstLine, int firstColumn = 1);

    Token next();
    /// In command syntax: a string, a `$variable`, a number or a bare word; or the
    /// punctuation `;`, `(`, `)`, `{`, `}`, `` ` `` that ends or opens something.
    Token nextArgument();
    Token peek();

    Place place() const { return place_; }
    void restore(Place place) { place_ = place; }
    /// Whether a token or a failure so far depended on where the text ends, so
    /// that more text could have made it different: how a stream tells an
    /// incomplete statement from a complete one.
    bool reachedEnd() const { return reachedEnd_; }
    void clearReachedEnd() { reachedEnd_ = false; }

private:
    void skipSpaceAndComments();
    Token start() const;
    Token readString();
    Token readNumber();
    Token readName(Token::Kind kind);
    Token readPunct();
    // Moves the next `count` bytes, or those that `belongs` accepts, onto `token`'s text.
    void take(Token& token, std::size_t count);
    void takeWhile(Token& token, bool (*belongs)(char));
    bool atEnd() const
    {
        if (place_.offset < text_.size())
            return false;
        reachedEnd_ = true;
        return true;
    }
    char at(std::size_t ahead = 0) const;
    void advance();
    bool endsLine() const;
    [[noreturn]] void fail(const Token& where, std::string what) const;

    std::string_view text_;
    Place place_;
    mutable bool reachedEnd_ = false;
};

}  // namespace mel
