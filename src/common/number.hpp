#pragma once
// Python arithmetic on objects, with the interpreter's own rules (ints, floats, pandas columns).
#include <pybind11/pybind11.h>

namespace norvane {
namespace py = pybind11;

// a + b
inline py::object plus(py::handle a, py::handle b) {
    PyObject* sum = PyNumber_Add(a.ptr(), b.ptr());
    if (sum == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(sum);
}

}  // namespace norvane
