#include "Environment.h"

#include <atomic>
#include <type_traits>
#include <utility>

namespace mel {

// A block scope opened may move the scopes of its frame: their variables must
// stay where slots found them.
static_assert(std::is_nothrow_move_constructible_v<Environment::Scope>);

namespace {

std::atomic<std::uint64_t> lastGeneration { 0 };

// Whether a global declared again as `value` keeps what it holds: a matrix
// declared with another size is a new one; one declared without a size
// (`global matrix $g;`) is the one there.
bool sameSize(const Value& held, const Value& value)
{
    if (value.type() != Type::Matrix)
        return true;
    const Matrix& declared = std::get<Matrix>(value);
    const Matrix& kept = std::get<Matrix>(held);
    return declared.rows == 0 || (declared.rows == kept.rows && declared.columns == kept.columns);
}

}  // namespace

void Environment::renew()
{
    generation_ = ++lastGeneration;
}

Environment::BlockScope::BlockScope(Environment& environment)
    : environment_(environment)
    , frame_(environment.frames_.size() - 1)
{
    environment_.frames_[frame_].scopes.emplace_back();
}

Environment::BlockScope::~BlockScope()
{
    std::vector<Scope>& scopes = environment_.frames_[frame_].scopes;
    if (!scopes.back().empty())
        environment_.renew();
    scopes.pop_back();
}

void Environment::enterTopLevel()
{
    renew();
    frames_.push_back(Frame { {}, {}, true });
}

void Environment::enterProcedure(Scope parameters)
{
    Frame frame;
    frame.scopes.push_back(std::move(parameters));
    renew();
    frames_.push_back(std::move(frame));
}

void Environment::leave()
{
    renew();
    frames_.pop_back();
}

Value* Environment::find(const std::string& name)
{
    Frame& frame = frames_.back();
    for (auto scope = frame.scopes.rbegin(); scope != frame.scopes.rend(); ++scope) {
        // Most block scopes hold nothing: skipping them saves hashing the name.
        if (scope->empty())
            continue;
        const auto found = scope->find(name);
        if (found != scope->end())
            return &found->second;
    }
    if (frame.topLevel || frame.globals.count(name) != 0) {
        const auto found = globals_.find(name);
        if (found != globals_.end())
            return &found->second;
    }
    return nullptr;
}

bool Environment::declaredInScope(const std::string& name) const
{
    const Frame& frame = frames_.back();
    return (frame.scopes.empty() ? globals_ : frame.scopes.back()).count(name) != 0;
}

Value& Environment::declare(const std::string& name, Value value, bool global)
{
    renew();
    Frame& frame = frames_.back();
    if (global) {
        if (!frame.topLevel)
            frame.globals.insert(name);
        const auto found = globals_.find(name);
        if (found != globals_.end() && found->second.type() == value.type() && sameSize(found->second, value))
            return found->second;
        return globals_[name] = std::move(value);
    }
    Scope& scope = frame.scopes.empty() ? globals_ : frame.scopes.back();
    return scope[name] = std::move(value);
}

}  // namespace mel
