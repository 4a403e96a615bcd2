#include "module/constructor.hpp"

#include "account/endpoints.hpp"
#include "common/namespace.hpp"
#include "common/outside.hpp"

namespace norvane {

// The order matters: the ClickHouse client is opened before the identifiers are stored, and the
// login runs once the environment's Redis connection exists. Errors of the login and of the
// copy-account lookup leave the constructor; a failed ClickHouse connect only sets its flag.
py::object construct_account(py::object self, py::object account_id, py::object acquire_key,
                             py::object user_id, py::object env) {
    set_attr(self, "env", env);
    set_attr(self, "login", py::int_(0));
    set_attr(self, "client", py::none());
    set_attr(self, "connect_tag", py::int_(0));
    self.attr("fun_clickhouse_connect")();
    set_attr(self, "account_id", account_id);
    set_attr(self, "acquire_key", acquire_key);
    set_attr(self, "user_id", user_id);
    set_attr(self, "redis_conn", endpoints::environment_redis(env));
    self.attr("fun_login")();
    set_attr(self, "update_times", py::int_(0));
    set_attr(self, "update_df", outside::pd().attr("DataFrame")());
    set_attr(self, "if_copy", py::bool_(false));
    set_attr(self, "copy_redis_conn", endpoints::copy_account_redis());
    self.attr("fun_check_replicate")();
    return py::none();
}

}  // namespace norvane
