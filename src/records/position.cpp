// Position history: a real account's positions from the risk platform, or the stored daily
// position records of a range of days, filtered and keyed by `day`. A real account's records are
// kept in two tables, read together with nothing removed; a simulated account has its own.
#include "records/frame.hpp"
#include "records/records.hpp"

namespace norvane::records {

namespace {

constexpr const char* simulated_positions = R"(select *
from simulate.ctp_positionstatics
where day >= {tmp_start_date} and day <= {tmp_end_date} and account_id = {account_id})";

constexpr const char* stored_positions = R"(select * from
    (select day,instrument_id,direction,open_price,average_price,
            position,exchange_id,account_id,market_value,vendor ,product_code,product
     from trade.is_cpositionstatics
     where day >= {tmp_start_date} and day <= {tmp_end_date} and account_id = {account_id}
    UNION ALL
     select day, instrument_id, direction, open_price, average_price,
            position, exchange_id, account_id, market_value, vendor ,product_code, product
     from trade.idata_cpositionstatics
     where day >= {tmp_start_date} and day <= {tmp_end_date} and account_id = {account_id}
    ))";

}  // namespace

py::object fun_read_position(py::object self, py::object start_date, py::object end_date) {
    static const History positions{"持仓", stored_positions, simulated_positions, nullptr, {"day"}};
    return read_history(self, start_date, end_date, positions);
}

}  // namespace norvane::records
