#include "account/endpoints.hpp"
#include "account/identity.hpp"
#include "common/closing.hpp"
#include "common/guard.hpp"
#include "common/handled.hpp"
#include "common/outside.hpp"
#include "common/record.hpp"
#include "common/sql.hpp"
#include "research/research.hpp"

#include <string>

namespace norvane::research {

using namespace pybind11::literals;

namespace {

// "%Y%m%d" to "%Y-%m-%d" by cutting, without checking the characters.
py::object dashed(py::handle date) {
    auto cut = [&](py::ssize_t from, py::ssize_t to) { return py::object(date[py::slice(from, to, 1)]); };
    py::str dash("-");
    return cut(0, 4) + dash + cut(4, 6) + dash + cut(6, 8);
}

}  // namespace

py::object mysql_248(py::object sql) {
    py::object connection = outside::pymysql().attr("connect")(
        "host"_a = endpoints::database_host(), "port"_a = endpoints::mysql_port,
        "user"_a = endpoints::mysql_user, "password"_a = endpoints::mysql_password(),
        "database"_a = endpoints::mysql_database, "charset"_a = endpoints::mysql_charset,
        "connect_timeout"_a = endpoints::mysql_connect_timeout, "read_timeout"_a = endpoints::mysql_read_timeout,
        "write_timeout"_a = endpoints::mysql_read_timeout);
    // The connection serves this one statement.
    return closing(connection, [&] {
        py::object cursor = connection.attr("cursor")();
        cursor.attr("execute")(sql);
        py::list columns;
        for (py::handle column : cursor.attr("description")) columns.append(column[py::int_(0)]);
        py::list rows(cursor.attr("fetchall")());
        py::object table = outside::pd().attr("DataFrame")(rows, "columns"_a = columns);
        cursor.attr("close")();
        return table;
    });
}

// Profit and loss per product and commodity of the account's books over the range.
constexpr const char* commodity_pl = R"(select {account_id} assetacc,
    x3.product_name,
    x1.commodity,
    sum(prefee_return_l - commission_l) pl_l,
    sum(prefee_return_s - commission_s) pl_s,
    sum(prefee_return_l - commission_l + prefee_return_s - commission_s) pl
from
(select * from trade.daily_return
    where trading_day >= {start_date} AND trading_day <= {end_date} and length(contract) <= 6
UNION ALL
select * from trade.daily_return_fz
    where trading_day >= {start_date} AND trading_day <= {end_date} and length(contract) <= 6) x1
left join
(SELECT commodity, sector_CN sector, multiplier from trade.commodity_info) x2
    ON x1.commodity = x2.commodity
inner join
(select distinct product_name, case when assetacc_sum is not null then assetacc_sum else assetacc end assetacc_x,
    case when assetacc_save is not null then assetacc_save else assetacc end assetacc
from trade.t_assetacc_info where  assetacc = {account_id} ) x3
on x1.assetacc = x3.assetacc
group by x3.assetacc, x3.product_name, x1.commodity)";

py::object post_trade_analysis(py::object self, py::object start_date, py::object end_date,
                               py::object typ) {
    if (auto refused = guard(self)) return *refused;
    if (py::len(start_date) != 8 || py::len(end_date) != 8 || typ.equal(py::str(""))) {
        return record::malformed_input();
    }
    return handled([&]() -> py::object {
        py::object start = dashed(start_date);
        py::object end = dashed(end_date);
        if (!typ.equal(py::str("commodity"))) return record::ok_data(outside::pd().attr("DataFrame")());
        // Returns of both books in the range, short contract codes only; each register row of the
        // account matches the returns stored under its assetacc_save (else the account itself). A
        // commodity listed twice in commodity_info counts its rows twice.
        std::string account_id = sql::text(account::account_id(self, "post_trade_analysis"));
        std::string statement = sql::fill(commodity_pl,
                                          {{"account_id", account_id},
                                           {"start_date", sql::text(start)},
                                           {"end_date", sql::text(end)}});
        return record::ok_data(self.attr("mysql_248")(statement));
    });
}

}  // namespace norvane::research
