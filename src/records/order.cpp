// Order history: a real account's orders of the day from the risk platform, or the stored orders
// of a range of trading days. Simulated accounts have no order history.
#include "account/identity.hpp"
#include "common/record.hpp"
#include "records/frame.hpp"
#include "records/records.hpp"

namespace norvane::records {

namespace {

constexpr const char* stored_orders = R"(SELECT
    day,
    trading_day,
    trading_time,
    instrument_id,
    entrust_direction,
    price,
    entrust_volume,
    deal_volume,
    exchange_id,
    entrust_serial_no,
    entrust_status
FROM
    trade.is_corderdetail
WHERE
    trading_day >= {tmp_start_date} and trading_day <= {tmp_end_date} and account_id = {account_id})";

}  // namespace

py::object fun_read_order(Step& step, py::object self, py::object start_date, py::object end_date) {
    py::str account = account::account_id(self, "fun_read_order");
    if (realtime_read(account, start_date, end_date)) return realtime_record(account, "委托");
    auto range = query_range(start_date, end_date);
    if (!range) return bad_dates();
    // The main steps, numbered as in common/handled.hpp (Step).
    step = 1;
    if (!real_account(account)) return record::rejected("仿真环境暂不提供实时/历史委托查询服务。");
    step = 2;
    return stored_rows(self, statement(stored_orders, account, *range), step, {"trading_day", "day"});
}

}  // namespace norvane::records
