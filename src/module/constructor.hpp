#pragma once
#include <pybind11/pybind11.h>

namespace norvane {
namespace py = pybind11;

// Norvane(account_id, acquire_key, user_id, env="test"): opens the connections, verifies the
// account and looks up its copy account.
py::object construct_account(py::object self, py::object account_id, py::object acquire_key,
                             py::object user_id, py::object env);

}  // namespace norvane
