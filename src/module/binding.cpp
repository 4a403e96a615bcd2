#include "module/binding.hpp"

#include "common/text.hpp"

#include <deque>
#include <type_traits>

namespace norvane::binding {

namespace {

[[noreturn]] void type_error(const std::string& message) {
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw py::error_already_set();
}

// "'a'", "'a' and 'b'", "'a', 'b' and 'c'": how the interpreter lists missing arguments.
std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += (i + 1 == names.size()) ? " and " : ", ";
        text += "'" + names[i] + "'";
    }
    return text;
}

std::string positional_count_error(const Signature& signature, std::size_t given) {
    std::size_t most = signature.parameters.size() + (signature.takes_self ? 1 : 0);
    std::size_t least = signature.takes_self ? 1 : 0;
    for (const auto& p : signature.parameters) {
        if (!p.default_value) ++least;
    }
    std::string takes = least == most ? std::to_string(most)
                                      : "from " + std::to_string(least) + " to " + std::to_string(most);
    return signature.method + "() takes " + takes + " positional argument" + (most == 1 ? "" : "s") +
           " but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
}

// ascii() of a value: its repr with every non-ASCII character escaped.
std::string ascii_repr(const py::object& value) {
    PyObject* text = PyObject_ASCII(value.ptr());
    if (text == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(text).cast<std::string>();
}

}  // namespace

py::object Default::make() const {
    return std::visit(
        [](const auto& value) -> py::object {
            using Value = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, NoneDefault>) {
                return py::none();
            } else if constexpr (std::is_same_v<Value, bool>) {
                return py::bool_(value);
            } else if constexpr (std::is_same_v<Value, int>) {
                return py::int_(value);
            } else {
                return py::str(value);
            }
        },
        value_);
}

std::vector<py::object> bind_arguments(const Signature& signature, PyObject* const* args,
                                       Py_ssize_t nargs, PyObject* kwnames) {
    const std::size_t offset = signature.takes_self ? 1 : 0;
    const std::size_t slots = signature.parameters.size() + offset;
    const auto given = static_cast<std::size_t>(nargs);
    if (given > slots) type_error(positional_count_error(signature, given));

    std::vector<py::object> bound(slots);
    for (std::size_t i = 0; i < given; ++i) bound[i] = py::reinterpret_borrow<py::object>(args[i]);

    const Py_ssize_t keywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        std::size_t slot = slots;
        for (std::size_t i = 0; i < signature.parameters.size(); ++i) {
            if (PyUnicode_CompareWithASCIIString(keyword, signature.parameters[i].name) == 0) {
                slot = i + offset;
            }
        }
        if (slot == slots) {
            // The keyword as an object: a name without a UTF-8 form is still shown, as CPython does.
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                         signature.method.c_str(), keyword);
            throw py::error_already_set();
        }
        if (bound[slot]) {
            type_error(signature.method + "() got multiple values for argument '" + signature.parameters[slot - offset].name + "'");
        }
        bound[slot] = py::reinterpret_borrow<py::object>(args[given + static_cast<std::size_t>(k)]);
    }

    std::vector<std::string> missing;
    if (signature.takes_self && !bound[0]) missing.emplace_back("self");
    for (std::size_t i = 0; i < signature.parameters.size(); ++i) {
        py::object& slot = bound[i + offset];
        if (slot) continue;
        const Parameter& parameter = signature.parameters[i];
        if (parameter.default_value) {
            slot = parameter.default_value->make();
        } else {
            missing.emplace_back(parameter.name);
        }
    }
    if (!missing.empty()) {
        type_error(signature.method + "() missing " + std::to_string(missing.size()) +
                   " required positional argument" + (missing.size() == 1 ? "" : "s") + ": " +
                   listed(missing));
    }
    return bound;
}

std::string docstring(const Signature& signature, const char* summary) {
    std::string text = signature.method + "(";
    bool first = true;
    auto separate = [&] {
        if (!first) text += ", ";
        first = false;
    };
    if (signature.takes_self) {
        separate();
        text += "$self, /";
    }
    for (const auto& parameter : signature.parameters) {
        separate();
        text += parameter.name;
        // ascii(): inspect reads text signatures as ASCII only; escapes keep non-ASCII defaults.
        if (parameter.default_value) text += "=" + ascii_repr(parameter.default_value->make());
    }
    return text + ")\n--\n\n" + summary;
}

namespace {

// What the interpreter reads of a builtin function for as long as the function lives, which may
// be until the very end of the process. It holds no Python object, so plain static storage suits
// it: its destructor, run after the interpreter has finalised, frees only C++ memory.
struct Definition {
    std::string name;
    std::string doc;
    PyMethodDef method{};
};

Definition& new_definition() {
    static std::deque<Definition> definitions;  // a deque never moves what it holds
    return definitions.emplace_back();
}

}  // namespace

py::object make_function(const Signature& signature, const char* summary,
                         PyObject* (*call)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)) {
    Definition& definition = new_definition();
    definition.name = signature.method;
    definition.doc = docstring(signature, summary);
    definition.method = PyMethodDef{definition.name.c_str(),
                                    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(call)),
                                    METH_FASTCALL | METH_KEYWORDS, definition.doc.c_str()};
    py::str module_name("Norvane");
    PyObject* function = PyCFunction_NewEx(&definition.method, nullptr, module_name.ptr());
    if (function == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(function);
}

py::object MethodTable::wrap_instance_method(const py::object& function) {
    PyObject* method = PyInstanceMethod_New(function.ptr());
    if (method == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(method);
}

py::object MethodTable::wrap_static_method(const py::object& function) {
    PyObject* method = PyStaticMethod_New(function.ptr());
    if (method == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(method);
}

}  // namespace norvane::binding
