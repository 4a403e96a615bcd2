#pragma once
// The initialisation guard: an account object is usable only while `login` + `connect_tag` is 0.
#include <pybind11/pybind11.h>

#include <optional>

namespace norvane {
namespace py = pybind11;

// How a method meets the guard: declared in its method table entry (module/methods.cpp) and
// applied there, before the method's body runs.
enum class Guard {
    none,   // not guarded (or guarded in its body: the signal upload reads the clock first)
    first,  // the guard is the method's first step
};

// The refusal record when the object is not usable, nothing otherwise. Reads both flags afresh,
// so a script that sets either of them is heard at once.
std::optional<py::dict> guard(py::handle self);

}  // namespace norvane
