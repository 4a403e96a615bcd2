#pragma once
// The few lines the account object prints (connection and login) go to Python's sys.stdout, as
// print() would write them; a dict appears in the interpreter's display of a dict.
#include <pybind11/pybind11.h>

namespace norvane {
namespace py = pybind11;

inline void say(py::handle value) { py::print(value); }

}  // namespace norvane
