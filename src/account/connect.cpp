#include "account/account.hpp"
#include "account/endpoints.hpp"
#include "common/closing.hpp"
#include "common/handled.hpp"
#include "common/record.hpp"
#include "common/text.hpp"

namespace norvane::account {

// Never raises an ordinary error: a failure to open the client sets connect_tag to 4003 and prints
// {"code": 4003, "msg": repr of the error}; `client` keeps what it had (None on the first call,
// the old client on a reconnect), and the guard then refuses the object's methods.
py::object fun_clickhouse_connect(py::object self) {
    py::object client;
    try {
        client = endpoints::clickhouse_client(endpoints::clickhouse_user, endpoints::clickhouse_password());
    } catch (...) {
        py::object error = caught_exception(std::current_exception());
        self.attr("connect_tag") = py::int_(unusable);
        py::print(record::of(unusable, py::str(error_text(error))));
        return py::none();
    }
    // A reconnect closes the client it replaces; a failed reconnect keeps the old one.
    py::object replaced = attribute_or_none(self, "client");
    self.attr("client") = client;
    if (!replaced.is_none() && !replaced.is(client)) close_quietly(replaced);
    self.attr("connect_tag") = py::int_(0);
    py::print(record::ok("connect to database"));
    return py::none();
}

}  // namespace norvane::account
