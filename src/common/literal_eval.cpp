#include "common/literal_eval.hpp"

#include "common/outside.hpp"

namespace norvane {

py::object literal_value(py::handle text) {
    if (!PyUnicode_Check(text.ptr())) {
        PyErr_Format(PyExc_TypeError, "stored text must be str, not %s", Py_TYPE(text.ptr())->tp_name);
        throw py::error_already_set();
    }
    // The interpreter's literal reader (ast.literal_eval, bound at load as `_literal_eval`): it
    // parses the text and accepts only literal nodes.
    return outside::literal_eval()(text);
}

}  // namespace norvane
