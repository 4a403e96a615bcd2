#pragma once
// Where the account object's servers are. Ports and account names are fixed; host names and
// passwords are deployment configuration, read from the environment each time a connection is
// made (the defaults are the local stack's):
//   NORVANE_DB_HOST              the database host: ClickHouse, the test Redis, MySQL (127.0.0.1)
//   NORVANE_REDIS_PROD_HOST      Redis of env "prod"   (127.0.0.2)
//   NORVANE_REDIS_PROD67_HOST    Redis of env "prod67" (127.0.0.3)
//   NORVANE_REDIS_PROD65_HOST    Redis of env "prod65" (127.0.0.4)
//   NORVANE_RISK_HOST            the risk platform's real-time service (127.0.0.5)
// The passwords' variables are in common/passwords.hpp.
#include <pybind11/pybind11.h>

#include <string>
#include <utility>

#include "common/text.hpp"

namespace norvane::endpoints {
namespace py = pybind11;

inline constexpr int clickhouse_port = 23875;
inline constexpr const char* clickhouse_user = "norvane";
// The factor tables' read account, on the same ClickHouse server.
inline constexpr const char* factors_user = "read_factors";

inline constexpr int redis_port = 6379;

// The trade database on the MySQL server of the database host.
inline constexpr int mysql_port = 3306;
inline constexpr const char* mysql_user = "norvane";
inline constexpr const char* mysql_database = "trade";
inline constexpr const char* mysql_charset = "utf8mb4";

inline constexpr const char* risk_port = "10911";

// How long a call waits for each server, in seconds (the README's table adds them up per call).
// Redis: every command, the connect and the login included, answers within the socket time-out.
// A refused or dropped connection is tried once more at once (a server restarted under an idle
// pooled connection); a time-out is never repeated, whatever the installed client's own default.
inline constexpr double redis_timeout = 3.0;
// ClickHouse: each request's TCP connect; the silence the client's opening queries may meet; the
// silence any later request may meet. The client asks the server for a progress header at least
// every `clickhouse_progress_interval_ms` while it works on a query, so a long query keeps
// answering and only a server that has stopped answering reaches the silence bound. The upload's
// statements wait at most half the upload lock's expiry (signals/upload_lock).
inline constexpr int clickhouse_connect_timeout = 3;
inline constexpr int clickhouse_opening_timeout = 10;
inline constexpr int clickhouse_read_timeout = 15;
inline constexpr int clickhouse_progress_interval_ms = 5000;
// MySQL: the connect, and each read or write of the one statement of mysql_248.
inline constexpr int mysql_connect_timeout = 3;
inline constexpr int mysql_read_timeout = 120;

std::string database_host();
std::string risk_host();

std::string clickhouse_password();
std::string factors_password();
std::string prod_redis_password();
std::string test_redis_password();
std::string mysql_password();
std::string risk_password();

// A client's bound (clickhouse-connect's timeout object) with its read wait set to `seconds`.
py::object shorter_wait(py::handle bound, double seconds);

// A new ClickHouse client of `user`: opening it contacts the server, within the opening bound;
// its requests then wait for the read bound and ask for progress at the interval above.
py::object clickhouse_client(const char* user, const std::string& password);

// `client.command(statement)`, raising a failure that the client returned as the statement's
// result. A server that has sent progress headers reports a later failure with status 200, its
// X-ClickHouse-Exception-Code header and the error text as the body; clickhouse-connect 0.8.4 and
// later raise it, earlier versions return the text ("Code: N. DB::Exception: ..."). That text is
// raised here as the client's DatabaseError (RuntimeError for a client library without one).
py::object clickhouse_command(py::handle client, py::handle statement);

// Runs `send` with each request of `client` waiting at most `seconds` of silence; then the
// client's bound is what it was, on success and on error alike. A client without the bound (a
// script's own double) is left as it is. When `send` raised, an ordinary error of giving the
// bound back is passed over (the send's error is the one reported); an interrupt is not.
template <class Send>
void with_wait(py::handle client, double seconds, Send&& send) {
    py::object previous = attribute_or_none(client, "timeout");
    if (previous.is_none()) return std::forward<Send>(send)();
    client.attr("timeout") = shorter_wait(previous, seconds);
    try {
        std::forward<Send>(send)();
    } catch (...) {
        try {
            client.attr("timeout") = previous;
        } catch (py::error_already_set& error) {
            if (!error.matches(PyExc_Exception)) throw;
        }
        throw;
    }
    client.attr("timeout") = previous;
}

// A new Redis connection (no socket is opened until its first command), bounded as above.
py::object redis_connection(const std::string& host, const std::string& password);

// The environment's Redis: "prod", "prod67", "prod65" by exact equality, anything else the test
// Redis on the database host.
py::object environment_redis(py::handle env);

// The Redis that holds the copy accounts' signal hashes: the test Redis, whatever the env.
py::object copy_account_redis();

}  // namespace norvane::endpoints
