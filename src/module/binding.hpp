#pragma once
// Compiled methods of a plain Python class. Each method is a builtin function taking its arguments
// the way a Python function does (by position or by name, with defaults, the interpreter's own
// TypeErrors for a missing, unknown or surplus argument), wrapped so that it binds to instances
// (instance methods) or not at all (static methods). Its docstring carries the signature, so
// help() and inspect.signature() show the arguments and defaults.
#include <pybind11/pybind11.h>

#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "common/handled.hpp"

namespace norvane::binding {
namespace py = pybind11;

// None as a default value.
struct NoneDefault {};
inline constexpr NoneDefault none{};

// A default value, kept as a plain C++ value. The signatures live in static storage, which is
// destroyed after the interpreter has finalised, so they hold no Python object: each call that
// needs a default gets a fresh one (the defaults are immutable, so no caller can tell).
class Default {
public:
    Default(NoneDefault) {}                          // NOLINT: reads as the value it stands for
    Default(bool flag) : value_(flag) {}             // NOLINT
    Default(int number) : value_(number) {}          // NOLINT
    Default(const char* text) : value_(std::string(text)) {}  // NOLINT

    py::object make() const;

private:
    std::variant<NoneDefault, bool, int, std::string> value_;
};

struct Parameter {
    const char* name;
    std::optional<Default> default_value{};  // none: the argument is required

    Parameter(const char* name) : name(name) {}  // NOLINT: a bare name reads as a parameter
    Parameter(const char* name, Default default_value) : name(name), default_value(default_value) {}
};

struct Signature {
    std::string method;
    bool takes_self = false;  // instance methods: `self` first, by position only
    std::vector<Parameter> parameters;
};

// The arguments of one call, in parameter order (self first for instance methods), defaults
// filled in. Raises TypeError the way the interpreter does for Python functions.
std::vector<py::object> bind_arguments(const Signature& signature, PyObject* const* args,
                                       Py_ssize_t nargs, PyObject* kwnames);

// "name($self, /, a, b='x')\n--\n\n" + summary: the form from which inspect reads a signature.
std::string docstring(const Signature& signature, const char* summary);

template <class F>
struct Arity;
template <class... A>
struct Arity<py::object (*)(A...)> {
    static constexpr std::size_t value = sizeof...(A);
};

// One compiled method: `Impl` takes py::object arguments (self first for instance methods).
template <auto Impl>
struct Method {
    // Plain C++ data only (names and default values): see Default.
    static inline Signature signature;

    template <std::size_t... I>
    static py::object invoke(const std::vector<py::object>& arguments, std::index_sequence<I...>) {
        return Impl(arguments[I]...);
    }

    static PyObject* call(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        try {
            std::vector<py::object> arguments = bind_arguments(signature, args, nargs, kwnames);
            constexpr std::size_t arity = Arity<decltype(Impl)>::value;
            return invoke(arguments, std::make_index_sequence<arity>{}).release().ptr();
        } catch (...) {
            set_python_error(std::current_exception());
            return nullptr;
        }
    }
};

// The builtin function object for a method.
py::object make_function(const Signature& signature, const char* summary,
                         PyObject* (*call)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*));

// Fills a class namespace with methods, in the order they are added.
class MethodTable {
public:
    explicit MethodTable(py::dict& class_dict) : class_dict_(class_dict) {}

    template <auto Impl>
    void instance(const char* name, std::vector<Parameter> parameters, const char* summary) {
        add<Impl>(name, true, std::move(parameters), summary);
    }

    template <auto Impl>
    void static_method(const char* name, std::vector<Parameter> parameters, const char* summary) {
        add<Impl>(name, false, std::move(parameters), summary);
    }

private:
    template <auto Impl>
    void add(const char* name, bool takes_self, std::vector<Parameter> parameters,
             const char* summary) {
        Signature& signature = Method<Impl>::signature;
        signature = Signature{name, takes_self, std::move(parameters)};
        py::object function = make_function(signature, summary, &Method<Impl>::call);
        class_dict_[name] = takes_self ? wrap_instance_method(function) : wrap_static_method(function);
    }

    static py::object wrap_instance_method(const py::object& function);
    static py::object wrap_static_method(const py::object& function);

    py::dict& class_dict_;
};

}  // namespace norvane::binding
