#include "account/identity.hpp"
#include "common/guard.hpp"
#include "common/record.hpp"
#include "common/rows.hpp"
#include "common/sql.hpp"
#include "common/plain.hpp"
#include "signals/signals.hpp"

namespace norvane::signals {

namespace {

// One current row per trading day and contract: the live row uploaded last.
constexpr const char* clean_view = R"(select trading_day, account_id, contract, position, direction, signal_date, create_time, trade_time, user_id
                                    from factors.t_order_dtl 
                                    where trading_day >= {start_date} and trading_day <= {end_date} and account_id = {account_id} and delete_tag is null
                                    order by trading_day, account_id, contract, update_time desc
                                    limit 1 by trading_day, account_id, contract)";

// Every live and retired row: how the day's signals were replaced.
constexpr const char* full_view = R"(select trading_day, account_id, contract, position, direction, signal_date, create_time, trade_time, user_id
                                from factors.t_order_dtl 
                                where trading_day >= {start_date} and trading_day <= {end_date} and account_id = {account_id} and (delete_tag is null or delete_tag = 2))";

}  // namespace

py::object fun_read_signal(py::object self, py::object start_date, py::object end_date,
                           py::object clean) {
    if (auto refused = guard(self)) return *refused;
    if (py::len(start_date) != 8 || py::len(end_date) != 8) {
        return record::malformed_input();
    }
    std::string query = sql::fill(plain::truth(clean) ? clean_view : full_view,
                                  {{"start_date", sql::text(start_date)},
                                   {"end_date", sql::text(end_date)},
                                   {"account_id", sql::text(account::account_id(self, "fun_read_signal"))}});
    py::object result = self.attr("client").attr("query")(query);
    return record::ok("success", rows::row_dicts(result));
}

}  // namespace norvane::signals
