#include "account/account.hpp"
#include "common/clock.hpp"
#include "common/guard.hpp"
#include "common/handled.hpp"
#include "common/record.hpp"
#include "common/sql.hpp"

namespace norvane::account {

py::object unix_to_datetime(py::object unix_timestamp) { return clock::utc_date(unix_timestamp); }

py::object contract_format(py::object) { return py::none(); }

// The limits of one category of the risk configuration in force by the server clock.
constexpr const char* risk_limits = R"(select name, min_amt
from factors.risk_config
where {valid} and is_valid = 1 and category = {info})";

py::object fun_read_info(py::object self, py::object info) {
    if (auto refused = guard(self)) return *refused;
    return handled([&]() -> py::object {
        // Validity by the server's clock, the upper bound included.
        std::string statement = sql::fill(risk_limits,
                                          {{"valid", sql::valid_at_server_now}, {"info", sql::text(info)}});
        py::object rows = self.attr("client").attr("query")(statement).attr("result_set");
        // Row by row in the order returned: of two rows with the same name the later one wins.
        py::dict limits;
        for (py::handle row : rows) limits[row[py::int_(0)]] = row[py::int_(1)];
        return record::ok("success", limits);
    });
}

}  // namespace norvane::account
