#include "account/endpoints.hpp"

#include "common/namespace.hpp"

namespace norvane::endpoints {

using namespace pybind11::literals;

namespace {

std::string configured_host(const char* variable, const char* fallback) {
    return ns("os").attr("environ").attr("get")(variable, fallback).cast<std::string>();
}

struct EnvironmentRedis {
    const char* env;
    const char* host_variable;
    const char* default_host;
};

// Checked in this order; the first exact match wins.
constexpr EnvironmentRedis prod_redis[] = {
    {"prod", "NORVANE_REDIS_PROD_HOST", "127.0.0.2"},
    {"prod67", "NORVANE_REDIS_PROD67_HOST", "127.0.0.3"},
    {"prod65", "NORVANE_REDIS_PROD65_HOST", "127.0.0.4"},
};

}  // namespace

std::string database_host() { return configured_host("NORVANE_DB_HOST", "127.0.0.1"); }

std::string risk_host() { return configured_host("NORVANE_RISK_HOST", "127.0.0.5"); }

py::object redis_connection(const std::string& host, const char* password) {
    return ns("redis").attr("Redis")("host"_a = host, "port"_a = redis_port,
                                     "password"_a = password, "db"_a = 0,
                                     "decode_responses"_a = true, "socket_timeout"_a = 3.0);
}

py::object environment_redis(py::handle env) {
    for (const auto& prod : prod_redis) {
        if (env.equal(py::str(prod.env))) {
            return redis_connection(configured_host(prod.host_variable, prod.default_host),
                                    prod_redis_password);
        }
    }
    return redis_connection(database_host(), test_redis_password);
}

py::object copy_account_redis() { return redis_connection(database_host(), test_redis_password); }

}  // namespace norvane::endpoints
