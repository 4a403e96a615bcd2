// Equity history: a real account's funds from the risk platform, or one balance per trading day
// over a range, whatever the account kind: the simulated accounts' daily values and the last
// snapshot of each day of the real accounts.
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "common/clock.hpp"
#include "common/handled.hpp"
#include "common/namespace.hpp"
#include "common/record.hpp"
#include "common/rows.hpp"
#include "records/frame.hpp"
#include "records/records.hpp"

namespace norvane::records {

namespace {

constexpr const char* daily_balances = R"(SELECT * FROM
(
    SELECT
        account_id,
        toDate(concat(substring(trading_day,1,4), '-', substring(trading_day,5,2), '-', substring(trading_day,7,2))) as trading_day,
        toFloat64(close_deposit) as balance,
        toDateTime('1970-01-01 00:00:00') as update_time
    FROM simulate.ctp_product_trend_values
    WHERE account_id = {account_id}
    HAVING trading_day >= {tmp_start_date} and trading_day <= {tmp_end_date}
)
UNION ALL

(
    SELECT
        account_id,
        toDate(trading_day) as trading_day,
        toFloat64(balance) as balance,
        toDateTime(create_time) as update_time
    FROM
    (
        SELECT
            trading_day,
            account_id,
            create_time,
            balance,
            rn
        FROM
        (
            SELECT
                trading_day,
                account_id,
                groupArray(create_time) AS create_time_arr,
                groupArray(balance) AS balance_arr,
                arrayEnumerate(create_time_arr) AS rn_arr
            FROM
            (
                SELECT *
                FROM trade.futures_account_daily_snapshot
                WHERE account_id = {account_id} AND trading_day >= {tmp_start_date} AND trading_day <= {tmp_end_date}
                ORDER BY trading_day, account_id, create_time DESC
            )
            GROUP BY trading_day, account_id
        )
        ARRAY JOIN
            create_time_arr AS create_time,
            balance_arr AS balance,
            rn_arr AS rn
        HAVING rn = 1
    )
))";

// The funds figures of the risk platform's answer, under the desk's names, read in this order.
constexpr std::pair<const char*, const char*> funds_fields[] = {
    {"available", "可用资金"},     {"balance", "账户权益"},    {"trading_day", "交易日"},
    {"position_profit", "持仓盈亏"}, {"close_profit", "平仓盈亏"}, {"commission", "手续费"},
    {"deposit", "入金"},           {"withdraw", "出金"},       {"pre_balance", "上次权益"},
};

py::object funds(py::handle self, py::handle answer) {
    py::dict record;
    record["account_id"] = trader_id(self);
    for (const auto& [name, field] : funds_fields) record[name] = answer[field];
    return record;
}

// Milliseconds since the epoch as seconds (a missing value fails here, as a division would).
py::object epoch_seconds(py::handle milliseconds) {
    PyObject* seconds = PyNumber_TrueDivide(milliseconds.ptr(), py::int_(1000).ptr());
    if (seconds == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(seconds);
}

// The calendar day a trading day's milliseconds (its UTC midnight) stand for. Rendering that
// instant in local time would give the day before west of UTC.
py::str calendar_day(py::handle milliseconds) {
    double seconds = epoch_seconds(milliseconds).cast<double>();
    std::int64_t days = static_cast<std::int64_t>(std::floor(seconds / 86400.0)) + 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned shifted_month = (5 * day_of_year + 2) / 153;
    const unsigned day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    const unsigned month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    const std::int64_t year = static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u", static_cast<long long>(year), month, day);
    return py::str(text);
}

// A time stamp's milliseconds rendered in the process's local time.
py::object local_time(py::handle milliseconds) {
    py::object moment = ns("datetime").attr("datetime").attr("fromtimestamp")(epoch_seconds(milliseconds));
    return moment.attr("strftime")(clock::seconds);
}

py::object balances(py::handle self, const Range& range) {
    return handled([&] {
        py::object result = attr(self, "client").attr("query")(statement(daily_balances, self, range));
        py::list rows = rows::row_dicts(result, {{}, {"account_id", "trading_day", "balance", "update_time"}});
        for (py::handle row : rows) {
            row["trading_day"] = calendar_day(row["trading_day"]);
            row["update_time"] = local_time(row["update_time"]);
        }
        return py::object(record::ok("success, ", rows));
    });
}

}  // namespace

py::object fun_read_equity(py::object self, py::object start_date, py::object end_date) {
    static const Frame equity{funds, balances};
    return read_records(self, start_date, end_date, equity);
}

}  // namespace norvane::records
