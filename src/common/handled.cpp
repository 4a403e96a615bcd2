#include "common/handled.hpp"

#include <pybind11/detail/exception_translation.h>

#include "common/passwords.hpp"
#include "common/record.hpp"
#include "common/text.hpp"

namespace norvane {

py::object caught_exception(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (...) {
        // pybind11's own translation, the one its functions apply: a Python error as it is,
        // std::invalid_argument as a ValueError, std::bad_alloc as a MemoryError, ...
        py::detail::try_translate_exceptions();
    }
    py::error_already_set caught;
    if (!caught.matches(PyExc_Exception)) throw caught;
    return caught.value();
}

std::string error_text(py::handle exception) { return passwords::masked(utf8(py::repr(exception))); }

py::dict failure_record(std::exception_ptr error) {
    return record::failed(py::str(error_text(caught_exception(error))));
}

py::dict failure_record_at(std::exception_ptr error, int step) {
    std::string text = error_text(caught_exception(error)) + "line_no: " + std::to_string(step);
    return record::of(2, py::str(text));
}

}  // namespace norvane
