#include "common/namespace.hpp"

namespace norvane {

namespace {
// Owned reference to the module dict, kept for the life of the process (never released, so no
// destructor runs after the interpreter has shut down).
PyObject* module_dict = nullptr;
}  // namespace

void bind_namespace(const py::module_& module) {
    PyObject* dict = PyModule_GetDict(module.ptr());
    Py_XINCREF(dict);
    module_dict = dict;
}

py::object module_value(const char* name) {
    PyObject* value = module_dict ? PyDict_GetItemString(module_dict, name) : nullptr;
    if (value == nullptr) {
        PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
        throw py::error_already_set();
    }
    return py::reinterpret_borrow<py::object>(value);
}

}  // namespace norvane
