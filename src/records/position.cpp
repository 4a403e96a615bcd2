// Position history: a real account's positions from the risk platform, or the stored daily
// position records of a range of days, filtered and keyed by `day`. A real account's records are
// kept in two tables, read together with nothing removed; a simulated account has its own.
#include "account/identity.hpp"
#include "common/guard.hpp"
#include "common/handled.hpp"
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
    if (auto refused = guard(self)) return *refused;
    py::str account = account::account_id(self, "fun_read_position");
    if (realtime_read(account, start_date, end_date)) return realtime_record(account, "持仓");
    auto range = query_range(start_date, end_date);
    if (!range) return bad_dates();
    ReadStep step = ReadStep::account_kind;
    return handled_at(step, [&]() -> py::object {
        const char* positions = real_account(account) ? stored_positions : simulated_positions;
        step = ReadStep::statement;
        return stored_rows(self, statement(positions, account, *range), step, {"day"});
    });
}

}  // namespace norvane::records
