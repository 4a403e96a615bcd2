#include "common/number.hpp"

#include <cmath>

#include "common/text.hpp"

namespace norvane {

namespace {

// numpy's scalars are not Python ints or floats (float64 aside), but report their kind on
// `dtype`: 'b' truth value, 'i' and 'u' integer, 'f' floating.
char numpy_kind(py::handle value) {
    py::object dtype = attribute_or_none(value, "dtype");
    if (dtype.is_none() || array_like(value)) return 0;
    py::object kind = attribute_or_none(dtype, "kind");
    if (!PyUnicode_Check(kind.ptr())) return 0;
    std::string k = utf8(kind);
    return k.size() == 1 ? k[0] : 0;
}

// int.__repr__ of an int or an int subclass as a Number: the digits of its value, or too_long
// when the interpreter refuses to write them (its ValueError for the int digit limit).
Number integer_number(py::handle integer) {
    int overflow = 0;
    long long small = PyLong_AsLongLongAndOverflow(integer.ptr(), &overflow);
    if (overflow == 0) {
        if (small == -1 && PyErr_Occurred()) throw py::error_already_set();
        return Number{Number::integer, std::to_string(small)};
    }
    PyObject* digits = PyLong_Type.tp_repr(integer.ptr());
    if (digits == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_ValueError)) throw py::error_already_set();
        PyErr_Clear();
        return Number{Number::too_long, ""};
    }
    return Number{Number::integer, utf8(py::reinterpret_steal<py::str>(digits))};
}

}  // namespace

std::string too_long_text() {
    // sys.get_int_max_str_digits() is the limit in force; it exists wherever the limit does.
    std::string limit = "4300";
    if (PyObject* get_limit = PySys_GetObject("get_int_max_str_digits")) {
        PyObject* digits = PyObject_CallObject(get_limit, nullptr);
        if (digits == nullptr) throw py::error_already_set();
        limit = str_of(py::reinterpret_steal<py::object>(digits));
    }
    return "an int of more than " + limit + " digits";
}

bool array_like(py::handle value) {
    py::object dimensions = attribute_or_none(value, "ndim");
    return PyLong_Check(dimensions.ptr()) && !dimensions.equal(py::int_(0));
}

std::string number_text(double value) {
    // float.__repr__'s own conversion.
    char* text = PyOS_double_to_string(value, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (text == nullptr) throw py::error_already_set();
    std::string digits(text);
    PyMem_Free(text);
    return digits;
}

std::optional<Number> number(py::handle value) {
    PyObject* object = value.ptr();
    // Texts and None are the common values that are no number; they need no look for a dtype.
    if (PyUnicode_Check(object) || object == Py_None) return std::nullopt;
    if (PyBool_Check(object)) return Number{Number::truth, object == Py_True ? "1" : "0"};
    if (PyLong_Check(object)) return integer_number(value);
    if (PyFloat_Check(object)) {
        double stored = PyFloat_AS_DOUBLE(object);
        return Number{Number::floating, number_text(stored), stored};
    }
    switch (numpy_kind(value)) {
        case 'b': {
            int truth = PyObject_IsTrue(object);
            if (truth < 0) throw py::error_already_set();
            return Number{Number::truth, truth ? "1" : "0"};
        }
        case 'i':
        case 'u': {
            PyObject* integer = PyNumber_Index(object);
            if (integer == nullptr) throw py::error_already_set();
            return integer_number(py::reinterpret_steal<py::object>(integer));
        }
        case 'f': {
            double stored = PyFloat_AsDouble(object);
            if (stored == -1.0 && PyErr_Occurred()) throw py::error_already_set();
            return Number{Number::floating, number_text(stored), stored};
        }
        default: return std::nullopt;
    }
}

std::optional<std::string> whole_digits(const Number& number) {
    if (number.kind == Number::integer) return number.digits;
    bool whole = number.kind == Number::floating && std::isfinite(number.value) &&
                 number.value == std::floor(number.value) && std::fabs(number.value) < 1e15;
    if (whole) return std::to_string(static_cast<long long>(number.value));
    return std::nullopt;
}

py::object exact_number(py::handle value) {
    PyObject* object = value.ptr();
    if (PyFloat_CheckExact(object) || PyLong_CheckExact(object) || PyBool_Check(object)) {
        return py::reinterpret_borrow<py::object>(value);  // already the plain number
    }
    std::optional<Number> numeric = number(value);
    if (!numeric) return py::reinterpret_borrow<py::object>(value);
    switch (numeric->kind) {
        case Number::truth: return py::bool_(numeric->digits == "1");
        case Number::integer: {
            PyObject* integer = PyLong_FromString(numeric->digits.c_str(), nullptr, 10);
            if (integer == nullptr) throw py::error_already_set();
            return py::reinterpret_steal<py::object>(integer);
        }
        case Number::too_long: {
            // int's own conversion, never the subclass's __int__: the exact value as a plain int.
            PyObject* integer = PyLong_Type.tp_as_number->nb_int(object);
            if (integer == nullptr) throw py::error_already_set();
            return py::reinterpret_steal<py::object>(integer);
        }
        default: return py::float_(numeric->value);
    }
}

}  // namespace norvane
