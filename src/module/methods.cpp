// The method table of Norvane: per method, its body, whether the initialisation guard runs first
// (Guard, common/guard.hpp), what becomes of an ordinary error of its main steps (Errors,
// common/handled.hpp), its name, its arguments with their defaults, instance or static. The
// table entry applies the guard and the handler; the bodies hold the method's own steps only.
#include "module/methods.hpp"

#include "account/account.hpp"
#include "live/live.hpp"
#include "module/binding.hpp"
#include "module/constructor.hpp"
#include "signals/signals.hpp"
#include "records/records.hpp"
#include "splitting/splitting.hpp"
#include "research/research.hpp"

namespace norvane {

void define_methods(py::dict& class_dict) {
    binding::MethodTable table(class_dict);

    table.instance<construct_account, Guard::none, Errors::raised>(
        "__init__", {"account_id", "acquire_key", "user_id", {"env", "test"}},
        "Open the account's connections, verify it and look up its copy account.");
    table.static_method<account::unix_to_datetime, Guard::none, Errors::raised>(
        "unix_to_datetime", {"unix_timestamp"}, "A Unix time stamp as its UTC date \"%Y-%m-%d\".");
    table.instance<account::fun_clickhouse_connect, Guard::none, Errors::raised>(
        "fun_clickhouse_connect", {}, "Open the ClickHouse client; sets client and connect_tag.");
    table.instance<account::fun_login, Guard::none, Errors::raised>(
        "fun_login", {}, "Verify the account against the account register and ping Redis.");
    table.instance<account::fun_check_replicate, Guard::none, Errors::raised>(
        "fun_check_replicate", {}, "Look up the copy account linked to this account.");
    table.instance<signals::fun_replicate_save, Guard::none, Errors::raised>(
        "fun_replicate_save", {"tmp_mat", "continuous_holding"},
        "Store an uploaded signal table once more under the linked copy account.");
    table.instance<account::contract_format, Guard::none, Errors::raised>(
        "contract_format", {}, "Does nothing; returns None.");
    table.instance<signals::fun_update_signal, Guard::none, Errors::raised>(
        "fun_update_signal",
        {"input_data", {"use_redis", false}, {"continuous_holding", false},
         {"simple", false}},
        "Upload a table of target positions for one trading day (simple is accepted and ignored).");
    table.instance<signals::fun_delete_signal, Guard::first, Errors::raised>(
        "fun_delete_signal",
        {{"trading_day", ""}, {"order_typ", ""}, {"trade_time", ""},
         {"contract", binding::none}},
        "Mark the live signals of a day, order type and trade time as deleted.");
    table.instance<signals::fun_read_signal, Guard::first, Errors::raised>(
        "fun_read_signal", {"start_date", "end_date", {"clean", true}},
        "Read the account's signals of a range of trading days.");
    table.instance<records::fun_read_order, Guard::first, Errors::record_in_step>(
        "fun_read_order", {{"start_date", ""}, {"end_date", ""}},
        "Orders: current ones from the risk platform without dates, else those of the range.");
    table.instance<records::fun_read_deal, Guard::first, Errors::record_in_step>(
        "fun_read_deal", {{"start_date", ""}, {"end_date", ""}},
        "Deals: current ones from the risk platform without dates, else those of the range.");
    table.instance<records::fun_read_position, Guard::first, Errors::record_in_step>(
        "fun_read_position", {{"start_date", ""}, {"end_date", ""}},
        "Positions: current ones from the risk platform without dates, else those of the range.");
    table.instance<account::fun_update_sts, Guard::first, Errors::raised>(
        "fun_update_sts", {{"trade_flag", true}}, "Switch the account's trading flag.");
    table.instance<live::fun_redis_position, Guard::first, Errors::record>(
        "fun_redis_position", {}, "The account's live positions, from Redis.");
    table.instance<records::fun_read_equity, Guard::first, Errors::record>(
        "fun_read_equity", {{"start_date", ""}, {"end_date", ""}},
        "Equity: current funds from the risk platform without dates, else daily balances.");
    table.instance<splitting::fun_update_TWAP_info, Guard::first, Errors::raised>(
        "fun_update_TWAP_info", {"input_data"}, "Store per-commodity TWAP settings.");
    table.instance<live::fun_last_trade, Guard::first, Errors::record>(
        "fun_last_trade", {}, "The account's last-trade warning, from Redis.");
    table.instance<live::fun_margin_used, Guard::first, Errors::record>(
        "fun_margin_used", {}, "The account's balance and margin figures with its market value.");
    table.instance<account::fun_read_info, Guard::first, Errors::record>(
        "fun_read_info", {{"info", "单笔最小开仓量"}},
        "Read one category of the risk configuration as {name: min_amt}.");
    // Order splitting (help, query, change), then the live deals of a trading day.
    table.instance<splitting::fun_read_split_doc, Guard::first, Errors::raised>(
        "fun_read_split_doc", {}, "Help text on changing split modes.");
    table.instance<splitting::fun_search_split_mode, Guard::first, Errors::record>(
        "fun_search_split_mode", {{"mode", "current"}},
        "The current, default or available split-mode parameters.");
    table.instance<splitting::fun_back_to_default_split_mode, Guard::first, Errors::record>(
        "fun_back_to_default_split_mode", {}, "Return the account to its own split parameters.");
    table.instance<splitting::fun_set_split_mode, Guard::first, Errors::record>(
        "fun_set_split_mode", {{"mode", ""}, {"effective_hour", -1}},
        "Switch the account to a split mode for a number of hours.");
    table.instance<live::fun_redis_deal, Guard::first, Errors::record>(
        "fun_redis_deal", {"dte"}, "The account's live deals of a trading day, from Redis.");
    // Research tables, the trade database and post-trade analysis.
    table.static_method<research::factors_value, Guard::none, Errors::record>(
        "factors_value", {{"typ", ""}, {"start_date", ""}, {"end_date", ""}},
        "Read a factor table (value, weight or net) over a date range.");
    table.static_method<research::mysql_248, Guard::none, Errors::raised>(
        "mysql_248", {"sql"}, "Run one statement on the trade database into a DataFrame.");
    table.instance<research::post_trade_analysis, Guard::first, Errors::record>(
        "post_trade_analysis", {"start_date", "end_date", {"typ", "commodity"}},
        "The account's profit and loss per product and commodity over a date range.");
    table.static_method<research::factors_value_lhjy, Guard::none, Errors::record>(
        "factors_value_lhjy", {{"typ", ""}, {"start_date", ""}, {"end_date", ""}},
        "Read a factor table over a date range for the ten working factors.");
}

}  // namespace norvane
