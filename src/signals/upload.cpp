#include <string>

#include "common/clock.hpp"
#include "common/labels.hpp"
#include "common/number.hpp"
#include "common/outside.hpp"
#include "common/record.hpp"
#include "common/text.hpp"
#include "common/truth.hpp"
#include "signals/signals.hpp"
#include "signals/storage.hpp"

namespace norvane::signals {

namespace {

// The columns a signal table is made of, in their stored order.
constexpr const char* input_columns[] = {"trading_day", "contract",  "position",   "direction",
                                         "signal_date", "order_typ", "trade_time", "feature"};

// The optional columns and the value a missing one is filled with.
py::object default_of(const std::string& column) {
    if (column == "signal_date" || column == "trade_time") return py::str("");
    if (column == "feature") return py::int_(0);
    return py::none();
}

// Adds the optional columns that are missing; the text naming every missing required column.
std::string complete_columns(py::object& table) {
    std::string missing;
    py::object columns = table.attr("columns");
    for (const char* column : input_columns) {
        if (columns.contains(py::str(column))) continue;
        py::object fill = default_of(column);
        if (fill.is_none()) {
            missing += record::missing_column(column);
        } else {
            table[py::str(column)] = fill;
        }
    }
    return missing;
}

size_t distinct_rows(py::handle table, py::list columns) {
    return py::len(table[columns].attr("drop_duplicates")());
}

// Rows whose values the execution side accepts; the others are dropped without a message.
py::object valid_rows(py::handle table) {
    py::object mask =
        table[py::str("direction")].attr("isin")(labels({"L", "S"})) &
        table[py::str("position")].attr("__ge__")(py::int_(0)) &
        table[py::str("order_typ")].attr("isin")(
            labels({"call_auction", "intraday_trading", "before_close"})) &
        table[py::str("trade_time")].attr("isin")(labels({"D", "N", ""})) &
        table[py::str("feature")].attr("isin")(py::make_tuple(0, 1));
    return table[mask];
}

// What an upload is compared by: sorted by contract, renumbered, without the time stamps.
py::object comparison_table(py::handle table) {
    return table.attr("sort_values")(py::arg("by") = "contract")
        .attr("reset_index")(py::arg("drop") = true)
        .attr("drop")(py::arg("columns") = labels({"create_time", "update_time"}));
}

std::string counts_text(size_t input_count, size_t valid_count, const std::string& stamp) {
    return "输入" + std::to_string(input_count) + ", 有效" + std::to_string(valid_count) + " " +
           stamp;
}

}  // namespace

py::object fun_update_signal(const std::string& stamp, py::object self, py::object input_data,
                             py::object use_redis, py::object continuous_holding,
                             py::object /*simple*/) {
    // A table of the method's own, so that the caller's table keeps its columns.
    py::object table = outside::pd().attr("DataFrame")(input_data).attr("copy")();
    std::string missing = complete_columns(table);
    if (!missing.empty()) return record::rejected(missing);
    size_t pairs = distinct_rows(table, labels({"trading_day", "contract"}));
    if (pairs != py::len(table)) return record::duplicate_rows();
    if (pairs == 0) return record::empty_input();
    if (distinct_rows(table, labels({"trading_day"})) != 1) {
        return record::rejected("输入数据中的日期有不同值, 目前只支持单次上传单一日期......");
    }

    py::list columns;
    for (const char* column : input_columns) columns.append(column);
    table = table[columns];
    size_t input_count = py::len(table);
    table = valid_rows(table).attr("copy")();
    size_t valid_count = py::len(table);

    const bool to_redis = truthy(use_redis);
    const bool continuous = truthy(continuous_holding);
    table[py::str("account_id")] = self.attr("account_id");
    table[py::str("user_id")] = self.attr("user_id");
    table[py::str("create_time")] = py::str(stamp);
    table[py::str("update_time")] = py::str(stamp);
    table[py::str("data_source")] = py::str(to_redis ? "redis" : "clickhouse");
    if (continuous) {
        // A new table rather than an assignment into a column just read: pandas takes a column
        // written through a borrowed reference for a chained assignment.
        py::dict shifted;
        shifted["feature"] = py::object(table[py::str("feature")]) + py::int_(20);
        table = table.attr("assign")(**shifted);
    }

    py::object comparison = comparison_table(table);
    if (comparison.attr("equals")(self.attr("update_df")).cast<bool>()) {
        return record::ok("和上次一致, " + counts_text(input_count, valid_count, stamp));
    }
    if (valid_count == 0) {
        throw py::value_error(
            "输入数据没有有效行: direction 须为 L/S, position >= 0, order_typ 须为 call_auction/"
            "intraday_trading/before_close, trade_time 须为 D/N/空, feature 须为 0/1");
    }

    // Every write of the account's own is built before the first one goes out, so a value that
    // cannot be written leaves the day untouched. The copy account's writes are the same values
    // under the copy account's id, built when their turn comes (fun_replicate_save); that id is
    // checked here.
    py::object account_id = self.attr("account_id");
    py::object redis = to_redis ? py::object(self.attr("redis_conn")) : py::none();
    SignalWrites own = build_signal_writes(table, account_id, redis, continuous, RetireForm::upload, stamp);
    if (truthy(self.attr("if_copy"))) str_of(self.attr("copy_account_id"));

    // The day's turn is taken on the environment's Redis, whether or not the hash is written,
    // and held until the copy account's writes are done too.
    write_signals(self.attr("client"), self.attr("redis_conn"), own,
                  "fun_update_signal: account " + own.owner, [&] {
                      self.attr("fun_replicate_save")(py::arg("tmp_mat") = table,
                                                       py::arg("continuous_holding") = continuous_holding);
                  });
    // Remembered only once every write has gone out, the copy account's included: an upload
    // that failed anywhere, repeated through the same object, is stored again in full.
    self.attr("update_df") = comparison;
    return record::ok(counts_text(input_count, valid_count, stamp));
}

}  // namespace norvane::signals
