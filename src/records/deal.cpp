// Deal history: a real account's deals of the day from the risk platform, or the stored deals of
// a range of trading days. A real account's deals are kept in two tables, read together with
// nothing removed; a simulated account has a table of its own.
#include "account/identity.hpp"
#include "common/guard.hpp"
#include "common/handled.hpp"
#include "records/frame.hpp"
#include "records/records.hpp"

namespace norvane::records {

namespace {

constexpr const char* simulated_deals = R"(select *
from simulate.ctp_dealdetail
where trading_day >= {tmp_start_date} and trading_day <= {tmp_end_date} and account_id = {account_id})";

constexpr const char* stored_deals = R"(select * from
    (select day, trading_day, trading_time, instrument_id, entrust_direction,
            price, volume, commission, exchange_id, product, vendor, product_code, entrust_serial_no, account_id, trade_id
     from trade.is_cdealdetail
     where trading_day >= {tmp_start_date} and trading_day <= {tmp_end_date} and account_id = {account_id}
    UNION ALL
     select day, trading_day, trading_time, instrument_id, entrust_direction,
            price, volume, commission, exchange_id, product, vendor, product_code, entrust_serial_no, account_id, trade_id
     from trade.idata_cdealdetail
     where trading_day >= {tmp_start_date} and trading_day <= {tmp_end_date} and account_id = {account_id}
    ))";

}  // namespace

py::object fun_read_deal(py::object self, py::object start_date, py::object end_date) {
    if (auto refused = guard(self)) return *refused;
    py::str account = account::account_id(self, "fun_read_deal");
    if (realtime_read(account, start_date, end_date)) return realtime_record(account, "成交");
    auto range = query_range(start_date, end_date);
    if (!range) return bad_dates();
    ReadStep step = ReadStep::account_kind;
    return handled_at(step, [&]() -> py::object {
        const char* deals = real_account(account) ? stored_deals : simulated_deals;
        step = ReadStep::statement;
        return stored_rows(self, statement(deals, account, *range), step, {"trading_day", "day"});
    });
}

}  // namespace norvane::records
