// The method table of Norvane: names, arguments with their defaults, instance or static.
#include "module/methods.hpp"

#include "account/account.hpp"
#include "module/binding.hpp"
#include "module/constructor.hpp"
#include "signals/signals.hpp"
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
    table.instance<signals::fun_replicate_save>(
        "fun_replicate_save", {"tmp_mat", "continuous_holding"},
        "Store an uploaded signal table once more under the linked copy account.");
    table.instance<account::contract_format>("contract_format", {},
                                             "Does nothing; returns None.");
    table.instance<signals::fun_update_signal>(
        "fun_update_signal",
        {"input_data", {"use_redis", py::bool_(false)}, {"continuous_holding", py::bool_(false)},
         {"simple", py::bool_(false)}},
        "Upload a table of target positions for one trading day.");
    table.instance<signals::fun_delete_signal>(
        "fun_delete_signal",
        {{"trading_day", py::str("")}, {"order_typ", py::str("")}, {"trade_time", py::str("")},
         {"contract", py::none()}},
        "Mark the live signals of a day, order type and trade time as deleted.");
    table.instance<signals::fun_read_signal>(
        "fun_read_signal", {"start_date", "end_date", {"clean", py::bool_(true)}},
        "Read the account's signals of a range of trading days.");

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
