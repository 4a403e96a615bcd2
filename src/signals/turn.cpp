#include "signals/turn.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <thread>

#include "common/namespace.hpp"
#include "common/plain.hpp"
#include "common/text.hpp"
#include "common/truth.hpp"

namespace norvane::signals {

namespace {

// Deletes the key only while it holds the caller's token: 1 when deleted, 0 otherwise.
constexpr const char* give_back = R"(if redis.call("get", KEYS[1]) == ARGV[1] then
    return redis.call("del", KEYS[1])
end
return 0)";

// A fresh token: 128 random bits as hex.
std::string new_token() {
    std::random_device source;
    std::string token;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(source()));
        token += part;
    }
    return token;
}

double seconds_in_namespace(const char* name) {
    py::object value = ns(name);
    std::optional<py::object> seconds = plain::real(value, plain::Where::attribute("Norvane", name));
    double number = seconds ? py::float_(*seconds).cast<double>() : 0;
    if (!(number > 0)) throw py::value_error(std::string("Norvane.") + name + " must be a positive number of seconds, not " + plain::shown(value));
    return number;
}

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

[[noreturn]] void timeout(const std::string& message) {
    PyErr_SetString(PyExc_TimeoutError, message.c_str());
    throw py::error_already_set();
}

// Waits for the key, polling every 50 ms with the interpreter free for other threads.
void take(py::handle redis, const py::str& key, const std::string& token, const std::string& who,
          const std::string& day) {
    using clock = std::chrono::steady_clock;
    const double wait = seconds_in_namespace(upload_wait_name);
    const auto expiry_ms = static_cast<long long>(seconds_in_namespace(upload_expiry_name) * 1000);
    const auto deadline = clock::now() + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(wait));
    py::object set = redis.attr("set");
    for (;;) {
        if (truthy(set(key, token, py::arg("nx") = true, py::arg("px") = expiry_ms))) return;
        const auto now = clock::now();
        if (now >= deadline) {
            timeout(who + ", trading day " + day + ": another upload has held the day's turn for " +
                    seconds_text(wait) + " s (Redis key " + utf8(key) +
                    "); nothing was written for this account");
        }
        {
            py::gil_scoped_release free;
            std::this_thread::sleep_for(std::min<clock::duration>(deadline - now, std::chrono::milliseconds(50)));
        }
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
}

bool give_turn_back(py::handle redis, const py::str& key, const std::string& token) {
    return truthy(redis.attr("eval")(give_back, 1, key, token));
}

}  // namespace

void in_turn(py::handle redis, const py::str& day, const std::string& account_id,
             const std::string& who, const std::function<void()>& writes) {
    const std::string day_text = utf8(day);
    const py::str key("norvane:upload:" + day_text + ":" + account_id);
    const std::string token = new_token();
    take(redis, key, token, who, day_text);
    try {
        writes();
    } catch (...) {
        // The writes' own error is the one to report; the turn ends with its expiry otherwise.
        try {
            give_turn_back(redis, key, token);
        } catch (py::error_already_set&) {
        }
        throw;
    }
    if (!give_turn_back(redis, key, token)) {
        timeout(who + ", trading day " + day_text + ": the upload outlasted its turn (" +
                seconds_text(seconds_in_namespace(upload_expiry_name)) +
                " s), so another upload may have written the day meanwhile; repeat it");
    }
}

}  // namespace norvane::signals
