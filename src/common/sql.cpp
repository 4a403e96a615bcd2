#include "common/sql.hpp"

#include <cmath>
#include <optional>
#include <stdexcept>

#include "common/number.hpp"
#include "common/outside.hpp"
#include "common/text.hpp"

namespace norvane::sql {

namespace {

std::string quoted(const std::string& raw) {
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

std::string float_literal(double number) {
    if (std::isnan(number)) return "NULL";
    if (std::isinf(number)) return number > 0 ? "inf" : "-inf";
    std::string digits = number_text(number);
    if (digits.find('.') == std::string::npos) {
        size_t exponent = digits.find('e');
        digits.insert(exponent == std::string::npos ? digits.size() : exponent, ".0");
    }
    return digits;
}

// A number that has digits: an int beyond the interpreter's digit limit has none to write.
std::optional<Number> written_number(py::handle value) {
    std::optional<Number> numeric = number(value);
    if (numeric && numeric->kind == Number::too_long) {
        throw py::value_error("the number is too large for a statement: " + too_long_text());
    }
    return numeric;
}

}  // namespace

std::string text(py::handle value) {
    if (PyUnicode_Check(value.ptr())) return quoted(utf8(value));
    if (auto numeric = written_number(value)) {
        if (numeric->kind == Number::truth) return quoted(numeric->digits == "1" ? "True" : "False");
        return quoted(numeric->digits);
    }
    return quoted(str_of(value));
}

std::string literal(py::handle value) {
    if (PyUnicode_Check(value.ptr())) return text(value);
    if (value.is_none()) return "NULL";
    if (auto numeric = written_number(value)) {
        return numeric->kind == Number::floating ? float_literal(numeric->value) : numeric->digits;
    }
    // pandas' missing-value markers (NaT, NA) are not texts either.
    if (outside::pd().attr("isna")(value).ptr() == Py_True) return "NULL";
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

std::string valid_at(const std::string& moment) {
    return moment + " >= zip_begindate and " + moment + " < zip_enddate";
}

py::str insert(const char* table, const std::string& column_list, const std::vector<std::string>& rows) {
    std::string statement = fill(R"(INSERT into {table} ({columns}) values )", {{"table", table}, {"columns", column_list}});
    size_t size = statement.size() + 1;
    for (const std::string& row : rows) size += row.size() + 4;
    statement.reserve(size);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i > 0) statement += ", ";
        statement += '(';
        statement += rows[i];
        statement += ')';
    }
    statement += ';';
    return py::str(statement);
}

}  // namespace norvane::sql
