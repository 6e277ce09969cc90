#include <maya/MArgParser.h>

#include <host/ScriptEditor.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace {

struct ParsedFlag {
    int flagIndex;
    std::vector<std::string> arguments;
};

std::string textOf(const char* flag)
{
    return flag != nullptr ? flag : "";
}

bool isWholeNumber(const std::string& token)
{
    std::size_t digitsFrom = (!token.empty() && (token[0] == '+' || token[0] == '-')) ? 1 : 0;
    if (digitsFrom == token.size())
        return false;
    for (std::size_t index = digitsFrom; index < token.size(); ++index) {
        if (token[index] < '0' || token[index] > '9')
            return false;
    }
    return true;
}

// Only plain decimal notation counts: strtod alone would also take leading
// blanks, hexadecimal, "nan" and "inf".
bool parseRealNumber(const std::string& token, double& value)
{
    if (token.empty() || token.find_first_not_of("0123456789+-.eE") != std::string::npos)
        return false;
    char* end = nullptr;
    const double parsed = std::strtod(token.c_str(), &end);
    if (end != token.c_str() + token.size())
        return false;
    value = parsed;
    return true;
}

bool parseBoolean(const std::string& token, bool& value)
{
    static const std::pair<const char*, bool> words[] = {
        { "on", true },
        { "off", false },
        { "true", true },
        { "false", false },
        { "yes", true },
        { "no", false },
        { "1", true },
        { "0", false },
    };
    for (const auto& [word, meaning] : words) {
        if (token == word) {
            value = meaning;
            return true;
        }
    }
    return false;
}

bool isRealNumber(const std::string& token)
{
    double ignored = 0.0;
    return parseRealNumber(token, ignored);
}

bool isBoolean(const std::string& token)
{
    bool ignored = false;
    return parseBoolean(token, ignored);
}

// Empty when `token` is a valid argument of type `type` for the flag written as `flagName`.
std::string argumentError(const std::string& flagName, MSyntax::MArgType type, const std::string& token)
{
    const std::string given = ", not \"" + token + "\"";
    switch (type) {
    case MSyntax::kLong:
        return isWholeNumber(token) ? "" : "Flag " + flagName + " expects a whole number" + given;
    case MSyntax::kDouble:
        return isRealNumber(token) ? "" : "Flag " + flagName + " expects a number" + given;
    case MSyntax::kBoolean:
        return isBoolean(token) ? "" : "Flag " + flagName + " expects on or off" + given;
    default:
        return "";
    }
}

std::string missingArgumentError(const std::string& flagName, std::size_t argumentCount)
{
    if (argumentCount == 1)
        return "Flag " + flagName + " needs an argument";
    return "Flag " + flagName + " needs " + std::to_string(argumentCount) + " arguments";
}

std::string strayTokenError(const std::string& token)
{
    if (token.size() > 1 && token[0] == '-' && !isRealNumber(token))
        return "Invalid flag: " + token;
    return "Unexpected argument \"" + token + "\"";
}

bool wasGiven(const std::vector<ParsedFlag>& parsed, int flagIndex)
{
    for (const ParsedFlag& flag : parsed) {
        if (flag.flagIndex == flagIndex)
            return true;
    }
    return false;
}

// Reads every token into `parsed`; returns the error line for the first token
// that does not fit the syntax, or the empty string.
std::string parseTokens(
    const MSyntax& syntax, const std::vector<std::string>& tokens, std::vector<ParsedFlag>& parsed)
{
    std::size_t next = 0;
    while (next < tokens.size()) {
        const std::string& flagName = tokens[next++];
        const int flagIndex = syntax.findFlag(flagName);
        if (flagIndex < 0)
            return strayTokenError(flagName);
        if (wasGiven(parsed, flagIndex))
            return "Flag " + flagName + " given twice";

        const std::vector<MSyntax::MArgType>& types
            = syntax.flags()[static_cast<std::size_t>(flagIndex)].argumentTypes;
        if (tokens.size() - next < types.size())
            return missingArgumentError(flagName, types.size());
        ParsedFlag flag { flagIndex, {} };
        for (MSyntax::MArgType type : types) {
            std::string error = argumentError(flagName, type, tokens[next]);
            if (!error.empty())
                return error;
            flag.arguments.push_back(tokens[next++]);
        }
        parsed.push_back(std::move(flag));
    }
    return "";
}

std::vector<std::string> tokensOf(const MArgList& args)
{
    std::vector<std::string> tokens;
    for (unsigned int index = 0; index < args.length(); ++index)
        tokens.emplace_back(args.asString(index).asChar(), args.asString(index).length());
    return tokens;
}

}  // namespace

MArgParser::MArgParser(const MSyntax& syntax, const MArgList& args, MStatus* returnStatus)
    : syntax_(syntax)
{
    std::vector<ParsedFlag> parsed;
    const std::string error = parseTokens(syntax_, tokensOf(args), parsed);
    if (!error.empty()) {
        host::ScriptEditor::show(host::LineKind::Error, error);
        if (returnStatus != nullptr)
            *returnStatus = MStatus::kFailure;
        return;
    }
    for (ParsedFlag& flag : parsed)
        given_.push_back(GivenFlag { flag.flagIndex, std::move(flag.arguments) });
    if (returnStatus != nullptr)
        *returnStatus = MStatus::kSuccess;
}

bool MArgParser::isFlagSet(const char* flag, MStatus* returnStatus) const
{
    const bool declared = syntax_.findFlag(textOf(flag)) >= 0;
    if (returnStatus != nullptr)
        *returnStatus = declared ? MStatus::kSuccess : MStatus::kInvalidParameter;
    return findGiven(flag) != nullptr;
}

MStatus MArgParser::getFlagArgument(const char* flag, unsigned int index, MString& result) const
{
    const GivenFlag* given = findGiven(flag);
    if (given == nullptr || index >= given->arguments.size())
        return MStatus::kInvalidParameter;
    result = MString(given->arguments[index]);
    return MStatus::kSuccess;
}

MStatus MArgParser::getFlagArgument(const char* flag, unsigned int index, int& result) const
{
    double value = 0.0;
    MStatus status = readNumber(flag, index, value);
    if (!status)
        return status;
    const double whole = std::trunc(value);
    if (!std::isfinite(whole) || whole < std::numeric_limits<int>::min()
        || whole > std::numeric_limits<int>::max())
        return MStatus::kInvalidParameter;
    result = static_cast<int>(whole);
    return MStatus::kSuccess;
}

MStatus MArgParser::getFlagArgument(const char* flag, unsigned int index, unsigned int& result) const
{
    double value = 0.0;
    MStatus status = readNumber(flag, index, value);
    if (!status)
        return status;
    // Any negative value is refused, even one that would truncate to 0.
    if (!std::isfinite(value) || value < 0.0 || std::trunc(value) > std::numeric_limits<unsigned int>::max())
        return MStatus::kInvalidParameter;
    result = static_cast<unsigned int>(std::trunc(value));
    return MStatus::kSuccess;
}

MStatus MArgParser::getFlagArgument(const char* flag, unsigned int index, double& result) const
{
    double value = 0.0;
    MStatus status = readNumber(flag, index, value);
    if (!status)
        return status;
    if (!std::isfinite(value))
        return MStatus::kInvalidParameter;
    result = value;
    return MStatus::kSuccess;
}

MStatus MArgParser::getFlagArgument(const char* flag, unsigned int index, bool& result) const
{
    const GivenFlag* given = findGiven(flag);
    if (given == nullptr || index >= given->arguments.size())
        return MStatus::kInvalidParameter;
    if (!parseBoolean(given->arguments[index], result))
        return MStatus::kInvalidParameter;
    return MStatus::kSuccess;
}

const MArgParser::GivenFlag* MArgParser::findGiven(const char* flag) const
{
    const int flagIndex = syntax_.findFlag(textOf(flag));
    if (flagIndex < 0)
        return nullptr;
    for (const GivenFlag& given : given_) {
        if (given.flagIndex == flagIndex)
            return &given;
    }
    return nullptr;
}

MStatus MArgParser::readNumber(const char* flag, unsigned int index, double& result) const
{
    const GivenFlag* given = findGiven(flag);
    if (given == nullptr || index >= given->arguments.size())
        return MStatus::kInvalidParameter;
    if (!parseRealNumber(given->arguments[index], result))
        return MStatus::kInvalidParameter;
    return MStatus::kSuccess;
}
