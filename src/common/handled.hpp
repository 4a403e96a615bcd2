#pragma once
// The outer error handlers. A method's table entry declares one (Errors); its main steps then run
// inside it, and an ordinary error (Python's Exception and its subclasses) comes back as a result
// record instead of being raised. KeyboardInterrupt, SystemExit and the like pass through.
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

// What becomes of an ordinary error raised by a method's main steps: declared for each method in
// its method table entry (module/methods.cpp) and applied there.
enum class Errors {
    raised,          // it reaches the caller as raised
    record,          // {"code": 1, "msg": repr of the error}
    record_in_step,  // {"code": 2, "msg": repr + "line_no: " + the step}: the history readers
};

// Where a method whose argument checks lie outside its handler is. While the number is 0 the
// method checks its arguments, and an error reaches the caller as raised; a method enters its
// main steps, inside the handler, by setting 1. The order, deal and position readers number their
// main steps for the error text: 1 the account's kind, 2 the statement, 3 the query, 4 the row
// count, 5 the row dicts.
struct Step {
    int number = 0;
    Step& operator=(int next) {
        number = next;
        return *this;
    }
};

// The answer to an error raised by a method body declared with `errors` (record or
// record_in_step) at `step`: the handler's record, or the error thrown on while the method was
// still checking its arguments or when it is not an ordinary error.
py::dict handler_answer(Errors errors, std::exception_ptr error, const Step& step);

}  // namespace norvane
