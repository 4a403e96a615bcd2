#pragma once
// Account core: connections, login, copy-account lookup, trading flag, small utilities and the
// risk configuration.
#include <pybind11/pybind11.h>

namespace norvane::account {
namespace py = pybind11;

// The value of `connect_tag` (the client could not be opened) and of `login` (the account was
// not verified) on an object that cannot be used; 0 on a usable one.
inline constexpr int unusable = 4003;

// Opens the ClickHouse client; sets `client` and `connect_tag` and prints the outcome. Never
// raises an ordinary error.
py::object fun_clickhouse_connect(py::object self);

// Checks the identifiers against the account register and pings the environment's Redis.
py::object fun_login(py::object self);

// Looks up the copy account the account's signals are passed on to.
py::object fun_check_replicate(py::object self);

// Contract codes are passed through as given; kept for scripts that call it.
py::object contract_format(py::object self);

// Seconds since the epoch (int or float) as the UTC date "%Y-%m-%d", whatever the local zone.
py::object unix_to_datetime(py::object unix_timestamp);

// Switches the account's trading flag in the account register: closes its open rows and opens a
// copy of the current one with "T" or "F".
py::object fun_update_sts(py::object self, py::object trade_flag);

// One category of the desk's risk limits in force now (by the database server's clock), as
// {name: min_amt}.
py::object fun_read_info(py::object self, py::object info);

}  // namespace norvane::account
