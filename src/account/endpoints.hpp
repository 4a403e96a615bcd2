#pragma once
// Where the account object's servers are. Ports, accounts and passwords are fixed; host names are
// deployment configuration, read from the environment when a connection is made:
//   NORVANE_DB_HOST            the database host: ClickHouse, the test Redis, MySQL (127.0.0.1)
//   NORVANE_REDIS_PROD_HOST    Redis of env "prod"   (127.0.0.2)
//   NORVANE_REDIS_PROD67_HOST  Redis of env "prod67" (127.0.0.3)
//   NORVANE_REDIS_PROD65_HOST  Redis of env "prod65" (127.0.0.4)
//   NORVANE_RISK_HOST          the risk platform's real-time service (127.0.0.5)
#include <pybind11/pybind11.h>

#include <string>

namespace norvane::endpoints {
namespace py = pybind11;

inline constexpr int clickhouse_port = 23875;
inline constexpr const char* clickhouse_user = "norvane";
inline constexpr const char* clickhouse_password = "Wanders_gk_7!";

inline constexpr int redis_port = 6379;
inline constexpr const char* prod_redis_password = "71plm@48okn";
inline constexpr const char* test_redis_password = "!Tjelmuk@pvo";

// The factor tables' read account, on the same ClickHouse server.
inline constexpr const char* factors_user = "read_factors";
inline constexpr const char* factors_password = "Lantern_7k58206";

// The trade database on the MySQL server of the database host.
inline constexpr int mysql_port = 3306;
inline constexpr const char* mysql_user = "norvane";
inline constexpr const char* mysql_password = "mossgrave_5836#";
inline constexpr const char* mysql_database = "trade";
inline constexpr const char* mysql_charset = "utf8mb4";

inline constexpr const char* risk_port = "10911";
inline constexpr const char* risk_password = "804317";

std::string database_host();
std::string risk_host();

// A new Redis connection (no socket is opened until its first command).
py::object redis_connection(const std::string& host, const char* password);

// The environment's Redis: "prod", "prod67", "prod65" by exact equality, anything else the test
// Redis on the database host.
py::object environment_redis(py::handle env);

// The Redis that holds the copy accounts' signal hashes: the test Redis, whatever the env.
py::object copy_account_redis();

}  // namespace norvane::endpoints
