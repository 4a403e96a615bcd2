#pragma once
// Account core: connections, login, copy-account lookup.
#include <pybind11/pybind11.h>

namespace norvane::account {
namespace py = pybind11;

// Opens the ClickHouse client; sets `client` and `connect_tag` and prints the outcome. Never
// raises an ordinary error.
py::object fun_clickhouse_connect(py::object self);

// Checks the identifiers against the account register and pings the environment's Redis.
py::object fun_login(py::object self);

// Looks up the copy account the account's signals are passed on to.
py::object fun_check_replicate(py::object self);

// Contract codes are passed through as given; kept for scripts that call it.
py::object contract_format(py::object self);

}  // namespace norvane::account
