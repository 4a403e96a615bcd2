#include "common/passwords.hpp"

#include "common/outside.hpp"
#include "common/text.hpp"

namespace norvane::passwords {

namespace {

constexpr Password every_password[] = {clickhouse, factors, prod_redis, test_redis, mysql, risk};

}  // namespace

std::string configured(const char* variable, const char* fallback) {
    return str_of(outside::os().attr("environ").attr("get")(variable, fallback));
}

std::string of(const Password& which) { return configured(which.variable, which.fallback); }

std::string masked(std::string text) {
    for (const auto& which : every_password) {
        const std::string secret = of(which);
        if (secret.empty()) continue;
        for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3)) {
            text.replace(at, secret.size(), "***");
        }
    }
    return text;
}

}  // namespace norvane::passwords
