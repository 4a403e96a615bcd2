// Equity history: a real account's funds from the risk platform, or one balance per trading day
// over a range, whatever the account kind: the simulated accounts' daily values and the last
// snapshot of each day of the real accounts.
#include <unordered_map>

#include "account/identity.hpp"
#include "common/clock.hpp"
#include "common/guard.hpp"
#include "common/handled.hpp"
#include "common/outside.hpp"
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

py::object funds(const py::str& account, py::handle answer) {
    py::dict record;
    record["account_id"] = trader_id(account);
    for (const auto& [name, field] : funds_fields) record[name] = answer[field];
    return record;
}

// Milliseconds since the epoch as seconds (a missing value fails here, as a division would).
py::object epoch_seconds(py::handle milliseconds) {
    return py::reinterpret_borrow<py::object>(milliseconds) / py::int_(1000);
}

// The calendar day a trading day's milliseconds (its UTC midnight) stand for. Rendering that
// instant in local time would give the day before west of UTC.
py::object calendar_day(py::handle milliseconds) {
    return clock::utc_date(epoch_seconds(milliseconds));
}

// A time stamp's milliseconds rendered in the process's local time.
py::object local_time(py::handle milliseconds) {
    py::object moment = outside::datetime().attr("datetime").attr("fromtimestamp")(epoch_seconds(milliseconds));
    return clock::strftime(moment, clock::seconds);
}

// Renders each distinct number of milliseconds once: a range repeats its days, and every
// simulated row has the same placeholder time.
class Rendered {
  public:
    explicit Rendered(py::object (*render)(py::handle)) : render_(render) {}

    py::object operator()(py::handle milliseconds) {
        if (!PyLong_CheckExact(milliseconds.ptr())) return render_(milliseconds);
        int overflow = 0;
        long long key = PyLong_AsLongLongAndOverflow(milliseconds.ptr(), &overflow);
        if (overflow != 0) return render_(milliseconds);
        auto found = seen_.find(key);
        if (found == seen_.end()) found = seen_.emplace(key, render_(milliseconds)).first;
        return found->second;
    }

  private:
    py::object (*render_)(py::handle);
    std::unordered_map<long long, py::object> seen_;
};

}  // namespace

py::object fun_read_equity(py::object self, py::object start_date, py::object end_date) {
    if (auto refused = guard(self)) return *refused;
    py::str account = account::account_id(self, "fun_read_equity");
    if (realtime_read(account, start_date, end_date)) {
        auto answer = realtime_answer(account);
        return answer ? realtime_ok(funds(account, *answer)) : realtime_refused();
    }
    auto range = query_range(start_date, end_date);
    if (!range) return bad_dates();
    return handled([&]() -> py::object {
        py::object result = self.attr("client").attr("query")(statement(daily_balances, account, *range));
        py::list rows = rows::row_dicts(result, {{}, {"account_id", "trading_day", "balance", "update_time"}});
        Rendered days(calendar_day), times(local_time);
        for (py::handle row : rows) {
            row["trading_day"] = days(row["trading_day"]);
            row["update_time"] = times(row["update_time"]);
        }
        return record::ok("success, ", rows);
    });
}

}  // namespace norvane::records
