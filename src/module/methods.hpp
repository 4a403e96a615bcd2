#pragma once
#include <pybind11/pybind11.h>

namespace norvane {
namespace py = pybind11;

// Puts the account object's methods into the class namespace, in their order of definition.
void define_methods(py::dict& class_dict);

}  // namespace norvane
