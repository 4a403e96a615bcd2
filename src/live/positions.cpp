#include "account/identity.hpp"
#include "common/literal_eval.hpp"
#include "common/plain.hpp"
#include "common/guard.hpp"
#include "common/handled.hpp"
#include "common/record.hpp"
#include "live/live.hpp"

namespace norvane::live {

py::object fun_redis_position(py::object self) {
    if (auto refused = guard(self)) return *refused;
    return handled([&]() -> py::object {
        py::object redis = self.attr("redis_conn");
        if (auto refused = ping_refused(redis)) return *refused;
        py::object text = redis.attr("get")(account::account_id(self, "fun_redis_position"));
        return record::ok_data(literal_value(text));
    });
}

py::object fun_redis_deal(py::object self, py::object dte) {
    constexpr const char* method = "fun_redis_deal";
    if (auto refused = guard(self)) return *refused;
    return handled([&]() -> py::object {
        // The key is the account id, "_" and the day: a day of eight digits (20250829 or
        // "20250829") never completes another account's key ("1_20250829" on account "X" would be
        // "X_1"'s).
        const py::str day = plain::trading_day(dte, plain::Where::argument(method, "dte"));
        py::object redis = self.attr("redis_conn");
        if (auto refused = ping_refused(redis)) return *refused;
        py::object key = account::account_id(self, method) + py::str("_") + day;
        py::list deals;
        for (py::handle text : redis.attr("lrange")(key, 0, -1)) deals.append(literal_value(text));
        return record::ok_data(deals);
    });
}

}  // namespace norvane::live
