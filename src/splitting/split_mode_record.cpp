#include "splitting/split_mode_record.hpp"

#include <cctype>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "common/number.hpp"
#include "common/outside.hpp"
#include "common/plain.hpp"
#include "common/text.hpp"

namespace norvane::splitting {

namespace {

constexpr std::string_view ts_opening = "{'ts': datetime.datetime(";
constexpr std::string_view hours_key = ", 'effective_hour': ";
constexpr std::string_view mode_key = ", 'split_mode': '";
constexpr std::string_view closing = "'}";

// Hours as the interpreter writes them in the record: an integer (numpy's too) in digits, any
// other number as the float's repr (with a point).
std::string hours_text(py::handle hours) {
    std::optional<Number> whole = number(hours);
    if (whole && whole->kind != Number::floating) return whole->digits;
    return number_text(py::float_(py::reinterpret_borrow<py::object>(hours)).cast<double>());
}

// A mode id stands between single quotes as it is, so it can hold neither a quote nor a
// backslash nor a line break.
std::string mode_text(py::handle mode) {
    std::string text = str_of(mode);
    for (unsigned char c : text) {
        if (c == '\'' || c == '\\' || c < 0x20) {
            throw py::value_error("mode id " + utf8(py::repr(mode)) +
                                  " cannot be written in a split-mode record");
        }
    }
    return text;
}

[[noreturn]] void not_a_record(const std::string& text) {
    throw py::value_error("not a split-mode record: " + utf8(py::repr(py::str(text))));
}

// Reads the record text left to right; every deviation from the written form is refused.
class RecordReader {
public:
    explicit RecordReader(std::string text) : text_(std::move(text)) {}

    void expect(std::string_view piece) {
        if (rest().substr(0, piece.size()) != piece) not_a_record(text_);
        pos_ += piece.size();
    }

    bool take(std::string_view piece) {
        if (rest().substr(0, piece.size()) != piece) return false;
        pos_ += piece.size();
        return true;
    }

    // Moves past decimal digits; how many there were.
    size_t skip_digits() {
        size_t start = pos_;
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
        return pos_ - start;
    }

    // Decimal digits without a leading zero (a lone 0 is fine).
    std::string digits() {
        size_t start = pos_;
        skip_digits();
        if (pos_ == start || (text_[start] == '0' && pos_ - start > 1)) not_a_record(text_);
        return text_.substr(start, pos_ - start);
    }

    // An int in digits, or a float with a point and an optional exponent.
    py::object number() {
        size_t start = pos_;
        bool negative = take("-");
        std::string whole = digits();
        if (!take(".")) {
            if (negative && whole == "0") not_a_record(text_);
            return py::int_(py::str(text_.substr(start, pos_ - start)));
        }
        if (skip_digits() == 0) not_a_record(text_);
        if (take("e")) {
            if (!take("-")) take("+");
            if (skip_digits() == 0) not_a_record(text_);
        }
        return py::float_(py::str(text_.substr(start, pos_ - start)));
    }

    // Up to the closing quote; no quote, backslash or control character inside.
    std::string quoted_rest() {
        size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] != '\'') {
            unsigned char c = static_cast<unsigned char>(text_[pos_]);
            if (c == '\\' || c < 0x20) not_a_record(text_);
            ++pos_;
        }
        if (pos_ == start) not_a_record(text_);
        return text_.substr(start, pos_ - start);
    }

    void expect_end() {
        if (pos_ != text_.size()) not_a_record(text_);
    }

    const std::string& text() const { return text_; }

private:
    std::string_view rest() const { return std::string_view(text_).substr(pos_); }

    std::string text_;
    size_t pos_ = 0;
};

}  // namespace

std::string split_mode_text(const char* method, py::handle ts, py::handle effective_hour, py::handle mode) {
    // The clock is the module's `datetime`, which a script may rebind: each field must be one a
    // datetime can hold, so the execution side can read the record back.
    struct Field {
        const char* name;
        long long lowest, highest;
    };
    constexpr Field fields[] = {{"year", 1, 9999}, {"month", 1, 12},  {"day", 1, 31},          {"hour", 0, 23},
                                {"minute", 0, 59}, {"second", 0, 59}, {"microsecond", 0, 999999}};
    std::vector<long long> parts;
    for (const Field& field : fields) {
        py::object value = ts.attr(field.name);
        std::optional<Number> whole = number(value);
        int overflow = 0;
        long long part = whole && whole->kind == Number::integer
                             ? PyLong_AsLongLongAndOverflow(exact_number(value).ptr(), &overflow)
                             : -1;
        if (!whole || whole->kind != Number::integer || overflow != 0 || part < field.lowest || part > field.highest) {
            plain::refuse(PyExc_ValueError, plain::Where::attribute(method, "Norvane.datetime"),
                          std::string("the clock's ") + field.name + " must be a whole number from " +
                              std::to_string(field.lowest) + " to " + std::to_string(field.highest) + ", not " +
                              plain::shown(value));
        }
        parts.push_back(part);
    }
    if (parts[6] == 0) {
        parts.pop_back();
        if (parts[5] == 0) parts.pop_back();
    }
    std::string text(ts_opening);
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) text += ", ";
        text += std::to_string(parts[i]);
    }
    text += ")";
    text += hours_key;
    text += hours_text(effective_hour);
    text += mode_key;
    text += mode_text(mode);
    text += closing;
    return text;
}

py::dict parse_split_mode(py::handle text) {
    if (!PyUnicode_Check(text.ptr())) {
        PyErr_Format(PyExc_TypeError, "split-mode record must be str, not %s", Py_TYPE(text.ptr())->tp_name);
        throw py::error_already_set();
    }
    RecordReader reader(utf8(text));
    reader.expect(ts_opening);
    std::vector<std::string> parts{reader.digits()};
    while (reader.take(", ")) parts.push_back(reader.digits());
    reader.expect(")");
    // Five to seven numbers, written short exactly when the tail is zero.
    if (parts.size() < 5 || parts.size() > 7) not_a_record(reader.text());
    if (parts.size() == 7 && parts[6] == "0") not_a_record(reader.text());
    if (parts.size() == 6 && parts[5] == "0") not_a_record(reader.text());
    reader.expect(hours_key);
    py::object hours = reader.number();
    reader.expect(mode_key);
    std::string mode = reader.quoted_rest();
    reader.expect(closing);
    reader.expect_end();

    py::list numbers;
    for (const auto& part : parts) numbers.append(py::int_(py::str(part)));
    py::dict change;
    change["ts"] = outside::datetime().attr("datetime")(*py::tuple(numbers));
    change["effective_hour"] = hours;
    change["split_mode"] = py::str(mode);
    return change;
}

bool in_effect(const py::dict& change, py::handle now) {
    py::object hours = change["effective_hour"];
    py::object ends = change["ts"].attr("timestamp")() + hours * py::int_(3600);
    return now.attr("timestamp")() < ends;
}

}  // namespace norvane::splitting
