#pragma once
// Puts compiled methods on a plain Python class with pybind11's own functions: each method is a
// pybind11 function with its parameters and defaults (py::arg), bound to instances through
// py::is_method, or a static method. Two things are added to what pybind11 does by itself:
// - The docstring opens with the signature in the form inspect reads ("name(self, /, a, b='x')"
//   and "--"), so help(), inspect.signature() and the stub check see the real parameters.
// - A call that matches no parameter list meets a Python function of the same signature, so the
//   caller gets the interpreter's own TypeError ("fun_read_order() got an unexpected keyword
//   argument 'x'") where pybind11 would answer "incompatible function arguments".
#include <pybind11/pybind11.h>

#include <string>
#include <utility>
#include <vector>

namespace norvane {
namespace py = pybind11;

class MethodTable {
public:
    explicit MethodTable(py::object account_class) : class_(std::move(account_class)) {}

    template <class Body, class... Parameters>
    void instance(const char* name, Body body, const char* summary, Parameters... parameters) {
        const Signature signature{name, true, {parameter_text(parameters)...}};
        const std::string function_name = pybind11_name(name);
        // `self` is positional only, as the signature shows it.
        class_.attr(name) = py::cpp_function(body, py::name(function_name.c_str()), py::is_method(class_), py::pos_only(),
                                             parameters..., docstring(signature, summary).c_str());
        class_.attr(name) = with_argument_errors(signature, py::name(function_name.c_str()), py::is_method(class_),
                                                 py::sibling(py::getattr(class_, name)));
    }

    template <class Body, class... Parameters>
    void static_method(const char* name, Body body, const char* summary, Parameters... parameters) {
        const Signature signature{name, false, {parameter_text(parameters)...}};
        py::cpp_function function(body, py::name(name), py::scope(class_), parameters...,
                                  docstring(signature, summary).c_str());
        class_.attr(name) = py::staticmethod(
            with_argument_errors(signature, py::name(name), py::scope(class_), py::sibling(function)));
    }

private:
    struct Signature {
        std::string name;
        bool takes_self;                  // instance methods: `self` first, by position only
        std::vector<std::string> parameters;  // "a" or "b='x'"
    };

    // pybind11 takes a function named "__init__" for a constructor of its own classes; the
    // account class is a plain one, so its __init__ is named "<class>.__init__" (the docstring's
    // signature still reads "__init__(self, /, ...)").
    std::string pybind11_name(const char* name) const;

    static std::string parameter_text(const py::arg& parameter) { return parameter.name; }
    static std::string parameter_text(const py::arg_v& parameter);

    // "(self, /, a, b='x')"
    static std::string parameter_list(const Signature& signature);

    // "name(self, /, a, b='x')\n--\n\n" + summary
    static std::string docstring(const Signature& signature, const char* summary);

    // A Python function `def name(self, /, a, b='x'): pass`, which raises the interpreter's
    // TypeError for any call that does not fit the parameters.
    static py::object argument_check(const Signature& signature);

    // The method's second overload, taken only by calls the first one cannot bind: it raises the
    // interpreter's TypeError for the call. A call that fits the parameters can only have brought
    // None as `self` (pybind11 binds any other object): the interpreter's text for a method
    // called on a value it does not apply to names it.
    template <class... Extra>
    py::cpp_function with_argument_errors(const Signature& signature, Extra... extra) const {
        py::object check = argument_check(signature);
        const std::string wrong_self = "descriptor '" + signature.name + "' for '" + class_name() +
                                       "' objects doesn't apply to a 'NoneType' object";
        const std::string no_fit = signature.name + "(): the call fits no parameter list of the method";
        const bool takes_self = signature.takes_self;
        return py::cpp_function(
            [check, wrong_self, no_fit, takes_self](py::args arguments, py::kwargs keywords) -> py::object {
                check(*arguments, **keywords);
                if (takes_self && !arguments.empty() && arguments[0].is_none()) throw py::type_error(wrong_self);
                throw py::type_error(no_fit);
            },
            extra...);
    }

    std::string class_name() const;

    py::object class_;
};

}  // namespace norvane
