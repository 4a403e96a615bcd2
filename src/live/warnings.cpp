#include "account/identity.hpp"
#include "common/literal_eval.hpp"
#include "common/guard.hpp"
#include "common/handled.hpp"
#include "common/record.hpp"
#include "common/sql.hpp"
#include "live/live.hpp"

namespace norvane::live {

namespace {

// The account's field of a warning hash; a missing field raises KeyError naming the account.
py::object warning_entry(py::handle redis, const char* hash, py::handle account_id) {
    return redis.attr("hgetall")(hash)[account_id];
}

}  // namespace

// The account's capital (market value) in its register rows in force and trading, by the server clock.
constexpr const char* capital_in_force = R"(SELECT account_id, market_value
FROM factors.t_account_info
WHERE {valid} and trade_flag = 'T' and account_id = {account_id})";

py::object fun_last_trade(py::object self) {
    if (auto refused = guard(self)) return *refused;
    return handled([&]() -> py::object {
        py::object redis = self.attr("redis_conn");
        if (auto refused = ping_refused(redis)) return *refused;
        return record::ok_data(warning_entry(redis, "deal_warning", account::account_id(self, "fun_last_trade")));
    });
}

py::object fun_margin_used(py::object self) {
    if (auto refused = guard(self)) return *refused;
    return handled([&]() -> py::object {
        py::object redis = self.attr("redis_conn");
        if (auto refused = ping_refused(redis)) return *refused;
        py::str account = account::account_id(self, "fun_margin_used");
        py::object entry = literal_value(warning_entry(redis, "balance_warning", account));
        // The register's validity test uses the server clock and includes the end of the row.
        std::string statement = sql::fill(capital_in_force, {{"valid", sql::valid_at_server_now},
                                                             {"account_id", sql::text(account)}});
        py::object rows = self.attr("client").attr("query")(statement).attr("result_set");
        entry[py::str("shares")] = rows[py::int_(0)][py::int_(1)];
        return record::ok_data(entry);
    });
}

}  // namespace norvane::live
