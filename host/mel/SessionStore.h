#pragma once

#include <memory>
#include <typeindex>
#include <unordered_map>

namespace mel {

/// What libraries keep between calls for the rest of a session (open files, a
/// random generator), one object of each type, made on first use and dropped
/// with the interpreter, so that the language needs to know none of them.
class SessionStore {
public:
    template <typename Data> Data& get()
    {
        std::shared_ptr<void>& slot = slots_[std::type_index(typeid(Data))];
        if (!slot)
            slot = std::make_shared<Data>();
        return *static_cast<Data*>(slot.get());
    }

private:
    std::unordered_map<std::type_index, std::shared_ptr<void>> slots_;
};

}  // namespace mel
