#pragma once
// Signal storage: the day's signal hash in Redis and the signal table factors.t_order_dtl.
//
// One run of the storage procedure is built first and written after: every hash record's JSON
// text and the statements, from the plain values of a normalised signal table, so the hash and
// the rows always hold the same values. The writes go out in a fixed number of round trips,
// whatever the number of rows: one hset per pass, one hkeys (an hmget and an hdel when fields go
// stale) for the cleanup, the retire statement and one insert.
#include <pybind11/pybind11.h>

#include <array>
#include <optional>
#include <string>

#include "common/plain.hpp"
#include "signals/upload_lock.hpp"

namespace norvane::signals {
namespace py = pybind11;

// The columns of a normalised signal table, in their stored order: the eight input columns, then
// account_id, user_id, create_time, update_time and data_source.
inline constexpr std::array<const char*, 13> signal_columns = {
    "trading_day", "contract",   "position", "direction",   "signal_date", "order_typ",  "trade_time",
    "feature",     "account_id", "user_id",  "create_time", "update_time", "data_source"};
namespace col {
enum Index : size_t { trading_day, contract, position, direction, signal_date, order_typ, trade_time,
                      feature, account_id, user_id, create_time, update_time, data_source };
}  // namespace col

// A normalised signal table as plain values (common/plain), one list per column: trading days as
// eight digits, contracts and the other texts as plain str, positions and features as plain int
// or float (finite).
struct SignalRows {
    std::array<py::list, signal_columns.size()> columns;

    size_t size() const { return columns[0].size(); }
    py::handle at(col::Index column, size_t row) const { return columns[column][row]; }
    void append(const std::array<py::object, signal_columns.size()>& row);
};

// A contract code: non-empty text without "_". The hash field of a signal is the account id, "_"
// and the contract, so a contract holding "_" could name a field of another account ("X" with
// "1_rb2601" is the field of "X_1" with "rb2601"); exchange codes (rb2601, IF2512, SR601C5000,
// m2601-C-3000) never hold one.
py::str signal_contract(py::handle value, const plain::Where& where);

// The two tables whose values reach the signal store.
enum class SignalTable {
    upload,  // fun_update_signal's input: its validity filter then drops the rows it judges invalid
    copy,    // fun_replicate_save's tmp_mat: normalised rows, stored as they are, with no filter
};

// The rule of each signal column, for both tables (one table of rules; where the two differ, the
// reason is that only an upload's rows pass the validity filter):
//   trading_day  eight digits, from a text or a whole number (both)
//   contract     non-empty text without "_" (both; signal_contract)
//   position     a real number; NaN is kept for the filter in an upload, refused in a copy
//   feature      a real number; another value is kept as None for the filter in an upload,
//                refused in a copy (NaN too)
//   signal_date  text; a missing value is "" in an upload, refused in a copy
//   other texts  direction, order_typ, trade_time (and a copy's five stored columns): text; a
//                value that is no text is kept as None for the filter in an upload, refused in a
//                copy
// A value with no valid form in either table is refused with an error naming `where`.
py::object signal_value(SignalTable table, col::Index column, py::handle value, const plain::Where& where);

// The rows of a normalised signal table that a caller hands over (fun_replicate_save's tmp_mat),
// each value made plain by its column's rule; a value with no valid form, a missing column or a
// table with labels that are not plain texts is refused, naming `method`.
SignalRows normalised_rows(py::handle table, const char* method);

// The rows as a pandas DataFrame with the 13 columns.
py::object signal_table(const SignalRows& rows);

// How a retire statement treats the retired rows' update_time.
enum class RetireForm {
    upload,  // the uploading account: update_time becomes the upload's call time stamp
    copy,    // the copy account: update_time stays as it was
};

// Everything one run sends for one account, in the order it is sent.
struct SignalWrites {
    py::str day;                    // the hash key: the greatest trading day of the rows
    py::str owner;                  // the account the rows are stored under
    py::object redis;               // the hash's connection; None: the hash is not written
    py::dict marked;                // field -> record with feature + 20 (empty: no marking pass)
    py::dict records;               // field -> record as stored
    bool remove_stale = false;      // the stale-field cleanup after the passes
    std::optional<py::str> retire;  // the day's live rows retired (none with continuous holding)
    std::optional<py::str> insert;  // every row in one INSERT (none for no rows)
};

// Builds the writes that store `rows` under `owner` (every row's account_id is written as it).
// `redis` None: no hash. The retire statement comes in `form`, with `stamp` as the retired rows'
// update_time in the upload form.
SignalWrites build_signal_writes(const SignalRows& rows, const py::str& owner, py::handle redis,
                                 bool continuous_holding, RetireForm form, const std::string& stamp);

// The account object's attribute `name`, taken once before the first write of `method`; a
// missing one is refused (AttributeError naming `method` and the attribute).
py::object taken(py::handle self, const char* name, const char* method);

// What the writes do with a connection, and so the methods they call on it.
enum class Use {
    lock,        // a Redis holding an upload lock: set, eval
    hash,        // a Redis holding a lock and a signal hash: set, eval, hset, hkeys, hmget, hdel
    statements,  // the ClickHouse client: command
};

// A connection or client the writes use: refused (TypeError naming `method` and the attribute)
// when it is None or a method of its `use` is missing or not callable.
py::object connection(py::handle self, const char* name, const char* method, Use use);
// The copy step of `self`'s writes, its objects taken now: no account when `if_copy` is false,
// else `copy_account_id`, `copy_redis_conn` and the ClickHouse client (`client` when given,
// already taken, else `self`'s).
CopyStep copy_step(py::handle self, const char* method, py::object client = py::object());

// Sends the writes holding the upload lock of the day and account (signals/upload_lock), each
// after renewing it: the hash passes and the stale-field cleanup, then the retire statement (a
// mutation touches only rows that exist when it is issued, so it precedes the insert), then the
// insert.
void write_signals(py::handle client, UploadLock& lock, const SignalWrites& writes);

}  // namespace norvane::signals
