// The method table of Norvane: names, arguments with their defaults, instance or static.
#include "module/methods.hpp"

#include "account/account.hpp"
#include "module/binding.hpp"
#include "module/constructor.hpp"
#include "records/records.hpp"

namespace norvane {

void define_methods(py::dict& class_dict) {
    using binding::Parameter;
    binding::MethodTable table(class_dict);

    table.instance<construct_account>(
        "__init__", {"account_id", "acquire_key", "user_id", {"env", py::str("test")}},
        "Open the account's connections, verify it and look up its copy account.");
    table.instance<account::fun_clickhouse_connect>(
        "fun_clickhouse_connect", {}, "Open the ClickHouse client; sets client and connect_tag.");
    table.instance<account::fun_login>(
        "fun_login", {}, "Verify the account against the account register and ping Redis.");
    table.instance<account::fun_check_replicate>(
        "fun_check_replicate", {}, "Look up the copy account linked to this account.");
    table.instance<account::contract_format>("contract_format", {},
                                             "Does nothing; returns None.");

    table.instance<records::fun_read_order>(
        "fun_read_order", {{"start_date", py::str("")}, {"end_date", py::str("")}},
        "Orders: current ones from the risk platform without dates, else those of the range.");
    table.instance<records::fun_read_deal>(
        "fun_read_deal", {{"start_date", py::str("")}, {"end_date", py::str("")}},
        "Deals: current ones from the risk platform without dates, else those of the range.");
    table.instance<records::fun_read_position>(
        "fun_read_position", {{"start_date", py::str("")}, {"end_date", py::str("")}},
        "Positions: current ones from the risk platform without dates, else those of the range.");

    table.instance<records::fun_read_equity>(
        "fun_read_equity", {{"start_date", py::str("")}, {"end_date", py::str("")}},
        "Equity: current funds from the risk platform without dates, else daily balances.");
}

}  // namespace norvane
