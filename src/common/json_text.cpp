#include "common/json_text.hpp"

#include <cmath>

#include "common/number.hpp"

namespace norvane::json_text {

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

void append_escape(std::string& out, Py_UCS4 unit) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += hex_digits[(unit >> shift) & 0xF];
}

void append_text(std::string& out, PyObject* text) {
#if PY_VERSION_HEX < 0x030A0000
    if (PyUnicode_READY(text) < 0) throw py::error_already_set();
#endif
    const int kind = PyUnicode_KIND(text);
    const void* data = PyUnicode_DATA(text);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    out += '"';
    for (Py_ssize_t i = 0; i < length; ++i) {
        Py_UCS4 c = PyUnicode_READ(kind, data, i);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (c >= ' ' && c <= '~') {
                    out += static_cast<char>(c);
                } else if (c >= 0x10000) {
                    c -= 0x10000;
                    append_escape(out, 0xD800 | (c >> 10));
                    append_escape(out, 0xDC00 | (c & 0x3FF));
                } else {
                    append_escape(out, c);
                }
        }
    }
    out += '"';
}

}  // namespace

bool append(std::string& out, py::handle value) {
    PyObject* object = value.ptr();
    if (PyUnicode_Check(object)) {
        append_text(out, object);
    } else if (object == Py_None) {
        out += "null";
    } else if (PyBool_Check(object)) {
        out += object == Py_True ? "true" : "false";
    } else if (PyLong_Check(object)) {
        Number integer = *number(value);
        if (integer.kind == Number::too_long) return false;
        out += integer.digits;
    } else if (PyFloat_Check(object)) {
        double number = PyFloat_AS_DOUBLE(object);
        if (std::isnan(number)) out += "NaN";
        else if (std::isinf(number)) out += number > 0 ? "Infinity" : "-Infinity";
        else out += number_text(number);
    } else {
        return false;
    }
    return true;
}

}  // namespace norvane::json_text
