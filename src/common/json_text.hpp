#pragma once
// JSON text of plain values, exactly as the interpreter's json.dumps writes them with its defaults:
// ASCII only (other characters as \u escapes, lower-case hex, pairs beyond the basic plane), ", "
// and ": " between members, floats by their repr, NaN and the infinities as NaN, Infinity and
// -Infinity. Written here rather than by json.dumps because a signal upload writes four records a
// row (two passes, the account and its copy account), which through json.dumps cost more than the
// rest of the upload.
#include <pybind11/pybind11.h>

#include <string>

namespace norvane::json_text {
namespace py = pybind11;

// Appends the JSON text of None, a truth value, an int, a float or a str (subclasses by their own
// value and characters, as json.dumps takes them). Any other value: false, nothing appended.
bool append(std::string& out, py::handle value);

}  // namespace norvane::json_text
