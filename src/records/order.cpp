// Order history: a real account's orders of the day from the risk platform, or the stored orders
// of a range of trading days. Simulated accounts have no order history.
#include "account/identity.hpp"
#include "common/guard.hpp"
#include "common/handled.hpp"
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

py::object fun_read_order(py::object self, py::object start_date, py::object end_date) {
    if (auto refused = guard(self)) return *refused;
    py::str account = account::account_id(self, "fun_read_order");
    if (realtime_read(account, start_date, end_date)) return realtime_record(account, "委托");
    auto range = query_range(start_date, end_date);
    if (!range) return bad_dates();
    ReadStep step = ReadStep::account_kind;
    return handled_at(step, [&]() -> py::object {
        if (!real_account(account)) return record::rejected("仿真环境暂不提供实时/历史委托查询服务。");
        step = ReadStep::statement;
        return stored_rows(self, statement(stored_orders, account, *range), step, {"trading_day", "day"});
    });
}

}  // namespace norvane::records
