#pragma once
// Signal storage: the day's signal hash in Redis and the signal table factors.t_order_dtl.
// A normalised signal table has 13 columns: the eight input columns, then account_id, user_id,
// create_time, update_time and data_source.
//
// One run of the storage procedure is built first and written after: every hash record's JSON
// text and the statements, each value converted and encoded. A value that cannot be written (a
// text without a UTF-8 form, a value JSON cannot encode) therefore raises before the first write,
// and the day is never left half-written by it. The writes go out in a fixed number of round
// trips, whatever the number of rows: one hset per pass, one hkeys and at most one hdel for the
// stale fields, the retire statement and one insert.
#include <pybind11/pybind11.h>

#include <functional>
#include <optional>
#include <string>

namespace norvane::signals {
namespace py = pybind11;

// The one text of a trading day: the hash key, the stored trading_day and the statements' day.
// A text as it is; a whole number (20991203, 20991203.0, numpy's too) as its digits; any other
// number by its value; anything else as str() of it.
py::str trading_day_text(py::handle day);

// How a retire statement treats the retired rows' update_time.
enum class RetireForm {
    upload,  // the uploading account: update_time becomes the upload's call time stamp
    copy,    // the copy account: update_time stays as it was
};

// Everything one run sends for one account, in the order it is sent.
struct SignalWrites {
    py::str day;                    // the hash key
    std::string owner;              // the account id's text: its fields begin with it and "_"
    py::object redis;               // the hash's connection; None: the hash is not written
    py::dict marked;                // field -> record with feature + 20 (empty: no marking pass)
    py::dict records;               // field -> record as stored
    bool remove_stale = false;      // the stale-field cleanup after the passes
    std::optional<py::str> retire;  // the day's live rows retired (none with continuous holding)
    std::optional<py::str> insert;  // every row in one INSERT (none for a table without rows)
};

// Builds the writes that store `table` under `account_id` (every row's account_id is written as
// that id). `redis` None: no hash. The retire statement comes in `form`, with `stamp` as the
// retired rows' update_time in the upload form.
SignalWrites build_signal_writes(py::handle table, py::handle account_id, py::handle redis,
                                 bool continuous_holding, RetireForm form, const std::string& stamp);

// Sends the writes holding the day's turn of the account (signals/turn) on `turn_redis`: the hash
// passes and the stale-field cleanup, then the retire statement (a mutation touches only rows that
// exist when it is issued, so it precedes the insert), then the insert. `after`, when given, runs
// last, still within the turn. `who` names the upload in errors.
void write_signals(py::handle client, py::handle turn_redis, const SignalWrites& writes,
                   const std::string& who, const std::function<void()>& after = {});

}  // namespace norvane::signals
