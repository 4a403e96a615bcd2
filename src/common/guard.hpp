#pragma once
// The initialisation guard: an account object is usable only while `login` + `connect_tag` is 0.
#include <pybind11/pybind11.h>

#include <optional>

namespace norvane {
namespace py = pybind11;

// The refusal record when the object is not usable, nothing otherwise. Reads both flags afresh,
// so a script that sets either of them is heard at once.
std::optional<py::dict> guard(py::handle self);

}  // namespace norvane
