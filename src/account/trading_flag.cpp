#include "account/account.hpp"
#include "account/endpoints.hpp"
#include "account/identity.hpp"
#include "common/clock.hpp"
#include "common/guard.hpp"
#include "common/record.hpp"
#include "common/sql.hpp"
#include "common/text.hpp"

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace norvane::account {

namespace {

constexpr const char* open_end = "2500-12-31 00:00:00";

// The register's columns the switch reads, then the two it adds: the columns of the new rows.
constexpr std::array<const char*, 9> register_columns = {
    "account_id", "account_key", "market_value", "strategy", "trade_flag", "acquire_info_key",
    "user_id", "zip_begindate", "zip_enddate"};
constexpr size_t flag_column = 4;
constexpr size_t read_columns = 7;

// The account's register rows in force for its id and key: the rows the switch copies.
constexpr const char* register_rows_in_force = R"(select account_id,
       account_key,
       market_value,
       strategy,
       trade_flag,
       acquire_info_key,
       user_id
from factors.t_account_info where {valid}
and account_id = {account_id} and acquire_info_key = {acquire_key})";

// Closes every open row of the account, whatever its key; rows inserted after it stay open.
constexpr const char* close_open_rows = R"(ALTER TABLE factors.t_account_info UPDATE zip_enddate = {currenttime}
WHERE account_id = {account_id} and zip_enddate = '2500-12-31 00:00:00')";

}  // namespace

// Not atomic: between closing the open rows and inserting the new one the account has no open
// row, and a failure there leaves it so (the error reaches the caller).
py::object fun_update_sts(py::object self, py::object trade_flag) {
    if (auto refused = guard(self)) return *refused;
    // The flag is asked once: whether it equals True, else whether it equals False.
    const bool on = trade_flag.equal(py::bool_(true));
    if (!on && !trade_flag.equal(py::bool_(false))) return record::malformed_input();
    std::string currenttime = clock::now_text(clock::seconds);
    std::string now = sql::text(py::str(currenttime));
    py::str account = account_id(self, "fun_update_sts");
    std::string account_literal = sql::text(account);
    py::object client = self.attr("client");

    py::object current = client.attr("query")(sql::fill(register_rows_in_force,
                                                        {{"valid", sql::valid_at(now)},
                                                         {"account_id", account_literal},
                                                         {"acquire_key", sql::text(identity(self, "acquire_key", "fun_update_sts"))}}));

    // The new rows' statements are built before anything is written, so a value that cannot be
    // written leaves the account's rows as they were.
    const char* letter = on ? "T" : "F";
    std::vector<std::string> rows;
    for (py::handle row : current.attr("result_set")) {
        py::list values(py::reinterpret_borrow<py::object>(row));
        if (values.size() != read_columns) {
            throw std::runtime_error("fun_update_sts: a register row of " + std::to_string(values.size()) +
                                     " values, not " + std::to_string(read_columns));
        }
        values[flag_column] = py::str(letter);
        values.append(py::str(currenttime));
        values.append(py::str(open_end));
        rows.push_back(sql::list(values));
    }

    endpoints::clickhouse_command(client, py::str(sql::fill(close_open_rows,
                                     {{"currenttime", now}, {"account_id", account_literal}})));
    if (!rows.empty()) {
        endpoints::clickhouse_command(client, py::str(sql::insert("factors.t_account_info", sql::column_list(register_columns), rows)));
    }

    std::string account_text = utf8(account);
    return record::ok(" 资金账号 " + account_text + " trade flag is " + letter + "  " + currenttime + " ");
}

}  // namespace norvane::account
