#pragma once
// Order splitting: per-commodity TWAP settings, the account's splitting parameters and the
// temporary split modes recorded in the Redis hash "split_mode".
#include <pybind11/pybind11.h>

namespace norvane::splitting {
namespace py = pybind11;

// Appends one factors.TWAP_config row per valid commodity setting; {"code": 0, "msg": "更新n, t"}.
py::object fun_update_TWAP_info(py::object self, py::object input_data);

// {"code": 0, "msg": the help text on changing split modes}.
py::object fun_read_split_doc(py::object self);

// The parameter sets of mode "current", "default" or "available", with the running change.
py::object fun_search_split_mode(py::object self, py::object mode);

// Ends any running change: logs and records a return to the account's own parameters.
py::object fun_back_to_default_split_mode(py::object self);

// Switches the account to split mode `mode` for `effective_hour` hours (strictly 0 to 24).
py::object fun_set_split_mode(py::object self, py::object mode, py::object effective_hour);

}  // namespace norvane::splitting
