#include "common/plain.hpp"
#include "module/constructor.hpp"

#include "account/endpoints.hpp"
#include "common/outside.hpp"

namespace norvane {

// The order matters: the ClickHouse client is opened before the identifiers are stored, and the
// login runs once the environment's Redis connection exists. Errors of the login and of the
// copy-account lookup leave the constructor; a failed ClickHouse connect only sets its flag.
py::object construct_account(py::object self, py::object account_id, py::object acquire_key,
                             py::object user_id, py::object env) {
    self.attr("env") = env;
    self.attr("login") = py::int_(0);
    self.attr("client") = py::none();
    self.attr("connect_tag") = py::int_(0);
    self.attr("fun_clickhouse_connect")();
    // The identity as plain text, taken once: every statement, key and field uses these texts.
    self.attr("account_id") = plain::identity(account_id, plain::Where::argument("Norvane", "account_id"));
    self.attr("acquire_key") = plain::identity(acquire_key, plain::Where::argument("Norvane", "acquire_key"));
    self.attr("user_id") = plain::identity(user_id, plain::Where::argument("Norvane", "user_id"));
    self.attr("redis_conn") = endpoints::environment_redis(env);
    self.attr("fun_login")();
    self.attr("update_times") = py::int_(0);
    self.attr("update_df") = outside::pd().attr("DataFrame")();
    self.attr("if_copy") = py::bool_(false);
    self.attr("copy_redis_conn") = endpoints::copy_account_redis();
    self.attr("fun_check_replicate")();
    return py::none();
}

}  // namespace norvane
