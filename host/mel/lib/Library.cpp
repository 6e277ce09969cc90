#include "Library.h"

#include "Support.h"

#include <mel/Interpreter.h>

namespace mel {

std::vector<Builtin> standardLibrary()
{
    std::vector<Builtin> all;
    for (auto family : { languageBuiltins, stringBuiltins, arrayBuiltins, mathBuiltins, vectorBuiltins,
             fileBuiltins, systemBuiltins })
        for (Builtin& builtin : family())
            all.push_back(std::move(builtin));
    return all;
}

void openStandardLibrary(Interpreter& interpreter)
{
    for (Builtin& builtin : standardLibrary())
        interpreter.addBuiltin(std::move(builtin));
}

}  // namespace mel
