#include "common/handled.hpp"
#include "common/text.hpp"

#include <new>
#include <string>

#include "account/endpoints.hpp"
#include "common/record.hpp"

namespace norvane {

void set_python_error(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (py::builtin_exception& e) {
        e.set_error();
    } catch (std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unknown C++ error");
    }
}

py::object caught_exception(std::exception_ptr error) {
    set_python_error(error);
    py::error_already_set caught;
    if (!caught.matches(PyExc_Exception)) throw caught;
    return caught.value();
}

std::string error_text(py::handle exception) {
    return endpoints::without_passwords(utf8(py::repr(exception)));
}

py::dict handler_answer(Errors errors, std::exception_ptr error, const Step& step) {
    if (step.number == 0) std::rethrow_exception(error);
    py::object exception = caught_exception(error);
    if (errors == Errors::record_in_step) {
        std::string text = error_text(exception) + "line_no: " + std::to_string(step.number);
        return record::of(2, py::str(text));
    }
    return record::failed(py::str(error_text(exception)));
}

}  // namespace norvane
