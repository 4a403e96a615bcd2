#pragma once
// SQL text assembly. Statements are raw-literal templates with {name} placeholders; values enter
// only as literals made here, so a quote inside an account id or a key can never end the literal
// it stands in.
#include <pybind11/pybind11.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace norvane::sql {
namespace py = pybind11;

// The value's text (str of it: a str unchanged, a number in decimal digits) as a quoted string
// literal, with backslashes and single quotes escaped.
std::string text(py::handle value);

// The template with every {name} replaced by its literal. A placeholder without a value is an
// error in the program, reported as RuntimeError.
std::string fill(std::string_view statement,
                 std::initializer_list<std::pair<std::string_view, std::string>> values);

}  // namespace norvane::sql
