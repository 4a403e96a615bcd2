#include "account/account.hpp"
#include "account/endpoints.hpp"
#include "common/closing.hpp"
#include "common/output.hpp"
#include "common/record.hpp"

namespace norvane::account {

using namespace pybind11::literals;

// A failure to open the client is answered by its table entry's handler (Errors::connect_flag).
py::object fun_clickhouse_connect(py::object self) {
    py::object client = endpoints::clickhouse_client(endpoints::clickhouse_user, endpoints::clickhouse_password());
    // A reconnect closes the client it replaces; a failed reconnect keeps the old one.
    py::object replaced = py::getattr(self, "client", py::none());
    self.attr("client") = client;
    if (!replaced.is_none() && !replaced.is(client)) close_quietly(replaced);
    self.attr("connect_tag") = py::int_(0);
    say(record::ok("connect to database"));
    return py::none();
}

}  // namespace norvane::account
