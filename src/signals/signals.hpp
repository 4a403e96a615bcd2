#pragma once
// Trading signals: upload, replication to the copy account, reading and deletion.
#include <pybind11/pybind11.h>

#include <string>

namespace norvane::signals {
namespace py = pybind11;

// Checks a table of target positions, keeps the valid rows and stores them for the account (and
// its copy account) unless it equals the previous upload of this object. Guarded in its body,
// after it has taken the call time stamp.
py::object fun_update_signal(py::object self, py::object input_data, py::object use_redis,
                             py::object continuous_holding, py::object simple);

// Stores an uploaded signal table once more under the linked copy account; 0 in every case.
py::object fun_replicate_save(py::object self, py::object tmp_mat, py::object continuous_holding);

// Marks the live signal rows of one trading day, order type and trade time as deleted.
py::object fun_delete_signal(py::object self, py::object trading_day, py::object order_typ,
                             py::object trade_time, py::object contract);

// The account's signal rows of a range of trading days: current rows, or live and retired ones.
py::object fun_read_signal(py::object self, py::object start_date, py::object end_date,
                           py::object clean);

}  // namespace norvane::signals
