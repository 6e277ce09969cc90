#pragma once

#include <mel/Builtin.h>

#include <vector>

namespace mel {

class Interpreter;

/// Every built-in of MEL's library that needs nothing of the host but its
/// commands, family by family: the language, strings, arrays, math, vectors,
/// files and the system. A session opens these, then the plug-in family over
/// its loader (pluginBuiltins, Plugins.h); an embedding opens the same.
std::vector<Builtin> standardLibrary();

/// Adds every row of the standard library to `interpreter`.
void openStandardLibrary(Interpreter& interpreter);

/// The rows of each family, each family's functions in a file of its own.
std::vector<Builtin> languageBuiltins();
std::vector<Builtin> stringBuiltins();
std::vector<Builtin> arrayBuiltins();
std::vector<Builtin> mathBuiltins();
std::vector<Builtin> vectorBuiltins();
std::vector<Builtin> fileBuiltins();
std::vector<Builtin> systemBuiltins();

}  // namespace mel
