#pragma once
// Python truth values of objects (a handle's own bool only says whether it holds an object).
#include <pybind11/pybind11.h>

namespace norvane {
namespace py = pybind11;

inline bool truthy(py::handle value) {
    int truth = PyObject_IsTrue(value.ptr());
    if (truth < 0) throw py::error_already_set();
    return truth != 0;
}

}  // namespace norvane
