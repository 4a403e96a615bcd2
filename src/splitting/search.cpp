#include "account/identity.hpp"
#include "common/clock.hpp"
#include "common/guard.hpp"
#include "common/handled.hpp"
#include "common/record.hpp"
#include "common/rows.hpp"
#include "common/sql.hpp"
#include "splitting/split_mode_queries.hpp"
#include "splitting/split_mode_record.hpp"
#include "splitting/splitting.hpp"

namespace norvane::splitting {

namespace {

// The id column and the seven parameters, under the names the desk reads them by.
constexpr const char* parameter_names[] = {
    "拆单方式ID",         "报单价格",       "是否使用拆单",     "总时长（分钟）",
    "报单时间间隔（秒）", "撤单时长（秒）", "拆单单笔最大手数", "拆单单笔最小手数",
};

// Accounts of env "test" take the test defaults; every other env the production ones.
py::str env_class(py::handle self) {
    return py::str(py::object(self.attr("env")).equal(py::str("test")) ? "test" : "prod");
}

}  // namespace

py::object fun_search_split_mode(py::object self, py::object mode) {
    if (auto refused = guard(self)) return *refused;
    bool current = mode.equal(py::str("current"));
    bool available = mode.equal(py::str("available"));
    if (!current && !available && !mode.equal(py::str("default"))) {
        return record::rejected("mode枚举值需要在 ['current', 'available', 'default']之中 ");
    }
    return handled([&]() -> py::object {
        py::str account = account::account_id(self, "fun_search_split_mode");
        py::dict change;
        std::string statement = queries::available;
        if (!available) {
            std::string chosen_row = queries::own_row;
            if (current) {
                py::object modes = self.attr("redis_conn").attr("hgetall")("split_mode");
                py::str field = account;
                if (modes.contains(field)) {
                    py::dict running = parse_split_mode(modes[field]);
                    if (in_effect(running, clock::now())) {
                        chosen_row = sql::fill(queries::mode_row,
                                               {{"mode_id", sql::text(running["split_mode"])}});
                        change = running;
                    }
                }
            }
            statement = sql::fill(queries::account_parameters,
                                  {{"chosen_row", chosen_row},
                                   {"account_id", sql::text(account)},
                                   {"env_class", sql::text(env_class(self))}});
        }
        py::object result = self.attr("client").attr("query")(statement);
        rows::Options named;
        named.column_names.assign(std::begin(parameter_names), std::end(parameter_names));
        py::dict answer = record::ok("success", rows::row_dicts(result, named));
        answer["set_mode_info"] = change;
        return answer;
    });
}

}  // namespace norvane::splitting
