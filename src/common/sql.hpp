#pragma once
// SQL text assembly. Statements are raw-literal templates with {name} placeholders; values enter
// only as literals made here, so a quote inside an account id, a key or a contract code can never
// end the literal it stands in or add a statement.
#include <pybind11/pybind11.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvane::sql {
namespace py = pybind11;

// The value's text as a quoted string literal, with backslashes and single quotes escaped: a str
// by its own characters, a number by its value (common/number; a truth value as True or False),
// anything else as str() of it. For templates that quote whatever they get.
std::string text(py::handle value);

// The value written by its type: None and NaN as NULL, integers (and truth values) as decimal
// digits, floating-point numbers in the shortest form that reads back as the same number with a
// point (2.5, 3.0), anything else as a quoted text literal (see `text`).
std::string literal(py::handle value);

// The elements of a sequence as literals, joined by ", ".
std::string list(py::handle values);

// Column names for an INSERT, always the module's own (never a caller's labels): each in double
// quotes, joined by ", ".
template <class Names>
std::string column_list(const Names& names) {
    std::string joined;
    for (const char* name : names) {
        if (!joined.empty()) joined += ", ";
        joined += '"';
        joined += name;
        joined += '"';
    }
    return joined;
}

// The validity of a zipper-form row (valid from zip_begindate to zip_enddate) in two forms:
// at the database server's clock, the end included ...
inline constexpr const char* valid_at_server_now =
    "toString(now64()) >= zip_begindate and toString(now64()) <= zip_enddate";
// ... and at a moment given as a literal, the end excluded (the login's and the trading flag's).
std::string valid_at(const std::string& moment);

// The INSERT the writing methods send, every row of a call in one statement:
// "INSERT into <table> (<column_list>) values (<row>), (<row>), ...;", each <row> the row's values
// as `list` writes them. ClickHouse reads the rows after VALUES as a stream that its query size
// limit (max_query_size, which covers the text before them) does not apply to, and stores them as
// one data part; one statement per table and call is therefore all the server needs.
py::str insert(const char* table, const std::string& column_list, const std::vector<std::string>& rows);

// The template with every {name} replaced by its literal. A placeholder without a value is an
// error in the program, reported as RuntimeError.
std::string fill(std::string_view statement,
                 std::initializer_list<std::pair<std::string_view, std::string>> values);

}  // namespace norvane::sql
