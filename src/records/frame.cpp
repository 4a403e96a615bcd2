#include "records/frame.hpp"

#include "account/endpoints.hpp"
#include "common/outside.hpp"
#include "common/plain.hpp"
#include "common/record.hpp"
#include "common/rows.hpp"
#include "common/sql.hpp"
#include "common/text.hpp"

namespace norvane::records {

namespace {

// "%Y%m%d" to "%Y-%m-%d"; a text that names no day raises the parser's error.
std::string query_date(const py::str& date) {
    py::object day = outside::datetime().attr("datetime").attr("strptime")(date, "%Y%m%d");
    return utf8(day.attr("strftime")("%Y-%m-%d"));
}

}  // namespace

bool real_account(const py::str& account) {
    return PyUnicode_GET_LENGTH(account.ptr()) > 0 && PyUnicode_READ_CHAR(account.ptr(), 0) == '8';
}

py::object trader_id(const py::str& account) { return account[py::slice(py::none(), py::int_(8), py::none())]; }

bool realtime_read(const py::str& account, py::handle start_date, py::handle end_date) {
    std::optional<py::str> start = plain::characters(start_date), end = plain::characters(end_date);
    return start && end && py::len(*start) + py::len(*end) == 0 && real_account(account);
}

std::optional<py::object> realtime_answer(const py::str& account) {
    py::object answer = outside::query_trader_all_info()(
        py::str(endpoints::risk_host()), py::str(endpoints::risk_port), trader_id(account),
        py::str(endpoints::risk_password()));
    if (!plain::truth(answer["登录成功"])) return std::nullopt;
    return answer;
}

py::dict realtime_ok(py::handle data) { return record::ok("查询成功（风控平台实时数据）", data); }

py::dict realtime_refused() { return record::failed(py::str("风控平台实时数据查询失败, 请检查账号信息")); }

py::dict realtime_record(const py::str& account, const char* key) {
    auto answer = realtime_answer(account);
    return answer ? realtime_ok((*answer)[key]) : realtime_refused();
}

std::optional<Range> query_range(py::handle start_date, py::handle end_date) {
    std::optional<py::str> start = plain::characters(start_date), end = plain::characters(end_date);
    if (!start || !end || py::len(*start) != 8 || py::len(*end) != 8) return std::nullopt;
    std::string first = query_date(*start);
    return Range{first, query_date(*end)};
}

py::dict bad_dates() { return record::rejected("日期格式有误, 请修改后重新执行"); }

std::string statement(const char* sql, const py::str& account, const Range& range) {
    return sql::fill(sql, {{"tmp_start_date", sql::text(py::str(range.start))},
                           {"tmp_end_date", sql::text(py::str(range.end))},
                           {"account_id", sql::text(account)}});
}

py::object stored_rows(py::handle self, const std::string& statement, ReadStep& step,
                       const std::vector<std::string>& date_columns) {
    step = ReadStep::query;
    py::object result = self.attr("client").attr("query")(statement);
    step = ReadStep::row_count;
    if (py::len(result.attr("result_set")) == 0) return record::ok("success", py::list());
    step = ReadStep::row_dicts;
    return record::ok("success", rows::row_dicts(result, {date_columns, {}}));
}

}  // namespace norvane::records
