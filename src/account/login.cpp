#include "account/account.hpp"
#include "account/identity.hpp"
#include "common/clock.hpp"
#include "common/plain.hpp"
#include "common/sql.hpp"

namespace norvane::account {

namespace {

// The account's register rows in force at a moment, for its id and key.
constexpr const char* registered_count = R"(select count(*) n
from factors.t_account_info where {valid}
and account_id = {account_id} and acquire_info_key = {acquire_key})";

// The account's valid links to a copy account.
constexpr const char* copy_link = R"(select copy_account_id
from factors.t_assetacc_match
where account_id = {account_id} and is_valid = 1)";

// Marks the object unusable: every guarded method refuses it from now on.
void refuse_login(py::handle self) {
    self.attr("login") = py::int_(unusable);
    py::print(py::str("-----------连接成功但是入参有误------------"));
}

}  // namespace

py::object fun_login(py::object self) {
    std::string currenttime = clock::now_text(clock::seconds);
    std::string statement = sql::fill(registered_count,
                                      {{"valid", sql::valid_at(sql::text(py::str(currenttime)))},
                                       {"account_id", sql::text(account_id(self, "fun_login"))},
                                       {"acquire_key", sql::text(identity(self, "acquire_key", "fun_login"))}});
    py::object result = self.attr("client").attr("query")(statement);
    py::object pong = self.attr("redis_conn").attr("ping")();
    // A silent Redis does not excuse wrong credentials: the account count is judged either way.
    py::object count = result.attr("result_set")[py::int_(0)][py::int_(0)];
    bool registered = count > py::int_(0);
    if (!plain::truth(pong)) {
        py::print(py::str("Redis 连接失败：ping 无响应"));
        if (!registered) refuse_login(self);
        return py::int_(0);
    }
    if (registered) {
        py::print(py::str("----------连接数据库成功, 可进行查询， 当前版本更新于20250829----------"));
    } else {
        refuse_login(self);
    }
    return py::none();
}

py::object fun_check_replicate(py::object self) {
    std::string statement = sql::fill(copy_link,
                                      {{"account_id", sql::text(account_id(self, "fun_check_replicate"))}});
    py::object rows = self.attr("client").attr("query")(statement).attr("result_set");
    if (py::len(rows) > 0) {
        self.attr("copy_account_id") = rows[py::int_(0)][py::int_(0)];
        self.attr("if_copy") = py::bool_(true);
    }
    return py::none();
}

}  // namespace norvane::account
