#pragma once
// The account's entry of the Redis hash "split_mode": its last split-mode change, as the text
//   {'ts': datetime.datetime(2025, 8, 29, 9, 30, 5, 123456), 'effective_hour': 2, 'split_mode': '4321001'}
// `ts` is the local moment of the change (a zero microsecond is left out, and a zero second
// with it), `effective_hour` the hours as given (an int in digits, a float with a point, -1 for
// a return to the default), `split_mode` the mode id. The execution side reads the same text, so
// exactly this form is written, and only this form is read back.
#include <pybind11/pybind11.h>

#include <string>

namespace norvane::splitting {
namespace py = pybind11;

// The record text of a change made at `ts` (a datetime); a clock field out of a datetime's range
// is refused (ValueError) naming `method`.
std::string split_mode_text(const char* method, py::handle ts, py::handle effective_hour, py::handle mode);

// {"ts": datetime, "effective_hour": int or float, "split_mode": str} of a record text. Any other
// text is refused with ValueError (TypeError when the value is no text at all).
py::dict parse_split_mode(py::handle text);

// Whether the change is still running at local time `now`: now < ts + effective_hour hours, in
// seconds since the epoch. A record with -1 hours never is.
bool in_effect(const py::dict& change, py::handle now);

}  // namespace norvane::splitting
