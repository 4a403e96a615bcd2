// The method table of Norvane: per method, its name, its body, a one-line summary and its
// parameters with their defaults, instance or static, in the order help() lists them. Each body
// meets the initialisation guard and opens its error handler itself (common/guard.hpp,
// common/handled.hpp).
#include "module/methods.hpp"

#include "account/account.hpp"
#include "live/live.hpp"
#include "module/method_table.hpp"
#include "module/constructor.hpp"
#include "signals/signals.hpp"
#include "records/records.hpp"
#include "splitting/splitting.hpp"
#include "research/research.hpp"

namespace norvane {

void define_methods(py::object account_class) {
    MethodTable table(std::move(account_class));
    table.instance("__init__", construct_account,
                   "Open the account's connections, verify it and look up its copy account.",
                   py::arg("account_id"), py::arg("acquire_key"), py::arg("user_id"), py::arg("env") = "test");
    table.static_method("unix_to_datetime", account::unix_to_datetime,
                   "A Unix time stamp as its UTC date \"%Y-%m-%d\".",
                   py::arg("unix_timestamp"));
    table.instance("fun_clickhouse_connect", account::fun_clickhouse_connect,
                   "Open the ClickHouse client; sets client and connect_tag.");
    table.instance("fun_login", account::fun_login,
                   "Verify the account against the account register and ping Redis.");
    table.instance("fun_check_replicate", account::fun_check_replicate,
                   "Look up the copy account linked to this account.");
    table.instance("fun_replicate_save", signals::fun_replicate_save,
                   "Store an uploaded signal table once more under the linked copy account.",
                   py::arg("tmp_mat"), py::arg("continuous_holding"));
    table.instance("contract_format", account::contract_format, "Does nothing; returns None.");
    table.instance("fun_update_signal", signals::fun_update_signal,
                   "Upload a table of target positions for one trading day (simple is accepted and ignored).",
                   py::arg("input_data"), py::arg("use_redis") = false, py::arg("continuous_holding") = false, py::arg("simple") = false);
    table.instance("fun_delete_signal", signals::fun_delete_signal,
                   "Mark the live signals of a day, order type and trade time as deleted.",
                   py::arg("trading_day") = "", py::arg("order_typ") = "", py::arg("trade_time") = "", py::arg("contract") = py::none());
    table.instance("fun_read_signal", signals::fun_read_signal,
                   "Read the account's signals of a range of trading days.",
                   py::arg("start_date"), py::arg("end_date"), py::arg("clean") = true);
    table.instance("fun_read_order", records::fun_read_order,
                   "Orders: current ones from the risk platform without dates, else those of the range.",
                   py::arg("start_date") = "", py::arg("end_date") = "");
    table.instance("fun_read_deal", records::fun_read_deal,
                   "Deals: current ones from the risk platform without dates, else those of the range.",
                   py::arg("start_date") = "", py::arg("end_date") = "");
    table.instance("fun_read_position", records::fun_read_position,
                   "Positions: current ones from the risk platform without dates, else those of the range.",
                   py::arg("start_date") = "", py::arg("end_date") = "");
    table.instance("fun_update_sts", account::fun_update_sts,
                   "Switch the account's trading flag.",
                   py::arg("trade_flag") = true);
    table.instance("fun_redis_position", live::fun_redis_position,
                   "The account's live positions, from Redis.");
    table.instance("fun_read_equity", records::fun_read_equity,
                   "Equity: current funds from the risk platform without dates, else daily balances.",
                   py::arg("start_date") = "", py::arg("end_date") = "");
    table.instance("fun_update_TWAP_info", splitting::fun_update_TWAP_info,
                   "Store per-commodity TWAP settings.",
                   py::arg("input_data"));
    table.instance("fun_last_trade", live::fun_last_trade,
                   "The account's last-trade warning, from Redis.");
    table.instance("fun_margin_used", live::fun_margin_used,
                   "The account's balance and margin figures with its market value.");
    table.instance("fun_read_info", account::fun_read_info,
                   "Read one category of the risk configuration as {name: min_amt}.",
                   py::arg("info") = "单笔最小开仓量");
    // Order splitting (help, query, change), then the live deals of a trading day.
    table.instance("fun_read_split_doc", splitting::fun_read_split_doc,
                   "Help text on changing split modes.");
    table.instance("fun_search_split_mode", splitting::fun_search_split_mode,
                   "The current, default or available split-mode parameters.",
                   py::arg("mode") = "current");
    table.instance("fun_back_to_default_split_mode", splitting::fun_back_to_default_split_mode,
                   "Return the account to its own split parameters.");
    table.instance("fun_set_split_mode", splitting::fun_set_split_mode,
                   "Switch the account to a split mode for a number of hours.",
                   py::arg("mode") = "", py::arg("effective_hour") = -1);
    table.instance("fun_redis_deal", live::fun_redis_deal,
                   "The account's live deals of a trading day, from Redis.",
                   py::arg("dte"));
    // Research tables, the trade database and post-trade analysis.
    table.static_method("factors_value", research::factors_value,
                   "Read a factor table (value, weight or net) over a date range.",
                   py::arg("typ") = "", py::arg("start_date") = "", py::arg("end_date") = "");
    table.static_method("mysql_248", research::mysql_248,
                   "Run one statement on the trade database into a DataFrame.",
                   py::arg("sql"));
    table.instance("post_trade_analysis", research::post_trade_analysis,
                   "The account's profit and loss per product and commodity over a date range.",
                   py::arg("start_date"), py::arg("end_date"), py::arg("typ") = "commodity");
    table.static_method("factors_value_lhjy", research::factors_value_lhjy,
                   "Read a factor table over a date range for the ten working factors.",
                   py::arg("typ") = "", py::arg("start_date") = "", py::arg("end_date") = "");
}

}  // namespace norvane
