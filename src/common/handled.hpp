#pragma once
// The outer error handlers. A method opens one around its main steps; an ordinary error raised
// inside (Python's Exception and its subclasses) then comes back as a result record instead of
// being raised. KeyboardInterrupt, SystemExit and the like pass through, and so does anything
// raised before the handler opens (a method's own argument checks).
#include <pybind11/pybind11.h>

#include <exception>
#include <string>

namespace norvane {
namespace py = pybind11;

// The Python exception object an error caught in C++ stands for (a C++ error as the exception
// pybind11 raises for it). Errors that are not ordinary exceptions are thrown on.
py::object caught_exception(std::exception_ptr error);

// The text a caught error is reported with: the interpreter's repr of the exception, with any
// password of the deployment masked.
std::string error_text(py::handle exception);

// {"code": 1, "msg": the error's text}, or the error thrown on (see caught_exception).
py::dict failure_record(std::exception_ptr error);

// {"code": 2, "msg": the error's text + "line_no: " + step}, or the error thrown on.
py::dict failure_record_at(std::exception_ptr error, int step);

// Runs `steps`, a method's main steps; an ordinary error they raise comes back as
// failure_record.
template <class Steps>
py::object handled(Steps&& steps) {
    try {
        return steps();
    } catch (...) {
        return failure_record(std::current_exception());
    }
}

// Runs `steps` with `step` naming where they are (an enum numbered for the error text, which
// `steps` moves on); an ordinary error they raise comes back as failure_record_at that step.
template <class Step, class Steps>
py::object handled_at(const Step& step, Steps&& steps) {
    try {
        return steps();
    } catch (...) {
        return failure_record_at(std::current_exception(), static_cast<int>(step));
    }
}

}  // namespace norvane
