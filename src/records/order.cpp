// Order history: a real account's orders of the day from the risk platform, or the stored orders
// of a range of trading days. Simulated accounts have no order history.
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
    static const History orders{"委托", stored_orders, nullptr,
                                "仿真环境暂不提供实时/历史委托查询服务。", {"trading_day", "day"}};
    return read_history(self, start_date, end_date, orders);
}

}  // namespace norvane::records
