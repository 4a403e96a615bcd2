#include <array>
#include <set>
#include <string>
#include <utility>

#include "account/identity.hpp"
#include "common/clock.hpp"
#include "common/guard.hpp"
#include "common/outside.hpp"
#include "common/plain.hpp"
#include "common/record.hpp"
#include "common/text.hpp"
#include "signals/signals.hpp"
#include "signals/storage.hpp"

namespace norvane::signals {

namespace {

constexpr const char* method = "fun_update_signal";

// The input columns are the first eight of the normalised table (signal_columns).
constexpr size_t input_columns = 8;

// The value a missing optional column is filled with; nothing for a required column.
std::optional<py::object> default_of(col::Index column) {
    if (column == col::signal_date || column == col::trade_time) return py::object(py::str(""));
    if (column == col::feature) return py::object(py::int_(0));
    return std::nullopt;
}

bool one_of(py::handle value, std::initializer_list<const char*> allowed) {
    if (!PyUnicode_Check(value.ptr())) return false;
    for (const char* text : allowed) {
        if (PyUnicode_CompareWithASCIIString(value.ptr(), text) == 0) return true;
    }
    return false;
}

// The values the execution side accepts; a row outside them is dropped without a message.
bool valid(const std::array<py::list, input_columns>& input, size_t row) {
    return one_of(input[col::direction][row], {"L", "S"}) && plain::compares(input[col::position][row], Py_GE, 0) &&
           one_of(input[col::order_typ][row], {"call_auction", "intraday_trading", "before_close"}) &&
           one_of(input[col::trade_time][row], {"D", "N", ""}) &&
           (plain::compares(input[col::feature][row], Py_EQ, 0) || plain::compares(input[col::feature][row], Py_EQ, 1));
}

// What an upload is compared by: sorted by contract, renumbered, without the time stamps.
py::object comparison_table(py::handle table) {
    py::list stamps;
    for (const char* column : {"create_time", "update_time"}) stamps.append(column);
    return table.attr("sort_values")(py::arg("by") = "contract")
        .attr("reset_index")(py::arg("drop") = true)
        .attr("drop")(py::arg("columns") = stamps);
}

std::string counts_text(size_t input_count, size_t valid_count, const std::string& stamp) {
    return "输入" + std::to_string(input_count) + ", 有效" + std::to_string(valid_count) + " " +
           stamp;
}

}  // namespace

py::object fun_update_signal(py::object self, py::object input_data, py::object use_redis,
                             py::object continuous_holding, py::object /*simple*/) {
    // The call time stamp is the upload's first action, before the guard: a refused upload has
    // read the clock too, and every stamp of the call is the moment of the call.
    const std::string stamp = clock::call_stamp();
    if (auto refused = guard(self)) return *refused;

    // Every caller object is asked once: the flags, the identity, the table.
    const bool to_redis = plain::truth(use_redis);
    const bool continuous = plain::truth(continuous_holding);
    const py::str account = account::account_id(self, method);
    const py::str user = account::user_id(self, method);
    const plain::Where table_argument = plain::Where::argument(method, "input_data");
    const plain::Columns given = plain::columns(plain::table(input_data, table_argument), table_argument);

    std::string missing;
    for (size_t column = 0; column < input_columns; ++column) {
        if (!given.find(signal_columns[column]) && !default_of(static_cast<col::Index>(column))) {
            missing += record::missing_column(signal_columns[column]);
        }
    }
    if (!missing.empty()) return record::rejected(missing);

    // Input checks: every value of the eight columns made plain once, by its column's rule
    // (signals/storage.hpp, signal_value).
    const size_t input_count = static_cast<size_t>(given.rows);
    std::array<py::list, input_columns> input;
    for (size_t column = 0; column < input_columns; ++column) {
        const auto index = static_cast<col::Index>(column);
        const plain::Where where = plain::Where::column(method, signal_columns[column]);
        const py::list* values = given.find(signal_columns[column]);
        const std::optional<py::object> fill = values ? std::nullopt : default_of(index);
        for (size_t row = 0; row < input_count; ++row) {
            input[column].append(values ? signal_value(SignalTable::upload, index, (*values)[row],
                                                       where.at(static_cast<Py_ssize_t>(row)))
                                        : *fill);
        }
    }

    std::set<std::pair<std::string, std::string>> pairs;
    std::set<std::string> days;
    for (size_t row = 0; row < input_count; ++row) {
        days.insert(utf8(input[col::trading_day][row]));
        pairs.emplace(utf8(input[col::trading_day][row]), utf8(input[col::contract][row]));
    }
    if (pairs.size() != input_count) return record::duplicate_rows();
    if (pairs.empty()) return record::empty_input();
    if (days.size() != 1) {
        return record::rejected("输入数据中的日期有不同值, 目前只支持单次上传单一日期......");
    }

    SignalRows rows;
    const py::str source(to_redis ? "redis" : "clickhouse");
    for (size_t row = 0; row < input_count; ++row) {
        if (!valid(input, row)) continue;
        py::object feature = input[col::feature][row];
        if (continuous) feature = feature + py::int_(20);
        rows.append({input[col::trading_day][row], input[col::contract][row], input[col::position][row],
                     input[col::direction][row], input[col::signal_date][row], input[col::order_typ][row],
                     input[col::trade_time][row], feature, account, user, py::str(stamp), py::str(stamp), source});
    }
    const size_t valid_count = rows.size();

    py::object table = signal_table(rows);
    py::object comparison = comparison_table(table);
    if (plain::truth(comparison.attr("equals")(self.attr("update_df")))) {
        return record::ok("和上次一致, " + counts_text(input_count, valid_count, stamp));
    }
    if (valid_count == 0) {
        throw py::value_error(
            "输入数据没有有效行: direction 须为 L/S, position >= 0, order_typ 须为 call_auction/"
            "intraday_trading/before_close, trade_time 须为 D/N/空, feature 须为 0/1");
    }

    // Every object the writes use is taken now, once, before the first write, and one that cannot
    // serve refuses the upload by name: the lock's times, the client, the environment's Redis (the
    // day's lock, whether or not the hash is written), the copy step (whether a copy account takes
    // the rows, which one, on which Redis) and the method that stores the copy account's rows.
    const LockTimes times = lock_times(method);
    py::object client = connection(self, "client", method, Use::statements);
    py::object redis = connection(self, "redis_conn", method, to_redis ? Use::hash : Use::lock);
    CopyStep copy = copy_step(self, method, client);
    py::object replicate = taken(self, "fun_replicate_save", method);
    if (!PyCallable_Check(replicate.ptr())) {
        plain::refuse(PyExc_TypeError, plain::Where::attribute(method, "fun_replicate_save"),
                      "must be callable, not " + plain::shown(replicate) + "; nothing was written");
    }
    // Every write of the account's own is built before the first one goes out. The copy
    // account's writes are the same plain values under its id, built by fun_replicate_save.
    SignalWrites own = build_signal_writes(rows, account, to_redis ? redis : py::none(), continuous,
                                           RetireForm::upload, stamp);

    // The day's lock is held until the copy account's writes are done too.
    UploadLock lock(redis, own.day, utf8(account), times, std::string(method) + ": account " + utf8(account));
    lock.hold([&] {
        write_signals(client, lock, own);
        UploadUnderWay upload(self, lock, std::move(copy));
        replicate(py::arg("tmp_mat") = table, py::arg("continuous_holding") = py::bool_(continuous));
    });
    // Remembered only once every write has gone out, the copy account's included: an upload
    // that failed anywhere, repeated through the same object, is stored again in full.
    self.attr("update_df") = comparison;
    return record::ok(counts_text(input_count, valid_count, stamp));
}

}  // namespace norvane::signals
