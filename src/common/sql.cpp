#include "common/sql.hpp"

#include "common/namespace.hpp"

#include <cmath>
#include <stdexcept>

namespace norvane::sql {

std::string text(py::handle value) {
    std::string raw = py::str(value).cast<std::string>();
    std::string quoted;
    quoted.reserve(raw.size() + 2);
    quoted += '\'';
    for (char c : raw) {
        if (c == '\\' || c == '\'') quoted += '\\';
        quoted += c;
    }
    quoted += '\'';
    return quoted;
}

namespace {

// numpy's integer and floating scalars are not Python ints, but report their kind on `dtype`.
char numpy_kind(py::handle value) {
    if (!py::hasattr(value, "dtype") || !py::hasattr(value, "item")) return 0;
    py::object kind = value.attr("dtype").attr("kind");
    std::string k = py::str(kind).cast<std::string>();
    return k.size() == 1 ? k[0] : 0;
}

std::string float_literal(double number) {
    if (std::isnan(number)) return "NULL";
    if (std::isinf(number)) return number > 0 ? "inf" : "-inf";
    // Python's repr is the shortest text that reads back as the same double.
    std::string digits = py::repr(py::float_(number)).cast<std::string>();
    if (digits.find('.') == std::string::npos) {
        size_t exponent = digits.find('e');
        digits.insert(exponent == std::string::npos ? digits.size() : exponent, ".0");
    }
    return digits;
}

}  // namespace

std::string literal(py::handle value) {
    if (PyUnicode_Check(value.ptr())) return text(value);
    if (value.is_none()) return "NULL";
    if (PyBool_Check(value.ptr())) return value.ptr() == Py_True ? "1" : "0";
    if (PyLong_Check(value.ptr())) return py::str(value).cast<std::string>();
    if (PyFloat_Check(value.ptr())) return float_literal(PyFloat_AsDouble(value.ptr()));
    switch (numpy_kind(value)) {
        case 'b': return literal(value.attr("item")());
        case 'i':
        case 'u': return py::str(value.attr("item")()).cast<std::string>();
        case 'f': return float_literal(py::cast<double>(value.attr("item")()));
        default: break;
    }
    // pandas' missing-value markers (NaT, NA) are not texts either.
    if (ns("pd").attr("isna")(value).ptr() == Py_True) return "NULL";
    return text(value);
}

std::string list(py::handle values) {
    std::string joined;
    bool first = true;
    for (py::handle element : values) {
        if (!first) joined += ", ";
        joined += literal(element);
        first = false;
    }
    return joined;
}

std::string column_list(py::handle names) {
    std::string joined;
    for (py::handle name : names) {
        if (!joined.empty()) joined += ", ";
        joined += "\"" + py::str(name).cast<std::string>() + "\"";
    }
    return joined;
}

std::string fill(std::string_view statement,
                 std::initializer_list<std::pair<std::string_view, std::string>> values) {
    std::string filled;
    filled.reserve(statement.size() + 64);
    size_t pos = 0;
    while (pos < statement.size()) {
        size_t open = statement.find('{', pos);
        if (open == std::string_view::npos) break;
        size_t close = statement.find('}', open);
        if (close == std::string_view::npos) break;
        std::string_view name = statement.substr(open + 1, close - open - 1);
        const std::string* literal = nullptr;
        for (const auto& [key, value] : values) {
            if (key == name) literal = &value;
        }
        if (literal == nullptr) {
            throw std::runtime_error("no value for placeholder {" + std::string(name) + "}");
        }
        filled.append(statement.substr(pos, open - pos));
        filled += *literal;
        pos = close + 1;
    }
    filled.append(statement.substr(pos));
    return filled;
}

}  // namespace norvane::sql
