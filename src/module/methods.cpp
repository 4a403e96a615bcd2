// The method table of Norvane: names, arguments with their defaults, instance or static.
#include "module/methods.hpp"

#include "account/account.hpp"
#include "module/binding.hpp"
#include "module/constructor.hpp"
#include "research/research.hpp"

namespace norvane {

void define_methods(py::dict& class_dict) {
    using binding::Parameter;
    binding::MethodTable table(class_dict);

    table.instance<construct_account>(
        "__init__", {"account_id", "acquire_key", "user_id", {"env", py::str("test")}},
        "Open the account's connections, verify it and look up its copy account.");
    table.static_method<account::unix_to_datetime>(
        "unix_to_datetime", {"unix_timestamp"}, "A Unix time stamp as its UTC date \"%Y-%m-%d\".");
    table.instance<account::fun_clickhouse_connect>(
        "fun_clickhouse_connect", {}, "Open the ClickHouse client; sets client and connect_tag.");
    table.instance<account::fun_login>(
        "fun_login", {}, "Verify the account against the account register and ping Redis.");
    table.instance<account::fun_check_replicate>(
        "fun_check_replicate", {}, "Look up the copy account linked to this account.");
    table.instance<account::contract_format>("contract_format", {},
                                             "Does nothing; returns None.");
    // Account administration.
    table.instance<account::fun_update_sts>(
        "fun_update_sts", {{"trade_flag", py::bool_(true)}}, "Switch the account's trading flag.");
    table.instance<account::fun_read_info>(
        "fun_read_info", {{"info", py::str("单笔最小开仓量")}},
        "Read one category of the risk configuration as {name: min_amt}.");
    // Research data.
    table.static_method<research::factors_value>(
        "factors_value", {{"typ", py::str("")}, {"start_date", py::str("")}, {"end_date", py::str("")}},
        "Read a factor table (value, weight or net) over a date range.");
    table.static_method<research::mysql_248>("mysql_248", {"sql"},
                                             "Run one statement on the trade database into a DataFrame.");
    table.instance<research::post_trade_analysis>(
        "post_trade_analysis", {"start_date", "end_date", {"typ", py::str("commodity")}},
        "The account's profit and loss per product and commodity over a date range.");
    table.static_method<research::factors_value_lhjy>(
        "factors_value_lhjy", {{"typ", py::str("")}, {"start_date", py::str("")}, {"end_date", py::str("")}},
        "Read a factor table over a date range for the ten working factors.");
}

}  // namespace norvane
