#include <optional>
#include <string>

#include "account/endpoints.hpp"
#include "account/identity.hpp"
#include "common/clock.hpp"
#include "common/guard.hpp"
#include "common/number.hpp"
#include "common/plain.hpp"
#include "common/record.hpp"
#include "common/sql.hpp"
#include "common/text.hpp"
#include "signals/signals.hpp"
#include "signals/storage.hpp"

namespace norvane::signals {

namespace {

// The deletion's trading day as text: a text as it is; a whole number (20991203, 20991203.0,
// numpy's too) as its digits; any other number by its value; anything else as str() of it.
py::str trading_day_text(py::handle day) {
    if (PyUnicode_Check(day.ptr())) return py::str(utf8(day));
    if (std::optional<Number> numeric = number(day)) return py::str(whole_digits(*numeric).value_or(numeric->digits));
    py::str text(day);
    utf8(text);
    return text;
}

// An int beyond the interpreter's digit limit has no text for the statements: refused by name.
void has_text(py::handle value, const char* argument) {
    std::optional<Number> numeric = number(value);
    if (numeric && numeric->kind == Number::too_long) {
        plain::refuse(PyExc_ValueError, plain::Where::argument("fun_delete_signal", argument),
                      "the number is too large: " + too_long_text());
    }
}

// The contract clause of the statements.
constexpr const char* contract_filter = R"(and contract in ({contracts}))";

// Narrows the statements to the listed contracts; no list means every contract.
std::string contract_clause(py::handle contracts) {
    if (py::len(contracts) == 0) return "";
    return sql::fill(contract_filter, {{"contracts", sql::list(contracts)}});
}

// How many live rows of the account the deletion matches.
constexpr const char* live_rows_count = R"(select count(*) n
                            from factors.t_order_dtl 
                            where trading_day={trading_day} and trade_time == {trade_time} 
                            and order_typ == {order_typ} and account_id == {account_id} and delete_tag is null {contract_clause} )";

// The matched live rows marked deleted, with who deleted them and when.
constexpr const char* mark_rows_deleted = R"(ALTER TABLE factors.t_order_dtl UPDATE update_id = {user_id}, update_time = {stamp}, delete_tag = 1 WHERE trading_day={trading_day} 
            and trade_time == {trade_time} and order_typ == {order_typ} and account_id == {account_id} and delete_tag is null {contract_clause})";

}  // namespace

py::object fun_delete_signal(py::object self, py::object trading_day, py::object order_typ,
                             py::object trade_time, py::object contract) {
    if (auto refused = guard(self)) return *refused;
    if (contract.is_none()) contract = py::list();
    if (trading_day.equal(py::str("")) || order_typ.equal(py::str("")) ||
        !py::type::of(contract).is(py::type::of(py::list()))) {
        return record::malformed_input();
    }
    has_text(trading_day, "trading_day");
    has_text(order_typ, "order_typ");
    has_text(trade_time, "trade_time");
    for (py::handle element : contract) has_text(element, "contract");
    const std::string stamp = clock::call_stamp();
    std::initializer_list<std::pair<std::string_view, std::string>> values = {
        {"trading_day", sql::text(trading_day_text(trading_day))},
        {"trade_time", sql::text(trade_time)},
        {"order_typ", sql::text(order_typ)},
        {"account_id", sql::text(account::account_id(self, "fun_delete_signal"))},
        {"user_id", sql::text(account::user_id(self, "fun_delete_signal"))},
        {"stamp", sql::text(py::str(stamp))},
        {"contract_clause", contract_clause(contract)}};
    // Both statements are built before the first is sent.
    py::str count_query(sql::fill(live_rows_count,
                                  values));
    py::str mark_deleted(sql::fill(mark_rows_deleted,
                                   values));

    py::object client = self.attr("client");
    py::object count = client.attr("query")(count_query).attr("result_set")[py::int_(0)][py::int_(0)];
    if (count > py::int_(0)) endpoints::clickhouse_command(client, mark_deleted);
    return record::ok("删除" + str_of(count) + " " + stamp);
}

}  // namespace norvane::signals
