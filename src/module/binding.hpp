#pragma once
// Compiled methods of a plain Python class. Each method is a builtin function taking its arguments
// the way a Python function does (by position or by name, with defaults, the interpreter's own
// TypeErrors for a missing, unknown or surplus argument), wrapped so that it binds to instances
// (instance methods) or not at all (static methods). Its docstring carries the signature, so
// help() and inspect.signature() show the arguments and defaults.
//
// Why not pybind11's own cpp_function with py::arg: the class must be a plain Python class (a
// normal __dict__, bases (object,)), whose functions scripts may rebind, so pybind11's class_ is
// out; and pybind11's functions answer a wrong call with its own "incompatible function arguments"
// text and show "(*args, **kwargs)"-like signatures, where scripts and Norvane.pyi (tests/test_stub)
// expect the interpreter's TypeError texts and the real parameter names and defaults. Binding the
// arguments here is about 150 lines; everything else (casts, errors, objects) is pybind11.
#include <pybind11/pybind11.h>

#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "common/guard.hpp"
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

// A method body's parameters: a Step& when it checks arguments outside its handler
// (common/handled.hpp), then its Python arguments as py::object (self first for instance methods).
template <class F>
struct Body;
template <class... A>
struct Body<py::object (*)(A...)> {
    template <std::size_t N>
    using parameter = std::tuple_element_t<N, std::tuple<A..., void, void>>;
    static constexpr std::size_t arity = sizeof...(A);
};

// One compiled method with the guard and error handler its table entry declares: the guard runs
// before the body; the body runs inside the declared handler, from its first step or, for a body
// that takes a Step, from the step where it sets 1.
template <auto Impl, Guard guarded, Errors errors>
struct Method {
    using Shape = Body<decltype(Impl)>;
    static constexpr bool stepped = std::is_same_v<typename Shape::template parameter<0>, Step&>;
    static constexpr std::size_t python_arity = Shape::arity - stepped;
    static_assert(!stepped || errors == Errors::record || errors == Errors::record_in_step,
                  "a Step marks where the body enters its handler, so the entry must declare one");

    // Plain C++ data only (names and default values): see Default.
    static inline Signature signature;

    template <std::size_t... I>
    static py::object invoke(Step& step, const std::vector<py::object>& arguments, std::index_sequence<I...>) {
        if constexpr (stepped) return Impl(step, arguments[I]...);
        else return Impl(arguments[I]...);
    }

    static py::object run(const std::vector<py::object>& arguments) {
        if constexpr (guarded != Guard::none) {
            if (auto refused = guard(arguments[0])) return *refused;
        }
        Step step;
        if constexpr (!stepped) step = 1;
        auto body = [&] { return invoke(step, arguments, std::make_index_sequence<python_arity>{}); };
        if constexpr (errors == Errors::raised) {
            return body();
        } else {
            std::exception_ptr error;
            try {
                return body();
            } catch (...) {
                error = std::current_exception();
            }
            return handler_answer(errors, error, step);
        }
    }

    static PyObject* call(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        try {
            return run(bind_arguments(signature, args, nargs, kwnames)).release().ptr();
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

    template <auto Impl, Guard guarded, Errors errors>
    void instance(const char* name, std::vector<Parameter> parameters, const char* summary) {
        add<Method<Impl, guarded, errors>>(name, true, std::move(parameters), summary);
    }

    // Static methods have no object to guard.
    template <auto Impl, Guard guarded, Errors errors>
    void static_method(const char* name, std::vector<Parameter> parameters, const char* summary) {
        static_assert(guarded == Guard::none, "a static method has no object to guard");
        add<Method<Impl, guarded, errors>>(name, false, std::move(parameters), summary);
    }

private:
    template <class Compiled>
    void add(const char* name, bool takes_self, std::vector<Parameter> parameters,
             const char* summary) {
        Signature& signature = Compiled::signature;
        signature = Signature{name, takes_self, std::move(parameters)};
        py::object function = make_function(signature, summary, &Compiled::call);
        class_dict_[name] = takes_self ? wrap_instance_method(function) : wrap_static_method(function);
    }

    static py::object wrap_instance_method(const py::object& function);
    static py::object wrap_static_method(const py::object& function);

    py::dict& class_dict_;
};

}  // namespace norvane::binding
