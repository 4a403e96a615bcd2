#include "account/endpoints.hpp"
#include "common/outside.hpp"
#include "common/text.hpp"


namespace norvane::endpoints {

using namespace pybind11::literals;

namespace {

std::string configured(const char* variable, const char* fallback) {
    return str_of(outside::os().attr("environ").attr("get")(variable, fallback));
}

struct Password {
    const char* variable;
    const char* fallback;
};

constexpr Password clickhouse{"NORVANE_CLICKHOUSE_PASSWORD", "Wanders_gk_7!"};
constexpr Password factors{"NORVANE_FACTORS_PASSWORD", "Lantern_7k58206"};
constexpr Password prod_redis{"NORVANE_REDIS_PROD_PASSWORD", "71plm@48okn"};
constexpr Password test_redis{"NORVANE_REDIS_TEST_PASSWORD", "!Tjelmuk@pvo"};
constexpr Password mysql{"NORVANE_MYSQL_PASSWORD", "mossgrave_5836#"};
constexpr Password risk{"NORVANE_RISK_PASSWORD", "804317"};
constexpr Password passwords[] = {clickhouse, factors, prod_redis, test_redis, mysql, risk};

std::string password(const Password& which) { return configured(which.variable, which.fallback); }

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

std::string clickhouse_password() { return password(clickhouse); }
std::string factors_password() { return password(factors); }
std::string prod_redis_password() { return password(prod_redis); }
std::string test_redis_password() { return password(test_redis); }
std::string mysql_password() { return password(mysql); }
std::string risk_password() { return password(risk); }

std::string without_passwords(std::string text) {
    for (const auto& which : passwords) {
        const std::string secret = password(which);
        if (secret.empty()) continue;
        for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3)) {
            text.replace(at, secret.size(), "***");
        }
    }
    return text;
}

py::object clickhouse_client(const char* user, const std::string& password) {
    py::object client = outside::clickhouse_connect().attr("get_client")(
        "host"_a = database_host(), "port"_a = clickhouse_port, "username"_a = user, "password"_a = password,
        "connect_timeout"_a = clickhouse_connect_timeout, "send_receive_timeout"_a = clickhouse_opening_timeout);
    if (py::hasattr(client, "timeout")) {
        py::object opening = client.attr("timeout");
        client.attr("timeout") = py::type::of(opening)("connect"_a = clickhouse_connect_timeout,
                                                       "read"_a = clickhouse_read_timeout);
    }
    return client;
}

ClickHouseWait::ClickHouseWait(py::handle client, double seconds) {
    if (!py::hasattr(client, "timeout")) return;
    previous_ = client.attr("timeout");
    client.attr("timeout") = py::type::of(previous_)("connect"_a = previous_.attr("connect_timeout"), "read"_a = seconds);
    client_ = py::reinterpret_borrow<py::object>(client);
}

ClickHouseWait::~ClickHouseWait() {
    if (!client_) return;
    if (PyObject_SetAttrString(client_.ptr(), "timeout", previous_.ptr()) != 0) PyErr_Clear();
}

py::object redis_connection(const std::string& host, const std::string& password) {
    py::object redis = outside::redis();
    py::dict settings("host"_a = host, "port"_a = redis_port, "password"_a = password, "db"_a = 0,
                      "decode_responses"_a = true, "socket_timeout"_a = redis_timeout);
    // redis-py's own policy is replaced by one that is the same on every version: a refused or
    // dropped connection once more at once, a time-out never. A stand-in library without
    // redis-py's policy classes gets the settings above.
    py::object retry_module = py::getattr(redis, "retry", py::none());
    py::object backoff_module = py::getattr(redis, "backoff", py::none());
    py::object exceptions = py::getattr(redis, "exceptions", py::none());
    if (py::hasattr(retry_module, "Retry") && py::hasattr(backoff_module, "NoBackoff") &&
        py::hasattr(exceptions, "ConnectionError")) {
        py::object connection_error = exceptions.attr("ConnectionError");
        py::list retried;
        retried.append(connection_error);
        settings["socket_connect_timeout"] = redis_timeout;
        settings["retry"] = retry_module.attr("Retry")(backoff_module.attr("NoBackoff")(), 1,
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
