#include "account/endpoints.hpp"
#include "common/outside.hpp"
#include "common/passwords.hpp"
#include "common/text.hpp"

#include <string>


namespace norvane::endpoints {

using namespace pybind11::literals;

namespace {

using passwords::configured;

struct EnvironmentRedis {
    const char* env;
    const char* host_variable;
    const char* default_host;
};

// Checked in this order; the first exact match wins.
constexpr EnvironmentRedis prod_environments[] = {
    {"prod", "NORVANE_REDIS_PROD_HOST", "127.0.0.2"},
    {"prod67", "NORVANE_REDIS_PROD67_HOST", "127.0.0.3"},
    {"prod65", "NORVANE_REDIS_PROD65_HOST", "127.0.0.4"},
};

}  // namespace

std::string database_host() { return configured("NORVANE_DB_HOST", "127.0.0.1"); }

std::string risk_host() { return configured("NORVANE_RISK_HOST", "127.0.0.5"); }

std::string clickhouse_password() { return passwords::of(passwords::clickhouse); }
std::string factors_password() { return passwords::of(passwords::factors); }
std::string prod_redis_password() { return passwords::of(passwords::prod_redis); }
std::string test_redis_password() { return passwords::of(passwords::test_redis); }
std::string mysql_password() { return passwords::of(passwords::mysql); }
std::string risk_password() { return passwords::of(passwords::risk); }

namespace {

// clickhouse_connect asks for progress headers (send_progress_in_http_headers=1) on every request
// when the server lets it, at an interval it derives once from the send/receive time-out it was
// opened with: (time-out - 5 s) up to 0.6.17 (5 s here), at least 10 s from 0.6.18 on, whatever
// the time-out. It sits in the client's `_progress_interval` up to 1.5 and in
// `_backend.progress_interval` from 1.6 on, and is set where it is, so that every version asks for
// a header at least every 5 s. A client that does not ask (the server forbids the setting) or
// keeps it elsewhere is left as it is.
void ask_progress(py::handle client) {
    py::object holder = py::reinterpret_borrow<py::object>(client);
    const char* name = "_progress_interval";
    py::object interval = attribute_or_none(holder, name);
    if (interval.is_none()) {
        holder = attribute_or_none(client, "_backend");
        name = "progress_interval";
        interval = attribute_or_none(holder, name);
    }
    if (!py::isinstance<py::str>(interval)) return;
    holder.attr(name) = py::str(std::to_string(clickhouse_progress_interval_ms));
}

}  // namespace

py::object clickhouse_client(const char* user, const std::string& password) {
    py::object client = outside::clickhouse_connect().attr("get_client")(
        "host"_a = database_host(), "port"_a = clickhouse_port, "username"_a = user, "password"_a = password,
        "connect_timeout"_a = clickhouse_connect_timeout, "send_receive_timeout"_a = clickhouse_opening_timeout);
    py::object opening = attribute_or_none(client, "timeout");
    if (!opening.is_none()) {
        client.attr("timeout") = py::type::of(opening)("connect"_a = clickhouse_connect_timeout,
                                                       "read"_a = clickhouse_read_timeout);
    }
    ask_progress(client);
    return client;
}

py::object shorter_wait(py::handle bound, double seconds) {
    return py::type::of(bound)("connect"_a = bound.attr("connect_timeout"), "read"_a = seconds);
}

py::object clickhouse_command(py::handle client, py::handle statement) {
    py::object result = client.attr("command")(statement);
    if (!py::isinstance<py::str>(result)) return result;
    const std::string text = result.cast<std::string>();
    if (text.rfind("Code: ", 0) != 0 || text.find(". DB::Exception: ") == std::string::npos) return result;
    py::object error = py::reinterpret_borrow<py::object>(PyExc_RuntimeError);
    py::object driver = attribute_or_none(outside::clickhouse_connect(), "driver");
    py::object exceptions = attribute_or_none(driver, "exceptions");
    py::object database_error = attribute_or_none(exceptions, "DatabaseError");
    if (PyType_Check(database_error.ptr()) &&
        PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(database_error.ptr()),
                         reinterpret_cast<PyTypeObject*>(PyExc_Exception))) {
        error = database_error;
    }
    PyErr_SetObject(error.ptr(), py::str(text).ptr());
    throw py::error_already_set();
}

py::object redis_connection(const std::string& host, const std::string& password) {
    py::object redis = outside::redis();
    py::dict settings("host"_a = host, "port"_a = redis_port, "password"_a = password, "db"_a = 0,
                      "decode_responses"_a = true, "socket_timeout"_a = redis_timeout);
    // redis-py's own policy is replaced by one that is the same on every version: a refused or
    // dropped connection once more at once, a time-out never. A stand-in library without
    // redis-py's policy classes gets the settings above.
    py::object retry = attribute_or_none(attribute_or_none(redis, "retry"), "Retry");
    py::object no_backoff = attribute_or_none(attribute_or_none(redis, "backoff"), "NoBackoff");
    py::object connection_error = attribute_or_none(attribute_or_none(redis, "exceptions"), "ConnectionError");
    if (!retry.is_none() && !no_backoff.is_none() && !connection_error.is_none()) {
        py::list retried;
        retried.append(connection_error);
        settings["socket_connect_timeout"] = redis_timeout;
        settings["retry"] = retry(no_backoff(), 1,
                                                       "supported_errors"_a = py::make_tuple(connection_error));
        settings["retry_on_error"] = retried;
    }
    return redis.attr("Redis")(**settings);
}

py::object environment_redis(py::handle env) {
    for (const auto& prod : prod_environments) {
        if (env.equal(py::str(prod.env))) {
            return redis_connection(configured(prod.host_variable, prod.default_host),
                                    prod_redis_password());
        }
    }
    return redis_connection(database_host(), test_redis_password());
}

py::object copy_account_redis() { return redis_connection(database_host(), test_redis_password()); }

}  // namespace norvane::endpoints
