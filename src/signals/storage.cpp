#include "signals/storage.hpp"

#include <set>

#include "common/namespace.hpp"
#include "common/number.hpp"
#include "common/sql.hpp"

namespace norvane::signals {

namespace {

// The keys of a hash record, in the order the execution side reads them.
constexpr const char* hash_columns[] = {
    "trading_day", "account_id", "contract",  "position", "direction", "signal_date",
    "order_typ",   "update_time", "trade_time", "user_id", "feature"};

// A field of the day's hash: the account id, "_" and the contract code.
std::string field_name(py::handle account_id, py::handle contract) {
    return py::str(account_id).cast<std::string>() + "_" + py::str(contract).cast<std::string>();
}

py::list rows_of(py::handle table) { return table.attr("to_dict")("records"); }

// Writes every record once, with `feature_shift` added to its feature.
void write_pass(py::handle redis, py::handle day, const std::vector<std::string>& fields,
                const std::vector<py::dict>& records, int feature_shift) {
    py::object dumps = ns("json").attr("dumps");
    py::object hset = redis.attr("hset");
    for (size_t i = 0; i < records.size(); ++i) {
        py::dict record = records[i];
        if (feature_shift != 0) {
            py::dict shifted;
            for (auto item : record) shifted[item.first] = item.second;
            shifted["feature"] = plus(record["feature"], py::int_(feature_shift));
            record = shifted;
        }
        hset(day, py::str(fields[i]), dumps(record));
    }
}

// Deletes the account's fields of the day that the upload no longer holds. Fields of other
// accounts, also for the same contracts, are never touched.
void remove_stale_fields(py::handle redis, py::handle day, py::handle account_id,
                         const std::vector<std::string>& fields) {
    std::set<std::string> kept(fields.begin(), fields.end());
    std::string owner = py::str(account_id).cast<std::string>();
    std::set<std::string> seen;
    py::object hdel = redis.attr("hdel");
    for (py::handle key : redis.attr("hkeys")(day)) {
        std::string name = py::str(key).cast<std::string>();
        if (!seen.insert(name).second) continue;
        if (name.substr(0, name.find('_')) == owner && kept.count(name) == 0) {
            hdel(day, py::str(name));
        }
    }
}

}  // namespace

py::object trading_day_of(py::handle table) { return table[py::str("trading_day")].attr("max")(); }

void write_signal_hash(py::handle table, py::handle account_id, py::handle redis,
                       bool continuous_holding) {
    py::object day = trading_day_of(table);
    std::vector<std::string> fields;
    std::vector<py::dict> records;
    for (py::handle row : rows_of(table)) {
        py::dict record;
        for (const char* column : hash_columns) record[column] = row[py::str(column)];
        fields.push_back(field_name(record["account_id"], record["contract"]));
        records.push_back(record);
    }
    if (continuous_holding) {
        write_pass(redis, day, fields, records, 0);
        return;
    }
    // The first pass marks the fields (feature + 20) while the upload is under way; the second
    // writes the feature as stored.
    write_pass(redis, day, fields, records, 20);
    write_pass(redis, day, fields, records, 0);
    remove_stale_fields(redis, day, account_id, fields);
}

void retire_live_signals(py::handle client, py::handle trading_day, py::handle account_id,
                         RetireForm form, const std::string& stamp) {
    std::string statement;
    if (form == RetireForm::upload) {
        statement = sql::fill(R"(ALTER TABLE factors.t_order_dtl UPDATE delete_tag = 2 , 
                                update_time = {stamp} WHERE trading_day={trading_day} and account_id == {account_id} and delete_tag is null)",
                              {{"stamp", sql::text(py::str(stamp))},
                               {"trading_day", sql::text(trading_day)},
                               {"account_id", sql::text(account_id)}});
    } else {
        statement = sql::fill(R"(ALTER TABLE factors.t_order_dtl UPDATE delete_tag = 2 WHERE trading_day={trading_day} and account_id == {account_id} and delete_tag is null)",
                              {{"trading_day", sql::text(trading_day)},
                               {"account_id", sql::text(account_id)}});
    }
    client.attr("command")(statement);
}

void insert_signals(py::handle client, py::handle table) {
    std::string columns = sql::column_list(table.attr("columns"));
    py::object command = client.attr("command");
    for (py::handle row : table.attr("itertuples")(py::arg("index") = false, py::arg("name") = py::none())) {
        std::string statement =
            sql::fill(R"(INSERT into factors.t_order_dtl ({columns}) values ({values});)",
                      {{"columns", columns}, {"values", sql::list(row)}});
        command(statement);
    }
}

}  // namespace norvane::signals
