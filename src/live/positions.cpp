#include "account/identity.hpp"
#include "common/literal_eval.hpp"
#include "common/ping.hpp"
#include "common/record.hpp"
#include "live/live.hpp"

namespace norvane::live {

py::object fun_redis_position(py::object self) {
    py::object redis = self.attr("redis_conn");
    if (auto silent = silent_redis(redis)) return *silent;
    py::object text = redis.attr("get")(account::account_id(self, "fun_redis_position"));
    return record::ok_data(literal_value(text));
}

py::object fun_redis_deal(py::object self, py::object dte) {
    py::object redis = self.attr("redis_conn");
    if (auto silent = silent_redis(redis)) return *silent;
    py::object key = account::account_id(self, "fun_redis_deal") + py::str("_") + py::str(dte);
    py::list deals;
    for (py::handle text : redis.attr("lrange")(key, 0, -1)) deals.append(literal_value(text));
    return record::ok_data(deals);
}

}  // namespace norvane::live
