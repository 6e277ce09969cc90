#include "Script.h"

#include <utility>

namespace hostbatch {

namespace {

// Reads a script once from front to back, gathering words into statements.
class ScriptReader {
public:
    explicit ScriptReader(std::string_view text)
        : text_(text)
    {
    }

    ParsedScript read()
    {
        while (!atEnd() && parsed_.ok())
            readNext();
        endStatement();
        if (!parsed_.ok())
            parsed_.statements.clear();
        return std::move(parsed_);
    }

private:
    void readNext()
    {
        const char c = text_[position_];
        if (c == '\n') {
            endStatement();
            ++line_;
            ++position_;
        } else if (c == ';') {
            endStatement();
            ++position_;
        } else if (isSpace(c)) {
            ++position_;
        } else if (startsWith("//")) {
            skipLineComment();
        } else if (startsWith("/*")) {
            skipBlockComment();
        } else if (c == '"') {
            readQuotedWord();
        } else {
            readBareWord();
        }
    }

    void skipLineComment()
    {
        while (!atEnd() && text_[position_] != '\n')
            ++position_;
    }

    void skipBlockComment()
    {
        const int startLine = line_;
        position_ += 2;
        while (!atEnd() && !startsWith("*/")) {
            if (text_[position_] == '\n')
                ++line_;
            ++position_;
        }
        if (atEnd())
            return fail(startLine, "unterminated comment");
        position_ += 2;
    }

    void readQuotedWord()
    {
        std::string word;
        ++position_;
        while (!atEnd()) {
            const char c = text_[position_];
            if (c == '"') {
                ++position_;
                return addWord(std::move(word));
            }
            if (c == '\n')
                break;
            if (c == '\\') {
                if (!readEscape(word))
                    return;
                continue;
            }
            word += c;
            ++position_;
        }
        fail(line_, "unterminated string");
    }

    // Appends the character an escape stands for; false after reporting a bad one.
    bool readEscape(std::string& word)
    {
        if (position_ + 1 >= text_.size() || text_[position_ + 1] == '\n') {
            fail(line_, "unterminated string");
            return false;
        }
        const char escaped = text_[position_ + 1];
        switch (escaped) {
        case '"':
        case '\\':
            word += escaped;
            break;
        case 'n':
            word += '\n';
            break;
        case 't':
            word += '\t';
            break;
        default:
            fail(line_, std::string("unknown escape \\") + escaped + " in string");
            return false;
        }
        position_ += 2;
        return true;
    }

    void readBareWord()
    {
        const std::size_t start = position_;
        while (!atEnd() && !endsBareWord())
            ++position_;
        addWord(std::string(text_.substr(start, position_ - start)));
    }

    bool endsBareWord() const
    {
        const char c = text_[position_];
        return isSpace(c) || c == '\n' || c == ';' || c == '"' || startsWith("//") || startsWith("/*");
    }

    void addWord(std::string word)
    {
        if (current_.words.empty())
            current_.line = line_;
        current_.words.push_back(std::move(word));
    }

    void endStatement()
    {
        if (!current_.words.empty())
            parsed_.statements.push_back(std::move(current_));
        current_ = Statement {};
    }

    void fail(int line, std::string what)
    {
        parsed_.error = std::move(what);
        parsed_.errorLine = line;
    }

    bool atEnd() const { return position_ >= text_.size(); }
    bool startsWith(std::string_view prefix) const
    {
        return text_.substr(position_, prefix.size()) == prefix;
    }
    // A line end is not a space here: it ends the statement.
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

    std::string_view text_;
    std::size_t position_ = 0;
    int line_ = 1;
    Statement current_;
    ParsedScript parsed_;
};

}  // namespace

ParsedScript parseScript(std::string_view text)
{
    return ScriptReader(text).read();
}

}  // namespace hostbatch
