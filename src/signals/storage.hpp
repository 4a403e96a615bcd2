#pragma once
// Signal storage: the day's signal hash in Redis and the signal table factors.t_order_dtl.
// A normalised signal table has 13 columns: the eight input columns, then account_id, user_id,
// create_time, update_time and data_source.
#include <pybind11/pybind11.h>

#include <string>

namespace norvane::signals {
namespace py = pybind11;

// The trading day of a normalised table (all rows share it), as text for keys and statements.
py::object trading_day_of(py::handle table);

// Writes every row's hash record into the day's hash on `redis`. Unless `continuous_holding`,
// writes a second pass with the stored feature and deletes the account's fields of the day that
// the table no longer holds.
void write_signal_hash(py::handle table, py::handle account_id, py::handle redis,
                       bool continuous_holding);

// How a retire statement treats the retired rows' update_time.
enum class RetireForm {
    upload,  // the uploading account: update_time becomes the upload's call time stamp
    copy,    // the copy account: update_time stays as it was
};

// Retires every live row of the account and day. A mutation touches only rows that exist when it
// is issued, so it must come before the new rows are inserted.
void retire_live_signals(py::handle client, py::handle trading_day, py::handle account_id,
                         RetireForm form, const std::string& stamp);

// One INSERT statement per row, in row order.
void insert_signals(py::handle client, py::handle table);

}  // namespace norvane::signals
