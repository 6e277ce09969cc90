#pragma once

#include "Arguments.h"

#include <host/CommandResult.h>
#include <mel/Value.h>

#include <pybind11/pybind11.h>

#include <string>

namespace pymaya {

namespace py = pybind11;

/// A Python argument or flag value as the binding holds it until the call
/// runs: bool, int, float, str (or a path), or a tuple or list of them, a list
/// holding tuples or lists in turn. Anything else raises TypeError naming
/// `subject` ("queryFunction: flag 'f'").
Given readGiven(py::handle object, const std::string& subject);

/// Python text as MEL holds it: UTF-8, with the bytes that are no UTF-8
/// (escaped as surrogates, as the os module reads file names) given back.
std::string bytesOf(py::handle text);
/// MEL's bytes as Python text, the reverse of bytesOf.
py::str textOf(const std::string& bytes);

/// A command's result as Python gets it: None, int, float, bool, str, or a list
/// of int or str. An array of ints is given back to the system as the list is
/// built, so that the two are never both whole in memory.
py::object toPython(host::CommandResult&& result);
/// A MEL value as Python gets it: int, float, str, a vector as a list of three
/// floats, an array as a list.
py::object toPython(mel::Value&& value);

}  // namespace pymaya
