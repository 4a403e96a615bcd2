#pragma once
// The deployment's passwords, read from the environment each time one is needed (the defaults are
// the local stack's), and the rule that no record, printed line or error text shows one.
//   NORVANE_CLICKHOUSE_PASSWORD  ClickHouse account "norvane"
//   NORVANE_FACTORS_PASSWORD     ClickHouse account "read_factors"
//   NORVANE_REDIS_PROD_PASSWORD  the three prod Redis servers
//   NORVANE_REDIS_TEST_PASSWORD  the test Redis (also the copy accounts' Redis)
//   NORVANE_MYSQL_PASSWORD       MySQL account "norvane"
//   NORVANE_RISK_PASSWORD        the risk platform's real-time service
#include <string>

namespace norvane::passwords {

struct Password {
    const char* variable;
    const char* fallback;
};

inline constexpr Password clickhouse{"NORVANE_CLICKHOUSE_PASSWORD", "Wanders_gk_7!"};
inline constexpr Password factors{"NORVANE_FACTORS_PASSWORD", "Lantern_7k58206"};
inline constexpr Password prod_redis{"NORVANE_REDIS_PROD_PASSWORD", "71plm@48okn"};
inline constexpr Password test_redis{"NORVANE_REDIS_TEST_PASSWORD", "!Tjelmuk@pvo"};
inline constexpr Password mysql{"NORVANE_MYSQL_PASSWORD", "mossgrave_5836#"};
inline constexpr Password risk{"NORVANE_RISK_PASSWORD", "804317"};

// The configured value: the environment's, else the fallback.
std::string configured(const char* variable, const char* fallback);

std::string of(const Password& which);

// `text` with every configured password masked as "***".
std::string masked(std::string text);

}  // namespace norvane::passwords
