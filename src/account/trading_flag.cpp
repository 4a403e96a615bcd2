#include "account/account.hpp"
#include "common/clock.hpp"
#include "common/record.hpp"
#include "common/sql.hpp"
#include "common/text.hpp"
#include "common/truth.hpp"

#include <string>
#include <vector>

namespace norvane::account {

namespace {

constexpr const char* open_end = "2500-12-31 00:00:00";

}  // namespace

// Not atomic: between closing the open rows and inserting the new one the account has no open
// row, and a failure there leaves it so (the error reaches the caller).
py::object fun_update_sts(py::object self, py::object trade_flag) {
    if (trade_flag.not_equal(py::bool_(true)) && trade_flag.not_equal(py::bool_(false))) {
        return record::malformed_input();
    }
    std::string currenttime = clock::now_text(clock::seconds);
    std::string now = sql::text(py::str(currenttime));
    std::string account_id = sql::text(self.attr("account_id"));
    py::object client = self.attr("client");

    py::object current = client.attr("query")(sql::fill(R"(select account_id,
       account_key,
       market_value,
       strategy,
       trade_flag,
       acquire_info_key,
       user_id
from factors.t_account_info where {valid}
and account_id = {account_id} and acquire_info_key = {acquire_key})",
                                                        {{"valid", sql::valid_at(now)},
                                                         {"account_id", account_id},
                                                         {"acquire_key", sql::text(self.attr("acquire_key"))}}));

    // The new rows' statements are built before anything is written, so a value that cannot be
    // written leaves the account's rows as they were.
    const char* letter = truthy(trade_flag) ? "T" : "F";
    py::list columns(current.attr("column_names"));
    py::ssize_t flag_column = -1;
    for (py::ssize_t i = 0; i < static_cast<py::ssize_t>(columns.size()); ++i) {
        if (str_of(columns[i]) == "trade_flag") flag_column = i;
    }
    columns.append("zip_begindate");
    columns.append("zip_enddate");
    std::vector<std::string> rows;
    for (py::handle row : current.attr("result_set")) {
        py::list values(py::reinterpret_borrow<py::object>(row));
        if (flag_column >= 0) values[flag_column] = py::str(letter);
        values.append(py::str(currenttime));
        values.append(py::str(open_end));
        rows.push_back(sql::list(values));
    }

    // Closes every open row of the account, whatever its key; rows inserted below stay open.
    client.attr("command")(sql::fill(R"(ALTER TABLE factors.t_account_info UPDATE zip_enddate = {currenttime}
WHERE account_id = {account_id} and zip_enddate = '2500-12-31 00:00:00')",
                                     {{"currenttime", now}, {"account_id", account_id}}));
    if (!rows.empty()) {
        client.attr("command")(sql::insert("factors.t_account_info", sql::column_list(columns), rows));
    }

    std::string account_text = str_of(self.attr("account_id"));
    return record::ok(" 资金账号 " + account_text + " trade flag is " + letter + "  " + currenttime + " ");
}

}  // namespace norvane::account
