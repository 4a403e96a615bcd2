#include <optional>
#include <string>

#include "account/endpoints.hpp"
#include "account/identity.hpp"
#include "common/clock.hpp"
#include "common/handled.hpp"
#include "common/guard.hpp"
#include "common/plain.hpp"
#include "common/record.hpp"
#include "common/sql.hpp"
#include "common/text.hpp"
#include "splitting/split_mode_record.hpp"
#include "splitting/splitting.hpp"

namespace norvane::splitting {

namespace {

// Every change, returns to the default included, is kept in the change log.
constexpr const char* log_change = R"(INSERT INTO strategy.param_modify_log
(account_id, split_mode, ts, effective_hour)
VALUES
({account_id}, {mode}, {ts}, {effective_hour}))";

// How many split modes have the id.
constexpr const char* mode_count = R"(select count(*) as n
from strategy.param_account_info
where account_id like '4321%' and account_id = {mode})";

// The mode ids are exactly the ids of strategy.param_account_info that begin with "4321".
bool is_split_mode(py::handle self, const py::str& mode) {
    std::string statement = sql::fill(mode_count,
                                      {{"mode", sql::text(mode)}});
    py::object result = self.attr("client").attr("query")(statement);
    py::object n = py::list(result.attr("column_names")).attr("index")("n");
    py::object count = result.attr("result_set")[py::int_(0)][n];
    return count.not_equal(py::int_(0));
}

// The log row first, then the account's field of "split_mode"; returns the change time's text.
// The record text is made before either write, so a mode that cannot be recorded writes nothing.
std::string record_change(py::handle self, const char* method, const py::str& mode, py::handle effective_hour) {
    py::str account = account::account_id(self, method);
    py::object now = clock::now();
    std::string ts = utf8(now.attr("strftime")(clock::seconds));
    std::string record_text = split_mode_text(method, now, effective_hour, mode);
    endpoints::clickhouse_command(self.attr("client"), py::str(sql::fill(log_change, {
        {"account_id", sql::text(account)},
        {"mode", sql::text(mode)},
        {"ts", sql::text(py::str(ts))},
        {"effective_hour", sql::literal(effective_hour)},
    })));
    self.attr("redis_conn").attr("hset")("split_mode", account, record_text);
    return ts;
}

}  // namespace

py::object fun_set_split_mode(py::object self, py::object mode, py::object effective_hour) {
    if (auto refused = guard(self)) return *refused;
    // Each argument is read once, as plain values: the mode id's text (a text by its own
    // characters, a whole number by its digits) and the hours as a plain number.
    const plain::Where hours_argument = plain::Where::argument("fun_set_split_mode", "effective_hour");
    std::optional<py::object> hours = plain::real(effective_hour, hours_argument);
    if (!hours) plain::refuse(PyExc_TypeError, hours_argument, "must be a number, not " + plain::shown(effective_hour));
    // A mode id is a text or a whole number; anything else is no mode (answered as such below).
    std::optional<py::str> mode_id = plain::identity_text(mode, plain::Where::argument("fun_set_split_mode", "mode"));
    if ((mode_id && py::len(*mode_id) == 0) || hours->equal(py::int_(-1))) {
        return record::rejected("mode, effective_hour 不能为空");
    }
    // Only hours strictly between 0 and 24 are taken; a NaN is in no range and is refused too.
    if (!(*hours > py::int_(0) && *hours < py::int_(24))) {
        return record::rejected("effective_hour 范围 0-24 ");
    }
    return handled([&]() -> py::object {
        if (!mode_id || !is_split_mode(self, *mode_id)) {
            return record::rejected("mode " + (mode_id ? utf8(*mode_id) : plain::shown(mode)) + " 不在可选项目中");
        }
        if (auto refused = ping_refused(self.attr("redis_conn"))) return *refused;
        std::string ts = record_change(self, "fun_set_split_mode", *mode_id, *hours);
        return record::ok("success. start_time: " + ts +
                          ", effective_hour: " + str_of(*hours) +
                          ", split_mode: " + utf8(*mode_id) + " ");
    });
}

py::object fun_back_to_default_split_mode(py::object self) {
    if (auto refused = guard(self)) return *refused;
    return handled([&]() -> py::object {
        if (auto refused = ping_refused(self.attr("redis_conn"))) return *refused;
        record_change(self, "fun_back_to_default_split_mode", py::str("default"), py::int_(-1));
        return record::ok("success");
    });
}

}  // namespace norvane::splitting
