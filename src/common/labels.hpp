#pragma once
// Column labels as the table library takes them: a list of texts.
#include <pybind11/pybind11.h>

#include <initializer_list>

namespace norvane {
namespace py = pybind11;

inline py::list labels(std::initializer_list<const char*> names) {
    py::list list;
    for (const char* name : names) list.append(py::str(name));
    return list;
}

}  // namespace norvane
