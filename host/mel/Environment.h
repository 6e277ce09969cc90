#pragma once

#include "Syntax.h"
#include "Value.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace mel {

/// Where a script's variables live: the globals, and a stack of frames, one
/// for each top-level statement, procedure call, `eval` or `source` running,
/// each a stack of block scopes. Only the innermost frame is in reach: a
/// top-level frame reaches every global, a procedure's frame only those it
/// declared global.
class Environment {
public:
    using Scope = std::unordered_map<std::string, Value>;

    /// Opens a block scope in the innermost frame for its lifetime.
    class BlockScope {
    public:
        explicit BlockScope(Environment& environment);
        BlockScope(const BlockScope&) = delete;
        BlockScope& operator=(const BlockScope&) = delete;
        ~BlockScope();

    private:
        Environment& environment_;
        // By index: a procedure called inside the scope may grow the frames.
        std::size_t frame_;
    };

    Environment() { renew(); }

    /// Opens a frame at the top level, as a statement, `eval` and `source` run in.
    void enterTopLevel();
    /// Opens a procedure's frame, its outermost scope holding `parameters`.
    void enterProcedure(Scope parameters);
    /// Closes the innermost frame.
    void leave();
    /// Closes every frame; the globals stay.
    void leaveAll()
    {
        renew();
        frames_.clear();
    }

    /// The innermost procedure frame's parameters.
    Scope& parameters()
    {
        renew();
        return frames_.back().scopes.front();
    }

    /// The variable `$name` in reach, or null.
    Value* find(const std::string& name);
    /// The same, through `slot`, which this fills: found again without the
    /// name while nothing was declared and no scope or frame holding a
    /// variable closed or opened since.
    Value* find(const std::string& name, VariableSlot& slot)
    {
        if (slot.generation == generation_)
            return slot.value;
        Value* found = find(name);
        if (found != nullptr)
            slot = VariableSlot { generation_, found };
        return found;
    }
    /// Whether `$name` is declared in the innermost scope (at the top level, as a global).
    bool declaredInScope(const std::string& name) const;
    /// Declares `$name` in the innermost scope, or as a global, holding `value`,
    /// and gives the variable. A global declared again keeps its value when
    /// its type stays (a matrix: and its size, or it is declared without one).
    Value& declare(const std::string& name, Value value, bool global);

private:
    struct Frame {
        std::vector<Scope> scopes;
        std::unordered_set<std::string> globals;  ///< Declared global inside a procedure.
        bool topLevel = false;
    };

    // Every change that may move or hide a variable takes a new generation,
    // unique in the process, so that no slot filled before, by this or another
    // environment, matches.
    void renew();

    Scope globals_;
    std::vector<Frame> frames_;
    std::uint64_t generation_ = 0;
};

}  // namespace mel
