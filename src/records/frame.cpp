#include "records/frame.hpp"
#include "common/text.hpp"

#include "account/endpoints.hpp"
#include "common/guard.hpp"
#include "common/handled.hpp"
#include "common/namespace.hpp"
#include "common/record.hpp"
#include "common/rows.hpp"
#include "common/sql.hpp"
#include "common/truth.hpp"

namespace norvane::records {

namespace {

// "%Y%m%d" to "%Y-%m-%d"; a text that names no day raises the parser's error.
std::string query_date(py::handle date) {
    py::object day = ns("datetime").attr("datetime").attr("strptime")(date, "%Y%m%d");
    return utf8(day.attr("strftime")("%Y-%m-%d"));
}

}  // namespace

bool real_account(py::handle self) {
    py::object first = attr(self, "account_id")[py::int_(0)];
    return first.equal(py::str("8"));
}

py::object trader_id(py::handle self) {
    return attr(self, "account_id")[py::slice(py::none(), py::int_(8), py::none())];
}

std::string statement(const char* sql, py::handle self, const Range& range) {
    return sql::fill(sql, {{"tmp_start_date", sql::text(py::str(range.start))},
                           {"tmp_end_date", sql::text(py::str(range.end))},
                           {"account_id", sql::text(attr(self, "account_id"))}});
}

py::object read_records(py::handle self, py::handle start_date, py::handle end_date,
                        const Frame& frame) {
    if (auto refused = guard(self)) return *refused;
    if (py::len(start_date) + py::len(end_date) == 0 && real_account(self)) {
        py::object answer = ns("query_trader_all_info")(
            py::str(endpoints::risk_host()), py::str(endpoints::risk_port), trader_id(self),
            py::str(endpoints::risk_password()));
        if (!truthy(answer["登录成功"])) {
            return record::failed(py::str("风控平台实时数据查询失败, 请检查账号信息"));
        }
        return record::ok("查询成功（风控平台实时数据）", frame.realtime_data(self, answer));
    }
    if (py::len(start_date) != 8 || py::len(end_date) != 8) {
        return record::rejected("日期格式有误, 请修改后重新执行");
    }
    std::string start = query_date(start_date);
    Range range{start, query_date(end_date)};
    return frame.dated(self, range);
}

py::object read_history(py::handle self, py::handle start_date, py::handle end_date,
                        const History& history) {
    Frame frame;
    frame.realtime_data = [&](py::handle, py::handle answer) -> py::object {
        return answer[history.realtime_key];
    };
    frame.dated = [&](py::handle self, const Range& range) {
        return handled_with_line([&](FailingLine& at) -> py::object {
            NOTE_LINE(at) bool real = real_account(self);
            if (!real && history.simulated_accounts == nullptr) {
                return record::rejected(history.simulated_refusal);
            }
            const char* sql = real ? history.real_accounts : history.simulated_accounts;
            NOTE_LINE(at) std::string text = statement(sql, self, range);
            NOTE_LINE(at) py::object result = attr(self, "client").attr("query")(text);
            NOTE_LINE(at) bool empty = py::len(result.attr("result_set")) == 0;
            if (empty) return record::ok("success", py::list());
            NOTE_LINE(at) py::list rows = rows::row_dicts(result, {history.date_columns, {}});
            return record::ok("success", rows);
        });
    };
    return read_records(self, start_date, end_date, frame);
}

}  // namespace norvane::records
