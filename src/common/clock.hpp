#pragma once
// The local clock, read through the module's `datetime` so that a script (or a test) can set it.
#include <pybind11/pybind11.h>

#include <string>

namespace norvane::clock {
namespace py = pybind11;

// datetime.datetime.now()
py::object now();

// The local time now, formatted with strftime.
std::string now_text(const char* format);

// "%Y-%m-%d %H:%M:%S": the form of the validity intervals and of most time stamps.
inline constexpr const char* seconds = "%Y-%m-%d %H:%M:%S";

// moment.strftime(format). The interpreter's own datetimes of four-digit years are written from
// their fields for "%Y-%m-%d" and `seconds`, at a fraction of strftime's cost (the equity reader
// renders two a row).
py::object strftime(py::handle moment, const char* format);

// Seconds since the epoch (int or float) as the UTC date "%Y-%m-%d", whatever the local zone.
py::object utc_date(py::handle seconds);

// The signal methods' call time stamp: local time "%Y-%m-%d %H:%M:%S.%f" cut to 26 characters,
// taken once per call and used for every column, statement and message of that call.
std::string call_stamp();

}  // namespace norvane::clock
