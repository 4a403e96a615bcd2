#pragma once
// The outer error handlers: a method's main steps run inside one of these, and an ordinary error
// (Python's Exception and its subclasses) comes back as a result record instead of being raised.
// KeyboardInterrupt, SystemExit and the like pass through untouched.
#include <pybind11/pybind11.h>

#include <exception>
#include <string>
#include <utility>

namespace norvane {
namespace py = pybind11;

// Sets Python's error indicator to the error thrown in C++ (a Python error as it is, a C++ error
// as the exception pybind11 would raise for it).
void set_python_error(std::exception_ptr error);

// The Python exception object an error caught in C++ stands for. Errors that are not ordinary
// exceptions are thrown on.
py::object caught_exception(std::exception_ptr error);

// The text a caught error is reported with: the interpreter's repr of the exception, with any
// password of the deployment masked.
std::string error_text(py::handle exception);

// Runs `body`; an ordinary error is handed to `on_error` as the exception object, and its answer
// is returned instead.
template <class Body, class OnError>
py::object catching(Body&& body, OnError&& on_error) {
    std::exception_ptr error;
    try {
        py::object result = body();
        return result;
    } catch (...) {
        error = std::current_exception();
    }
    return on_error(caught_exception(error));
}

// General form: {"code": 1, "msg": repr of the error}.
py::dict caught_record(py::handle exception);

template <class Body>
py::object handled(Body&& body) {
    return catching(std::forward<Body>(body), caught_record);
}

// The numbered step a history reader is in, for its error text. The order, deal and position
// readers number theirs: 1 the account's kind, 2 the statement, 3 the query, 4 the row count,
// 5 the row dicts.
struct Step {
    int number = 0;
    Step& operator=(int next) {
        number = next;
        return *this;
    }
};

// History readers' form: {"code": 2, "msg": repr of the error + "line_no: " + the step}. `body`
// receives the Step it numbers.
py::dict caught_record_in_step(py::handle exception, const Step& step);

template <class Body>
py::object handled_in_steps(Body&& body) {
    Step step;
    return catching([&] { return body(step); },
                    [&](py::handle exception) { return caught_record_in_step(exception, step); });
}

}  // namespace norvane
