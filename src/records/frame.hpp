#pragma once
// The steps the trading-record readers share, as plain functions. After the guard, each reader
// runs, top to bottom: with no dates, a real account's current figures from
// the risk platform; otherwise both dates checked and turned into the "%Y-%m-%d" form the stored
// tables compare with, then its statement, its rows and its record.
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>


namespace norvane::records {
namespace py = pybind11;

// The trading days of a dated query, "%Y-%m-%d".
struct Range {
    std::string start;
    std::string end;
};

// `account` is the account id's plain text (account/identity), read once by the reader.

// A real account's id begins with "8"; any other is a simulated account.
bool real_account(const py::str& account);

// The trader id the risk platform knows the account by: the first eight characters of its id.
py::object trader_id(const py::str& account);

// Both dates empty texts and a real account: the reader answers from the risk platform.
bool realtime_read(const py::str& account, py::handle start_date, py::handle end_date);

// The risk platform's answer for the account's trader, or nothing when the platform refused the
// login; what the platform library raises reaches the caller.
std::optional<py::object> realtime_answer(const py::str& account);

// {"code": 0, "msg": "查询成功（风控平台实时数据）", "data": data}
py::dict realtime_ok(py::handle data);

// {"code": 1, "msg": "风控平台实时数据查询失败, 请检查账号信息"}
py::dict realtime_refused();

// The record of a real-time read that passes the answer's `key` on: `realtime_ok` with it, or
// `realtime_refused`.
py::dict realtime_record(const py::str& account, const char* key);

// Both dates as "%Y-%m-%d", or nothing when either is no text or not eight characters long (the
// reader then answers `bad_dates`); a text that names no day raises the parser's error.
std::optional<Range> query_range(py::handle start_date, py::handle end_date);

// {"code": 2, "msg": "日期格式有误, 请修改后重新执行"}
py::dict bad_dates();

// A reader's statement with the range and the whole account id filled in.
std::string statement(const char* sql, const py::str& account, const Range& range);

// The main steps of the order, deal and position readers, numbered for the text of their
// handler's record ("line_no: 2"): an error of the statement's query is reported at step 3.
enum class ReadStep {
    account_kind = 1,  // a real or a simulated account
    statement = 2,     // the statement filled in
    query = 3,
    row_count = 4,
    row_dicts = 5,
};

// Steps 3 to 5, moving `step` on: the query, the row count, the rows as row dicts with
// `date_columns` as "%Y-%m-%d" text, and the success record.
py::object stored_rows(py::handle self, const std::string& statement, ReadStep& step,
                       const std::vector<std::string>& date_columns);

}  // namespace norvane::records
