// How the interpreter calls a built-in: the row's argument count, checked once,
// and the one narrow context the built-in reads its arguments through.
#include "Builtins.h"

#include "Interpreter.h"
#include "Parser.h"
#include "ScriptFile.h"

#include <host/ScriptEditor.h>

#include <sys/stat.h>

#include <cstdlib>
#include <type_traits>
#include <utility>

namespace hostbatch {

namespace {

bool exists(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
}

template <typename Array> Array arrayAt(Call& call, std::size_t i, Type type)
{
    Value value = call.value(i);
    if (!isArray(typeOf(value)))
        call.fail(call.name() + " takes an array, not " + std::string(typeName(typeOf(value))));
    Value converted;
    convert(std::move(value), type, converted);
    return std::get<Array>(std::move(converted));
}

}  // namespace

std::size_t elementCount(const Value& value)
{
    return std::visit(
        [](const auto& held) -> std::size_t {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_arithmetic_v<Held> || std::is_same_v<Held, Vector3>)
                return 0;
            else
                return held.size();
        },
        value);
}

std::vector<std::string> stringsAt(Call& call, std::size_t i)
{
    return arrayAt<std::vector<std::string>>(call, i, Type::StringArray);
}

std::vector<int> intsAt(Call& call, std::size_t i)
{
    return arrayAt<std::vector<int>>(call, i, Type::IntArray);
}

namespace {

// Matches one pattern element at `p` against `c`; `next` is where the element ends.
bool elementMatches(std::string_view pattern, std::size_t p, char c, std::size_t& next)
{
    if (pattern[p] == '?') {
        next = p + 1;
        return true;
    }
    if (pattern[p] == '\\' && p + 1 < pattern.size()) {
        next = p + 2;
        return pattern[p + 1] == c;
    }
    if (pattern[p] != '[') {
        next = p + 1;
        return pattern[p] == c;
    }
    // A bracket set; one left open is a plain '['.
    std::size_t at = p + 1;
    const bool negated = at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
    if (negated)
        ++at;
    bool found = false;
    for (bool first = true; at < pattern.size() && (first || pattern[at] != ']'); first = false) {
        const char low = pattern[at];
        if (at + 2 < pattern.size() && pattern[at + 1] == '-' && pattern[at + 2] != ']') {
            found = found || (low <= c && c <= pattern[at + 2]);
            at += 3;
        } else {
            found = found || low == c;
            ++at;
        }
    }
    if (at >= pattern.size()) {
        next = p + 1;
        return c == '[';
    }
    next = at + 1;
    return found != negated;
}

}  // namespace

// Greedy with one way back, to just after the last `*`: each `*` only ever
// moves forward, so nothing is tried twice.
bool globMatch(std::string_view pattern, std::string_view text)
{
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starT = 0;
    while (t < text.size()) {
        std::size_t next = 0;
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starT = t;
        } else if (p < pattern.size() && elementMatches(pattern, p, text[t], next)) {
            p = next;
            ++t;
        } else if (starP != std::string_view::npos) {
            p = starP;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::vector<Builtin> standardBuiltins()
{
    std::vector<Builtin> all;
    for (auto family :
        { languageBuiltins, stringBuiltins, arrayBuiltins, mathBuiltins, fileBuiltins, systemBuiltins })
        for (Builtin& builtin : family())
            all.push_back(std::move(builtin));
    return all;
}

std::vector<std::string> scriptFolders()
{
    std::vector<std::string> folders;
    const char* path = std::getenv("MAYA_SCRIPT_PATH");
    std::string list = path != nullptr ? path : "";
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        if (end > start)
            folders.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

std::string findScript(const std::string& name)
{
    // `source name` may leave out the extension, as the host allows.
    std::vector<std::string> names { name };
    if (name.find('.', name.rfind('/') + 1) == std::string::npos)
        names.push_back(name + ".mel");
    for (const std::string& candidate : names)
        if (exists(candidate))
            return candidate;
    if (!name.empty() && name.front() != '/')
        for (const std::string& folder : scriptFolders())
            for (const std::string& candidate : names)
                if (exists(folder + "/" + candidate))
                    return folder + "/" + candidate;
    return name;
}

std::string autoLoadScript(const std::string& name)
{
    for (const std::string& folder : scriptFolders()) {
        const std::string candidate = folder + "/" + name + ".mel";
        if (exists(candidate))
            return candidate;
    }
    return std::string();
}

class Interpreter::BuiltinCall final : public Call {
public:
    BuiltinCall(Interpreter& interpreter, const Expr& call, CallResult& result)
        : interpreter_(interpreter)
        , call_(call)
        , result_(result)
    {
    }

    const std::string& name() const override { return call_.text; }
    int line() const override { return call_.line; }
    std::size_t count() const override { return call_.operands.size(); }

    Value value(std::size_t i) override { return interpreter_.eval(*call_.operands[i]); }

    const Value& valueOf(std::size_t i, Value& scratch) override
    {
        return interpreter_.valueOf(*call_.operands[i], scratch);
    }

    std::string text(std::size_t i) override
    {
        const Value value = this->value(i);
        if (!isArray(typeOf(value)))
            return toText(value);
        interpreter_.fail(call_.operands[i]->line,
            call_.text + " takes a string, not " + std::string(typeName(typeOf(value))));
    }

    // A word of command syntax is a string: `fclose 3` means the number 3.
    double number(std::size_t i) override
    {
        const Value value = this->value(i);
        if (typeOf(value) == Type::String)
            return leadingNumber(std::get<std::string>(value));
        return interpreter_.number(value, call_.operands[i]->line, call_.text.c_str());
    }

    void assign(std::size_t i, Value value) override
    {
        const Expr& target = *call_.operands[i];
        if (target.kind != Expr::Kind::Variable)
            interpreter_.fail(target.line, call_.text + " needs a variable");
        interpreter_.setVariable(target.text, std::move(value), target.line);
    }

    bool attempt(std::size_t i, bool quiet) override
    {
        // The lines from before belong to the statement and stay; a quiet attempt
        // drops only the error lines it shows itself.
        std::vector<host::EditorLine> before;
        if (quiet) {
            // Streamed lines go out now, so that none the attempt streams passes them.
            interpreter_.handOnLines();
            before = host::ScriptEditor::take();
        }
        bool succeeded = true;
        bool dropErrors = false;
        try {
            interpreter_.evalDiscarded(*call_.operands[i]);
        } catch (const Failure& failure) {
            if (!failure.catchable) {
                restore(before, false);
                throw;
            }
            succeeded = false;
            dropErrors = quiet;
        } catch (...) {
            restore(before, false);
            throw;
        }
        if (quiet)
            restore(before, dropErrors);
        return succeeded;
    }

    void give(Value value) override
    {
        if (typeOf(value) == Type::String)
            checkText(std::get<std::string>(value).size());
        else
            checkSize(elementCount(value));
        result_.hasValue = true;
        result_.value = std::move(value);
    }

    void checkSize(std::size_t size) override { interpreter_.checkSize(size, call_.line); }
    void checkText(std::size_t size) override { interpreter_.checkText(size, call_.line); }

    void runText(const std::string& text, const char* what, bool giveValue) override
    {
        CallResult result = interpreter_.runText(text, call_.line, what);
        if (giveValue)
            result_ = std::move(result);
    }

    void runFile(const std::string& path) override { interpreter_.runFile(path, call_.line); }

    NameKind lookup(const std::string& name) override { return interpreter_.lookup(name); }

    std::string procedureFile(const std::string& name) override
    {
        const auto found = interpreter_.procedureFiles_.find(name);
        return found == interpreter_.procedureFiles_.end() ? std::string() : found->second;
    }

    std::optional<Type> variableType(const std::string& name) override
    {
        const Value* variable = interpreter_.environment_.find(name);
        if (variable == nullptr)
            return std::nullopt;
        return typeOf(*variable);
    }

    BuiltinState& state() override { return interpreter_.builtinState_; }

private:
    void raise(const std::string* what, MStatus status) override
    {
        if (what != nullptr)
            interpreter_.fail(call_.line, *what);
        throw Failure { status, true };
    }

    // Shows again the lines taken before an attempt, then those it showed.
    static void restore(std::vector<host::EditorLine>& before, bool dropErrors)
    {
        std::vector<host::EditorLine> during = host::ScriptEditor::take();
        for (host::EditorLine& line : before)
            host::ScriptEditor::show(line.kind, std::move(line.text));
        for (host::EditorLine& line : during)
            if (!dropErrors || line.kind != host::LineKind::Error)
                host::ScriptEditor::show(line.kind, std::move(line.text));
    }

    Interpreter& interpreter_;
    const Expr& call_;
    CallResult& result_;
};

Interpreter::CallResult Interpreter::callBuiltin(const Builtin& builtin, const Expr& call)
{
    const std::size_t count = call.operands.size();
    const std::size_t fewest = std::size_t(builtin.fewest);
    const bool bounded = builtin.most != Builtin::kAnyCount;
    const std::size_t most = bounded ? std::size_t(builtin.most) : 0;
    if (count < fewest || (bounded && count > most)) {
        const std::string expected = !bounded ? "at least " + std::to_string(fewest)
            : fewest == most                  ? std::to_string(fewest)
                                              : std::to_string(fewest) + " to " + std::to_string(most);
        fail(call.line,
            call.text + " takes " + expected + " argument" + (bounded && most == 1 ? "" : "s") + ", not "
                + std::to_string(count));
    }
    CallResult result;
    BuiltinCall context(*this, call, result);
    builtin.run(context);
    return result;
}

// Sources the script named after a procedure not defined yet, as the host's
// auto-loading does; true when that defined it.
bool Interpreter::autoLoad(const std::string& name, int line)
{
    const std::string path = autoLoadScript(name);
    if (path.empty())
        return false;
    runFile(path, line);
    return procedures_.count(name) != 0;
}

void Interpreter::runFile(const std::string& path, int line)
{
    std::string text;
    std::string error;
    if (!readScriptFile(path, limits_.sourceSize, text, error))
        fail(line, error);
    struct Restore {
        std::string& sourcing;
        std::string previous;
        ~Restore() { sourcing = std::move(previous); }
    } restore { sourcing_, std::exchange(sourcing_, path) };
    runText(text, line, "source");
}

// Parses and runs `text` at the top level, as eval and source do; the value is
// that of its last statement when that statement called something.
Interpreter::CallResult Interpreter::runText(const std::string& text, int line, const char* what)
{
    // Checked whole first, as a script file is: a syntax error runs nothing.
    {
        StatementReader check(text);
        StmtPtr statement;
        StatementReader::Result next;
        while ((next = check.next(statement)) == StatementReader::Result::Statement)
            if (statement->kind == Stmt::Kind::Procedure)
                define(statement->procedure);
        if (next == StatementReader::Result::Error)
            fail(line, std::string(what) + ": " + check.error());
    }
    const DepthGuard depth(*this, line, true);
    environment_.enterTopLevel();
    struct FramePop {
        Environment& environment;
        ~FramePop() { environment.leave(); }
    } pop { environment_ };
    CallResult result;
    StatementReader reader(text);
    StmtPtr statement;
    while (reader.next(statement) == StatementReader::Result::Statement) {
        const Expr* call = statement->kind == Stmt::Kind::Expression ? statement->expression.get() : nullptr;
        if (call != nullptr && (call->kind == Expr::Kind::Call || call->kind == Expr::Kind::Command)) {
            tick(statement->line);
            result = invoke(*call);
            continue;
        }
        result = CallResult();
        const Flow flow = exec(*statement);
        if (flow != Flow::Normal)
            fail(statement->line,
                std::string(what) + ": break, continue or return outside a loop or procedure");
    }
    return result;
}

}  // namespace hostbatch
