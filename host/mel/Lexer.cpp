#include "Lexer.h"

#include <cstring>
#include <utility>

namespace mel {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isNameStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool isNameChar(char c)
{
    return isNameStart(c) || isDigit(c);
}

// strchr would find the terminating NUL, and a NUL byte is part of a word.
bool isOneOf(char c, const char* set)
{
    return c != '\0' && std::strchr(set, c) != nullptr;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Longest first, so that "+=" is not read as "+" and "=".
// `<<` and `>>` open and close a vector: no other operator has them, so
// `$a < $b` and `$a<-1` read as before.
constexpr const char* kOperators[]
    = { "&&", "||", "==", "!=", "<=", ">=", "+=", "-=", "*=", "/=", "++", "--", "<<", ">>", "+", "-", "*",
          "/", "%", "<", ">", "=", "!", "?", ":", ";", ",", "(", ")", "{", "}", "[", "]", "`", ".", "^" };

}  // namespace

Lexer::Lexer(std::string_view text, int firstLine, int firstColumn)
    : text_(text)
{
    place_.line = firstLine;
    place_.column = firstColumn;
}

char Lexer::at(std::size_t ahead) const
{
    const std::size_t offset = place_.offset + ahead;
    if (offset < text_.size())
        return text_[offset];
    reachedEnd_ = true;
    return '\0';
}

void Lexer::advance()
{
    if (endsLine()) {
        ++place_.line;
        place_.column = 1;
    } else {
        ++place_.column;
    }
    ++place_.offset;
}

// A line ends at a line feed, or at a carriage return not followed by one
// (old Mac text), so that CR LF counts once.
bool Lexer::endsLine() const
{
    const char c = text_[place_.offset];
    if (c == '\n')
        return true;
    if (c != '\r')
        return false;
    if (place_.offset + 1 == text_.size()) {
        reachedEnd_ = true;  // a line feed may yet follow
        return true;
    }
    return text_[place_.offset + 1] != '\n';
}

void Lexer::fail(const Token& where, std::string what) const
{
    throw SyntaxError { where.line, where.column, std::move(what) };
}

Token Lexer::start() const
{
    Token token;
    token.line = place_.line;
    token.column = place_.column;
    return token;
}

void Lexer::skipSpaceAndComments()
{
    while (!atEnd()) {
        if (isSpace(at())) {
            advance();
        } else if (at() == '/' && at(1) == '/') {
            while (!atEnd() && at() != '\n' && at() != '\r')
                advance();
        } else if (at() == '/' && at(1) == '*') {
            const Token opening = start();
            advance();
            advance();
            while (!atEnd() && !(at() == '*' && at(1) == '/'))
                advance();
            if (atEnd())
                fail(opening, "unterminated comment");
            advance();
            advance();
        } else {
            return;
        }
    }
}

Token Lexer::peek()
{
    const Place saved = place_;
    Token token = next();
    place_ = saved;
    return token;
}

Token Lexer::next()
{
    skipSpaceAndComments();
    if (atEnd())
        return start();
    const char c = at();
    if (c == '"')
        return readString();
    if (isDigit(c) || (c == '.' && isDigit(at(1))))
        return readNumber();
    if (c == '$') {
        const Token dollar = start();
        advance();
        if (!isNameStart(at()))
            fail(dollar, "expected a variable name after '$'");
        Token variable = readName(Token::Kind::Variable);
        variable.line = dollar.line;
        variable.column = dollar.column;
        return variable;
    }
    if (isNameStart(c))
        return readName(Token::Kind::Identifier);
    return readPunct();
}

Token Lexer::nextArgument()
{
    skipSpaceAndComments();
    if (atEnd())
        return start();
    const char c = at();
    if (c == '"' || c == '$')
        return next();
    if (isOneOf(c, ";(){}`"))
        return readPunct();
    // A bare word runs to whitespace, a separator, a quote or a comment.
    Token word = start();
    word.kind = Token::Kind::Word;
    while (!atEnd() && !isSpace(at()) && !isOneOf(at(), ";(){}`\"")
        && !(at() == '/' && (at(1) == '/' || at(1) == '*'))) {
        word.text += at();
        advance();
    }
    return word;
}

Token Lexer::readString()
{
    Token token = start();
    token.kind = Token::Kind::String;
    advance();
    while (true) {
        if (atEnd() || at() == '\n' || at() == '\r')
            fail(token, "unterminated string");
        const char c = at();
        if (c == '"') {
            advance();
            return token;
        }
        if (c != '\\') {
            token.text += c;
            advance();
            continue;
        }
        advance();
        if (atEnd())
            fail(token, "unterminated string");
        if (at() == '\n' || at() == '\r') {
            // A backslash at the end of a line continues the string on the next.
            const bool crlf = at() == '\r' && at(1) == '\n';
            advance();
            if (crlf)
                advance();
            continue;
        }
        switch (at()) {
        case 'n':
            token.text += '\n';
            break;
        case 't':
            token.text += '\t';
            break;
        case 'r':
            token.text += '\r';
            break;
        default:
            // `\"` and `\\` stand for themselves, and so does any character
            // after a backslash that names no special character: "\." is ".",
            // so that a regular expression needs "\\." to see a backslash.
            token.text += at();
            break;
        }
        advance();
    }
}

void Lexer::take(Token& token, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        token.text += at();
        advance();
    }
}

void Lexer::takeWhile(Token& token, bool (*belongs)(char))
{
    while (belongs(at())) {
        token.text += at();
        advance();
    }
}

Token Lexer::readNumber()
{
    Token token = start();
    token.kind = Token::Kind::Int;
    if (at() == '0' && (at(1) == 'x' || at(1) == 'X') && isHexDigit(at(2))) {
        take(token, 2);  // a hexadecimal int: 0x1F
        takeWhile(token, isHexDigit);
    } else {
        takeWhile(token, isDigit);
        if (at() == '.') {
            token.kind = Token::Kind::Float;
            take(token, 1);
            takeWhile(token, isDigit);
        }
        // Only an `e` looks further: a number that ends the text read so far
        // is complete unless an exponent may yet follow.
        if ((at() == 'e' || at() == 'E')
            && (isDigit(at(1)) || ((at(1) == '+' || at(1) == '-') && isDigit(at(2))))) {
            token.kind = Token::Kind::Float;
            take(token, 2);
            takeWhile(token, isDigit);
        }
    }
    if (isNameStart(at()))
        fail(start(), "expected an operator after the number " + token.text);
    return token;
}

Token Lexer::readName(Token::Kind kind)
{
    Token token = start();
    token.kind = kind;
    takeWhile(token, isNameChar);
    return token;
}

Token Lexer::readPunct()
{
    Token token = start();
    token.kind = Token::Kind::Punct;
    // A one-byte operator at the end may yet be the start of a two-byte one.
    if (place_.offset + 1 == text_.size() && isOneOf(at(), "&|=!<>+-*/"))
        reachedEnd_ = true;
    for (const char* op : kOperators) {
        const std::size_t length = std::strlen(op);
        if (text_.substr(place_.offset, length) == op) {
            token.text = op;
            for (std::size_t i = 0; i < length; ++i)
                advance();
            return token;
        }
    }
    const auto byte = static_cast<unsigned char>(at());
    if (byte < 0x20 || byte >= 0x7f) {
        static constexpr char kHex[] = "0123456789abcdef";
        fail(token, std::string("unexpected byte 0x") + kHex[byte >> 4] + kHex[byte & 0xf]);
    }
    fail(token, std::string("unexpected '") + at() + "'");
}

}  // namespace mel
