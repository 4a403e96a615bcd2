#pragma once
// Numbers taken by their value. A number reaches statements, keys and records only through its
// value, never through the object's own __str__, __repr__ or __format__: an int subclass or a
// numpy scalar whose text says something else is written as the number it holds.
#include <pybind11/pybind11.h>

#include <optional>
#include <string>

namespace norvane {
namespace py = pybind11;

struct Number {
    // too_long: an int with more digits than the interpreter turns into text (its int digit
    // limit, 4300 unless a script set another): it has no digits, and every rule refuses it as a
    // number too large for its use.
    enum Kind { truth, integer, floating, too_long } kind;
    std::string digits;  // "1"/"0" for truth values, decimal digits, or the float's shortest repr
    double value = 0;    // floating only
};

// The value as a number: bool, int (subclasses included), float (subclasses included) and
// numpy's truth, integer and floating scalars; nothing for any other value (arrays included).
// Looking for numpy's `dtype` and `ndim` passes over an ordinary error of the value's own
// attributes; an interrupt reaches the caller.
std::optional<Number> number(py::handle value);

// "an int of more than 4300 digits": a too_long number as errors show it.
std::string too_long_text();

// An array, a Series or a table: a value with dimensions (`ndim` above 0), never one number.
bool array_like(py::handle value);

// The shortest text that reads back as the same double (the interpreter's float repr).
std::string number_text(double value);

// The digits of a number that is whole: an integer (not a truth value), or a finite float without
// a fraction below 1e15 (20991203.0 is "20991203"); nothing for any other number.
std::optional<std::string> whole_digits(const Number& number);

// The value as a plain bool, int or float when it is a number (see `number`), else the value.
py::object exact_number(py::handle value);

}  // namespace norvane
