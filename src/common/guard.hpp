#pragma once
// The checks a method meets before its own steps.
#include <pybind11/pybind11.h>

#include <optional>

namespace norvane {
namespace py = pybind11;

// The initialisation guard: an account object is usable only while `login` + `connect_tag` is 0.
// The refusal record when it is not, nothing otherwise. Reads both flags afresh, so a script that
// sets either of them is heard at once.
std::optional<py::dict> guard(py::handle self);

// Methods that read or write Redis ask the connection first: the ping record when it answers
// with a false value, nothing otherwise. A ping that raises reaches the method's handler.
std::optional<py::dict> ping_refused(py::handle redis);

}  // namespace norvane
