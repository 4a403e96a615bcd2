#pragma once
// Texts that outside writers keep in Redis (live positions, deals, warning entries) are literals
// of the interpreter. They are turned back into values by reading them as literals only, never
// by running them: a stored call, attribute access or name lookup is an error, not an action.
#include <pybind11/pybind11.h>

namespace norvane {
namespace py = pybind11;

// The value the literal text denotes (dicts, lists, tuples, sets, texts, bytes, numbers, truth
// values and None, nested). A text that is no literal raises ValueError or SyntaxError; anything
// that is no text at all (a missing key read as None) raises TypeError.
py::object literal_value(py::handle text);

}  // namespace norvane
