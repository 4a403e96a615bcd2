#pragma once
#include <pybind11/pybind11.h>

namespace norvane {
namespace py = pybind11;

// Puts the account object's methods on the class, in their order of definition.
void define_methods(py::object account_class);

}  // namespace norvane
