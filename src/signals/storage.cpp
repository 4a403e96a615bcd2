#include "signals/storage.hpp"

#include <cmath>
#include <set>

#include "common/number.hpp"
#include "common/outside.hpp"
#include "common/sql.hpp"
#include "common/text.hpp"

namespace norvane::signals {

namespace {

// The keys of a hash record, in the order the execution side reads them.
constexpr const char* hash_columns[] = {
    "trading_day", "account_id", "contract",  "position", "direction", "signal_date",
    "order_typ",   "update_time", "trade_time", "user_id", "feature"};

// Text as it will be sent: a text without a UTF-8 form raises here, before any write.
py::str encodable(py::str text) {
    utf8(text);
    return text;
}

// The hash record of one row as JSON text, its feature shifted by `feature_shift`.
py::str hash_record(py::handle row, py::handle day, py::handle account_id, int feature_shift) {
    py::dict record;
    for (const char* column : hash_columns) record[column] = exact_number(row[py::str(column)]);
    record["trading_day"] = day;
    record["account_id"] = account_id;
    if (feature_shift != 0) record["feature"] = py::object(record["feature"]) + py::int_(feature_shift);
    return outside::json().attr("dumps")(record);
}

// The position of a column in the table, or -1.
py::ssize_t column_position(py::handle columns, const char* name) {
    py::ssize_t position = 0;
    for (py::handle column : columns) {
        if (column.equal(py::str(name))) return position;
        ++position;
    }
    return -1;
}

// Deletes the account's fields of the day that the upload no longer holds. Fields of other
// accounts, also for the same contracts, are never touched.
void remove_stale_fields(const SignalWrites& writes) {
    std::set<std::string> kept;
    for (const py::str& field : writes.fields) kept.insert(utf8(field));
    std::set<std::string> seen;
    py::object hdel = writes.redis.attr("hdel");
    for (py::handle key : writes.redis.attr("hkeys")(writes.day)) {
        std::string name = str_of(key);
        if (!seen.insert(name).second) continue;
        if (name.substr(0, name.find('_')) == writes.owner && kept.count(name) == 0) {
            hdel(writes.day, py::str(name));
        }
    }
}

}  // namespace

py::str trading_day_text(py::handle day) {
    if (PyUnicode_Check(day.ptr())) return encodable(py::str(utf8(day)));
    if (std::optional<Number> numeric = number(day)) {
        bool whole = numeric->kind == Number::floating && std::isfinite(numeric->value) &&
                     numeric->value == std::floor(numeric->value) && std::fabs(numeric->value) < 1e15;
        if (whole) return py::str(std::to_string(static_cast<long long>(numeric->value)));
        return py::str(numeric->digits);
    }
    return encodable(py::str(day));
}

SignalWrites build_signal_writes(py::handle table, py::handle account_id, py::handle redis,
                                 bool continuous_holding, RetireForm form, const std::string& stamp) {
    SignalWrites writes;
    writes.day = trading_day_text(table[py::str("trading_day")].attr("max")());
    writes.owner = str_of(account_id);
    writes.redis = py::reinterpret_borrow<py::object>(redis);

    if (!writes.redis.is_none()) {
        for (py::handle row : table.attr("to_dict")("records")) {
            py::str day = trading_day_text(row[py::str("trading_day")]);
            writes.fields.push_back(encodable(py::str(writes.owner + "_" + str_of(row[py::str("contract")]))));
            // With continuous holding one pass writes the feature as stored (already + 20);
            // otherwise the first pass marks the fields (feature + 20) while the upload is under
            // way and the second writes the feature as stored.
            if (!continuous_holding) writes.marked.push_back(hash_record(row, day, account_id, 20));
            writes.records.push_back(hash_record(row, day, account_id, 0));
        }
        writes.remove_stale = !continuous_holding;
    }

    if (!continuous_holding) {
        if (form == RetireForm::upload) {
            writes.retire = py::str(sql::fill(R"(ALTER TABLE factors.t_order_dtl UPDATE delete_tag = 2 , 
                                update_time = {stamp} WHERE trading_day={trading_day} and account_id == {account_id} and delete_tag is null)",
                                              {{"stamp", sql::text(py::str(stamp))},
                                               {"trading_day", sql::text(writes.day)},
                                               {"account_id", sql::text(account_id)}}));
        } else {
            writes.retire = py::str(sql::fill(R"(ALTER TABLE factors.t_order_dtl UPDATE delete_tag = 2 WHERE trading_day={trading_day} and account_id == {account_id} and delete_tag is null)",
                                              {{"trading_day", sql::text(writes.day)},
                                               {"account_id", sql::text(account_id)}}));
        }
    }

    py::object columns = table.attr("columns");
    const std::string column_list = sql::column_list(columns);
    const py::ssize_t day_column = column_position(columns, "trading_day");
    const py::ssize_t account_column = column_position(columns, "account_id");
    for (py::handle row : table.attr("itertuples")(py::arg("index") = false, py::arg("name") = py::none())) {
        py::list values(py::reinterpret_borrow<py::object>(row));
        if (day_column >= 0) values[day_column] = trading_day_text(values[day_column]);
        if (account_column >= 0) values[account_column] = account_id;
        writes.inserts.push_back(sql::row_insert("factors.t_order_dtl", column_list, values));
    }
    return writes;
}

void write_signals(py::handle client, const SignalWrites& writes) {
    if (!writes.redis.is_none()) {
        py::object hset = writes.redis.attr("hset");
        for (size_t i = 0; i < writes.marked.size(); ++i) hset(writes.day, writes.fields[i], writes.marked[i]);
        for (size_t i = 0; i < writes.records.size(); ++i) hset(writes.day, writes.fields[i], writes.records[i]);
        if (writes.remove_stale) remove_stale_fields(writes);
    }
    py::object command = client.attr("command");
    if (writes.retire) command(*writes.retire);
    for (const py::str& statement : writes.inserts) command(statement);
}

SignalWrites build_copy_writes(py::handle self, py::handle table, bool continuous_holding) {
    return build_signal_writes(table, self.attr("copy_account_id"), self.attr("copy_redis_conn"),
                               continuous_holding, RetireForm::copy, "");
}

}  // namespace norvane::signals
