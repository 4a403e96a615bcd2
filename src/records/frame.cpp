#include "records/frame.hpp"

#include "account/endpoints.hpp"
#include "common/outside.hpp"
#include "common/record.hpp"
#include "common/rows.hpp"
#include "common/sql.hpp"
#include "common/text.hpp"
#include "common/truth.hpp"

namespace norvane::records {

namespace {

// "%Y%m%d" to "%Y-%m-%d"; a text that names no day raises the parser's error.
std::string query_date(py::handle date) {
    py::object day = outside::datetime().attr("datetime").attr("strptime")(date, "%Y%m%d");
    return utf8(day.attr("strftime")("%Y-%m-%d"));
}

}  // namespace

bool real_account(py::handle self) {
    py::object first = self.attr("account_id")[py::int_(0)];
    return first.equal(py::str("8"));
}

py::object trader_id(py::handle self) {
    return self.attr("account_id")[py::slice(py::none(), py::int_(8), py::none())];
}

bool realtime_read(py::handle self, py::handle start_date, py::handle end_date) {
    return py::len(start_date) + py::len(end_date) == 0 && real_account(self);
}

std::optional<py::object> realtime_answer(py::handle self) {
    py::object answer = outside::query_trader_all_info()(
        py::str(endpoints::risk_host()), py::str(endpoints::risk_port), trader_id(self),
        py::str(endpoints::risk_password()));
    if (!truthy(answer["登录成功"])) return std::nullopt;
    return answer;
}

py::dict realtime_ok(py::handle data) { return record::ok("查询成功（风控平台实时数据）", data); }

py::dict realtime_refused() { return record::failed(py::str("风控平台实时数据查询失败, 请检查账号信息")); }

py::dict realtime_record(py::handle self, const char* key) {
    auto answer = realtime_answer(self);
    return answer ? realtime_ok((*answer)[key]) : realtime_refused();
}

std::optional<Range> query_range(py::handle start_date, py::handle end_date) {
    if (py::len(start_date) != 8 || py::len(end_date) != 8) return std::nullopt;
    std::string start = query_date(start_date);
    return Range{start, query_date(end_date)};
}

py::dict bad_dates() { return record::rejected("日期格式有误, 请修改后重新执行"); }

std::string statement(const char* sql, py::handle self, const Range& range) {
    return sql::fill(sql, {{"tmp_start_date", sql::text(py::str(range.start))},
                           {"tmp_end_date", sql::text(py::str(range.end))},
                           {"account_id", sql::text(self.attr("account_id"))}});
}

py::object stored_rows(py::handle self, const std::string& statement, Step& step,
                       const std::vector<std::string>& date_columns) {
    step = 3;
    py::object result = self.attr("client").attr("query")(statement);
    step = 4;
    if (py::len(result.attr("result_set")) == 0) return record::ok("success", py::list());
    step = 5;
    return record::ok("success", rows::row_dicts(result, {date_columns, {}}));
}

}  // namespace norvane::records
