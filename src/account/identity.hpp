#pragma once
// The account object's identity as plain text. The constructor stores the account id, the access
// key and the user id as plain texts (common/plain's identity rule: a text by its own characters,
// a whole number by its digits); a method reads each one once per call and uses that one text for
// every statement, key and field of the call.
#include <pybind11/pybind11.h>

namespace norvane::account {
namespace py = pybind11;

// The attribute's plain text; a value with none raises TypeError naming `method` and the attribute.
py::str identity(py::handle self, const char* attribute, const char* method);

inline py::str account_id(py::handle self, const char* method) { return identity(self, "account_id", method); }
inline py::str user_id(py::handle self, const char* method) { return identity(self, "user_id", method); }

}  // namespace norvane::account
