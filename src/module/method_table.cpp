#include "module/method_table.hpp"

#include <pybind11/eval.h>

#include "common/text.hpp"

namespace norvane {

std::string MethodTable::class_name() const { return str_of(class_.attr("__qualname__")); }

std::string MethodTable::pybind11_name(const char* name) const {
    std::string text = name;
    if (text != "__init__") return text;
    return str_of(class_.attr("__qualname__")) + "." + text;
}

// A default as ascii() writes it: inspect reads text signatures as ASCII only.
std::string MethodTable::parameter_text(const py::arg_v& parameter) {
    PyObject* text = PyObject_ASCII(parameter.value.ptr());
    if (text == nullptr) throw py::error_already_set();
    return std::string(parameter.name) + "=" + str_of(py::reinterpret_steal<py::str>(text));
}

std::string MethodTable::parameter_list(const Signature& signature) {
    std::string text = "(";
    if (signature.takes_self) text += signature.parameters.empty() ? "self, /" : "self, /, ";
    for (std::size_t i = 0; i < signature.parameters.size(); ++i) {
        if (i > 0) text += ", ";
        text += signature.parameters[i];
    }
    return text + ")";
}

std::string MethodTable::docstring(const Signature& signature, const char* summary) {
    return signature.name + parameter_list(signature) + "\n--\n\n" + summary;
}

py::object MethodTable::argument_check(const Signature& signature) {
    py::dict scope;
    py::exec(py::str("def " + signature.name + parameter_list(signature) + ": pass"), scope);
    py::object check = scope[signature.name.c_str()];
    // The interpreter names a function in its TypeErrors by its qualified name from 3.10 on.
    check.attr("__qualname__") = signature.name;
    return check;
}

}  // namespace norvane
