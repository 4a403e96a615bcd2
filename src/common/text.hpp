#pragma once
// Python text as the UTF-8 bytes statements, keys and messages are made of. A text without a
// UTF-8 form (a lone surrogate such as "\ud800") raises the interpreter's own UnicodeEncodeError,
// which names the character and its position, rather than a bare cast error.
#include <pybind11/pybind11.h>

#include <string>

namespace norvane {
namespace py = pybind11;

// The characters of a str (a subclass's own characters, whatever its __str__ says). Any other
// value is a TypeError naming its type.
inline std::string utf8(py::handle text) {
    if (!PyUnicode_Check(text.ptr())) {
        PyErr_Format(PyExc_TypeError, "expected text, not %s", Py_TYPE(text.ptr())->tp_name);
        throw py::error_already_set();
    }
    Py_ssize_t size = 0;
    const char* bytes = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (bytes == nullptr) throw py::error_already_set();
    return std::string(bytes, static_cast<std::size_t>(size));
}

// str() of any value, as UTF-8.
inline std::string str_of(py::handle value) { return utf8(py::str(value)); }

// The value's attribute, or None when getting it raises an ordinary error (Exception: the
// attribute is missing, or the value's own property failed); an interrupt (KeyboardInterrupt,
// SystemExit) reaches the caller. py::getattr with a default and py::hasattr clear every error.
inline py::object attribute_or_none(py::handle value, const char* name) {
    PyObject* found = PyObject_GetAttrString(value.ptr(), name);
    if (found != nullptr) return py::reinterpret_steal<py::object>(found);
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw py::error_already_set();
    PyErr_Clear();
    return py::none();
}

}  // namespace norvane
