#include "common/plain.hpp"

#include <cmath>
#include <unordered_set>

#include "common/number.hpp"
#include "common/outside.hpp"
#include "common/text.hpp"

namespace norvane::plain {

namespace {

constexpr double exact_integers = 9007199254740992.0;  // 2**53

// The UTF-8 form of a plain text; without one, the interpreter's UnicodeEncodeError with `where`
// added to its reason.
void encodable(const py::str& text, const Where& where) {
    if (PyUnicode_AsUTF8AndSize(text.ptr(), nullptr) != nullptr) return;
    py::error_already_set error;
    if (!error.matches(PyExc_UnicodeEncodeError)) throw error;
    PyObject* raised = error.value().ptr();
    Py_ssize_t start = 0, end = 0;
    PyUnicodeEncodeError_GetStart(raised, &start);
    PyUnicodeEncodeError_GetEnd(raised, &end);
    py::object reason = py::reinterpret_steal<py::object>(PyUnicodeEncodeError_GetReason(raised));
    std::string why = (reason ? utf8(reason) : "cannot be encoded") + " (" + where.text() + ")";
    PyObject* replaced = PyObject_CallFunction(PyExc_UnicodeEncodeError, "sOnns", "utf-8", text.ptr(),
                                               start, end, why.c_str());
    if (replaced == nullptr) throw py::error_already_set();
    PyErr_SetObject(PyExc_UnicodeEncodeError, replaced);
    Py_DECREF(replaced);
    throw py::error_already_set();
}

bool eight_digits(const std::string& text) {
    if (text.size() != 8) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

std::string Where::text() const {
    std::string text = std::string(method) + ": " + kind + " " + name;
    if (row >= 0) text += ", row " + std::to_string(row);
    return text;
}

void refuse(PyObject* type, const Where& where, const std::string& problem) {
    PyErr_SetString(type, (where.text() + ": " + problem).c_str());
    throw py::error_already_set();
}

std::string shown(py::handle value) {
    PyObject* object = value.ptr();
    py::object plain_value;
    if (PyUnicode_Check(object)) {
        plain_value = py::reinterpret_steal<py::object>(PyUnicode_FromObject(object));
    } else if (PyFloat_CheckExact(object) || PyLong_CheckExact(object) || PyBool_Check(object) ||
               object == Py_None) {
        plain_value = py::reinterpret_borrow<py::object>(value);
    } else {
        return std::string("a value of type ") + Py_TYPE(object)->tp_name;
    }
    // An int beyond the interpreter's digit limit has no repr.
    if (PyLong_Check(object) && !PyBool_Check(object) && number(value)->kind == Number::too_long) return too_long_text();
    PyObject* repr = plain_value ? PyObject_ASCII(plain_value.ptr()) : nullptr;
    if (repr == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_Exception)) throw py::error_already_set();
        PyErr_Clear();
        return std::string("a value of type ") + Py_TYPE(object)->tp_name;
    }
    std::string text = utf8(py::reinterpret_steal<py::str>(repr));
    return text.size() > 60 ? text.substr(0, 57) + "..." : text;
}

std::optional<py::str> characters(py::handle value) {
    if (!PyUnicode_Check(value.ptr())) return std::nullopt;
    if (PyUnicode_CheckExact(value.ptr())) return py::reinterpret_borrow<py::str>(value);
    PyObject* copy = PyUnicode_FromObject(value.ptr());
    if (copy == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(copy);
}

std::optional<py::str> text(py::handle value, const Where& where) {
    std::optional<py::str> found = characters(value);
    if (found) encodable(*found, where);
    return found;
}

py::str required_text(py::handle value, const Where& where, bool non_empty) {
    std::optional<py::str> found = text(value, where);
    if (!found) refuse(PyExc_TypeError, where, "must be text, not " + shown(value));
    if (non_empty && PyUnicode_GET_LENGTH(found->ptr()) == 0) refuse(PyExc_ValueError, where, "must not be empty");
    return *found;
}

std::optional<py::str> identity_text(py::handle value, const Where& where) {
    if (std::optional<py::str> found = text(value, where)) return found;
    std::optional<Number> numeric = number(value);
    if (numeric && numeric->kind == Number::too_long) refuse(PyExc_ValueError, where, "the number is too large: " + shown(value));
    if (numeric && numeric->kind == Number::integer) return py::str(numeric->digits);
    return std::nullopt;
}

py::str identity(py::handle value, const Where& where) {
    std::optional<py::str> found = identity_text(value, where);
    if (!found) refuse(PyExc_TypeError, where, "must be text (or a whole number), not " + shown(value));
    return *found;
}

bool missing(py::handle value) {
    PyObject* object = value.ptr();
    if (object == Py_None) return true;
    if (PyUnicode_Check(object)) return false;
    if (std::optional<Number> numeric = number(value)) {
        return numeric->kind == Number::floating && std::isnan(numeric->value);
    }
    py::object pd = outside::pd();
    return value.is(pd.attr("NA")) || value.is(pd.attr("NaT"));
}

std::optional<py::object> real(py::handle value, const Where& where) {
    if (PyUnicode_Check(value.ptr())) return std::nullopt;
    double floating;
    if (std::optional<Number> numeric = number(value)) {
        if (numeric->kind == Number::truth) return py::object(py::int_(numeric->digits == "1" ? 1 : 0));
        // Beyond the float range, or beyond the interpreter's digit limit: too large for any use.
        if (numeric->kind == Number::too_long) refuse(PyExc_ValueError, where, "the number is too large: " + shown(value));
        if (numeric->kind == Number::integer) {
            py::object whole = exact_number(value);
            double as_float = PyLong_AsDouble(whole.ptr());
            if (as_float == -1.0 && PyErr_Occurred()) {
                if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw py::error_already_set();
                PyErr_Clear();
                refuse(PyExc_ValueError, where, "the number is too large: " + shown(value));
            }
            // Up to 2**53 an int is stored as itself; beyond, as the float the table keeps (2**53 + 1
            // is 9007199254740992.0), so the hash and the rows hold one value. The bound is taken on
            // the exact value: the rounded float of 2**53 + 1 is 2**53.
            int overflow = 0;
            const long long exact = PyLong_AsLongLongAndOverflow(whole.ptr(), &overflow);
            const auto bound = static_cast<long long>(exact_integers);
            if (overflow == 0 && exact >= -bound && exact <= bound) return whole;
            floating = as_float;
        } else {
            floating = numeric->value;
        }
    } else if (missing(value)) {
        return py::object(py::float_(NAN));
    } else if (array_like(value)) {
        return std::nullopt;  // an array, a Series or a table in one cell is no number
    } else {
        // The value's own __float__ (Decimal, Fraction, ...): an ordinary error means no number;
        // an interrupt while it runs reaches the caller.
        floating = PyFloat_AsDouble(value.ptr());
        if (floating == -1.0 && PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_Exception)) throw py::error_already_set();
            PyErr_Clear();
            return std::nullopt;
        }
    }
    if (std::isinf(floating)) refuse(PyExc_ValueError, where, "must be a finite number, not " + shown(value));
    return py::object(py::float_(floating));
}

py::object required_real(py::handle value, const Where& where, bool missing_too) {
    std::optional<py::object> number = real(value, where);
    if (!number || (missing_too && missing(*number))) {
        refuse(PyExc_TypeError, where, "must be a number, not " + shown(value));
    }
    return *number;
}

bool compares(py::handle value, int operation, long number) {
    if (value.is_none()) return false;
    int result = PyObject_RichCompareBool(value.ptr(), py::int_(number).ptr(), operation);
    if (result < 0) throw py::error_already_set();
    return result == 1;
}

py::str trading_day(py::handle value, const Where& where) {
    std::string digits;
    if (std::optional<py::str> found = text(value, where)) {
        digits = utf8(*found);
    } else if (std::optional<Number> numeric = number(value)) {
        digits = whole_digits(*numeric).value_or("");
    } else {
        refuse(PyExc_TypeError, where, "a trading day must be eight digits, not " + shown(value));
    }
    if (!eight_digits(digits)) {
        refuse(PyExc_ValueError, where, "a trading day must be eight digits, not " + shown(value));
    }
    return py::str(digits);
}

const py::list* Columns::find(const char* name) const {
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) return &values[i];
    }
    return nullptr;
}

Columns columns(py::handle table, const Where& where) {
    py::object labels = table.attr("columns");
    if (!py::int_(labels.attr("nlevels")).equal(py::int_(1))) {
        refuse(PyExc_ValueError, where, "the columns have several levels; give one level of text labels");
    }
    Columns found;
    std::unordered_set<std::string> seen;
    for (py::handle label : labels) {
        std::optional<py::str> name = text(label, where);
        if (!name) refuse(PyExc_ValueError, where, "column labels must be text, not " + shown(label));
        std::string plain_name = utf8(*name);
        if (!seen.insert(plain_name).second) {
            refuse(PyExc_ValueError, where, "two columns are labelled " + shown(*name));
        }
        found.names.push_back(plain_name);
    }
    for (py::handle item : table.attr("items")()) found.values.emplace_back(item[py::int_(1)].attr("tolist")());
    found.rows = static_cast<Py_ssize_t>(py::len(table));
    return found;
}

py::object table(py::handle input, const Where& where) {
    try {
        return outside::pd().attr("DataFrame")(input);
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_Exception)) throw;
        py::raise_from(error, PyExc_TypeError,
                       (where.text() + ": cannot be read as a table (a DataFrame, a list of row "
                                       "mappings or a mapping of columns): " + shown(input)).c_str());
        throw py::error_already_set();
    }
}

}  // namespace norvane::plain
