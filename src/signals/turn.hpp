#pragma once
// One upload at a time per account and trading day. Before it writes, an upload takes the day's
// turn: the Redis key "norvane:upload:<trading day>:<account id>" on the Redis that holds the
// account's signal hash, set only if absent (NX), to a token of the upload's own, with an expiry.
// The turn is given back by deleting the key only while it still holds that token, so an upload
// never ends another's turn. An upload that cannot have the turn within the wait raises
// TimeoutError before writing; one killed mid-way holds the day for at most the expiry.
//
// Both times are bound at load in the module namespace, in seconds, and read at every upload:
// `_upload_wait_seconds` (10) and `_upload_expiry_seconds` (30, well above the longest upload).
// The execution side never reads these keys.
#include <pybind11/pybind11.h>

#include <functional>
#include <string>

namespace norvane::signals {
namespace py = pybind11;

// Runs `writes` holding the turn of `account_id` at `day` on `redis`. `who` names the upload in
// the errors ("fun_update_signal: account 8800123"). When `writes` raises, the turn is given back
// and the error goes on. When the turn was lost meanwhile (the upload outlasted the expiry and
// another took the day), TimeoutError after the writes: the day may hold another upload's writes.
void in_turn(py::handle redis, const py::str& day, const std::string& account_id,
             const std::string& who, const std::function<void()>& writes);

// The times in the module namespace, and their defaults bound at load.
inline constexpr const char* upload_wait_name = "_upload_wait_seconds";
inline constexpr const char* upload_expiry_name = "_upload_expiry_seconds";
inline constexpr double default_upload_wait = 10.0;
inline constexpr double default_upload_expiry = 30.0;

}  // namespace norvane::signals
