#include "signals/upload_lock.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "common/namespace.hpp"
#include "common/outside.hpp"
#include "common/plain.hpp"
#include "common/text.hpp"

namespace norvane::signals {

namespace {

// Renews the key for ARGV[2] ms only while it holds the caller's token: 1 when renewed, else 0.
constexpr const char* renew_script = R"(if redis.call("get", KEYS[1]) == ARGV[1] then
    return redis.call("pexpire", KEYS[1], ARGV[2])
end
return 0)";

// Deletes the key only while it holds the caller's token: 1 when deleted, 0 otherwise.
constexpr const char* give_back_script = R"(if redis.call("get", KEYS[1]) == ARGV[1] then
    return redis.call("del", KEYS[1])
end
return 0)";

// What Redis takes as an expiry in milliseconds, and what an upload sensibly waits: 1 ms to a day.
// The expiry is at least 1 s: each statement of the writes waits at most half of it, and a
// statement on the local stack takes up to 55 ms on a busy machine (a whole upload with its copy
// account up to 0.2 s), so 0.5 s per statement leaves it about ten times that.
constexpr double shortest_wait_seconds = 0.001;
constexpr double shortest_expiry_seconds = 1;
constexpr double longest_seconds = 86400;

// The uploads under way in this thread, innermost first: a plain pointer to an object on that
// upload's stack, chained to the ones it is nested in. It owns nothing.
thread_local const UploadUnderWay* uploads_under_way = nullptr;

// A fresh token: 128 random bits from the operating system, as hex.
std::string new_token() { return str_of(outside::os().attr("urandom")(16).attr("hex")()); }

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

double seconds_in_namespace(const char* method, const char* name, double shortest) {
    py::object value = module_value(name);
    const std::string attribute = std::string("Norvane.") + name;
    const plain::Where where = plain::Where::attribute(method, attribute.c_str());
    std::optional<py::object> seconds = plain::real(value, where);
    double number = seconds ? py::float_(*seconds).cast<double>() : NAN;
    if (!(number >= shortest && number <= longest_seconds)) {
        plain::refuse(PyExc_ValueError, where,
                      "must be a number of seconds from " + seconds_text(shortest) + " to 86400, not " + plain::shown(value));
    }
    return number;
}

long long milliseconds(double seconds) { return std::max(1LL, static_cast<long long>(seconds * 1000)); }

[[noreturn]] void timeout(const std::string& message) {
    PyErr_SetString(PyExc_TimeoutError, message.c_str());
    throw py::error_already_set();
}

bool named_time_out(PyObject* type) {
    std::string name = reinterpret_cast<PyTypeObject*>(type)->tp_name;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    return name.find("timeout") != std::string::npos;
}

}  // namespace

LockTimes lock_times(const char* method) {
    LockTimes times;
    times.wait = seconds_in_namespace(method, upload_wait_name, shortest_wait_seconds);
    times.expiry = seconds_in_namespace(method, upload_expiry_name, shortest_expiry_seconds);
    return times;
}

UploadLock::UploadLock(py::handle redis, const py::str& day, const std::string& account_id, const LockTimes& times,
                       std::string who, UploadLock* outer)
    : redis_(py::reinterpret_borrow<py::object>(redis)),
      key_("norvane:upload:" + utf8(day) + ":" + account_id),
      token_(new_token()),
      day_(utf8(day)),
      who_(std::move(who)),
      times_(times),
      outer_(outer) {
    using clock = std::chrono::steady_clock;
    const double wait = times_.wait;
    const auto deadline = clock::now() + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(wait));
    py::object set = redis_.attr("set");
    // Polls every 50 ms with the interpreter free for other threads.
    for (;;) {
        if (plain::truth(set(key_, token_, py::arg("nx") = true, py::arg("px") = milliseconds(times_.expiry)))) break;
        const auto now = clock::now();
        if (now >= deadline) {
            timeout(who_ + ", trading day " + day_ + ": the day's upload lock stayed taken for " + seconds_text(wait) +
                    " s (Redis key " + utf8(key_) + "): another upload holds it, or an earlier upload's write "
                    "timed out and the lock ends with its expiry (" + seconds_text(times_.expiry) +
                    " s); nothing was written for this account");
        }
        {
            py::gil_scoped_release free;
            std::this_thread::sleep_for(std::min<clock::duration>(deadline - now, std::chrono::milliseconds(50)));
        }
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
    open_ = true;
}

void UploadLock::give_back_after_failure() {
    if (!open_) return;
    open_ = false;
    try {
        redis_.attr("eval")(give_back_script, 1, key_, token_);
    } catch (py::error_already_set& error) {
        // A lock not given back ends with its expiry.
        if (!error.matches(PyExc_Exception)) throw;
    }
}

void UploadLock::renew() {
    if (outer_ != nullptr) outer_->renew();
    if (!open_ || !plain::truth(redis_.attr("eval")(renew_script, 1, key_, token_, milliseconds(times_.expiry)))) {
        open_ = false;
        timeout(who_ + ", trading day " + day_ + ": the upload lock lapsed before a write (its expiry is " +
                seconds_text(times_.expiry) + " s), so the write was not sent; another upload may have "
                "written the day since, repeat the upload");
    }
}

void UploadLock::keep_until_expiry() { open_ = false; }

void UploadLock::release() {
    if (!open_) return;
    open_ = false;
    if (!plain::truth(redis_.attr("eval")(give_back_script, 1, key_, token_))) {
        timeout(who_ + ", trading day " + day_ + ": the upload outlasted its lock (" + seconds_text(times_.expiry) +
                " s), so another upload may have written the day meanwhile; repeat it");
    }
}

bool UploadLock::outcome_unknown(const py::error_already_set& error) {
    // An interrupt may come while the server already has the write.
    if (!error.matches(PyExc_Exception) || named_time_out(error.type().ptr())) return true;
    // The client libraries wrap the socket's time-out in errors of their own.
    py::object cause = error.value();
    for (int depth = 0; depth < 8 && cause && !cause.is_none(); ++depth) {
        if (named_time_out(reinterpret_cast<PyObject*>(Py_TYPE(cause.ptr())))) return true;
        py::object next = attribute_or_none(cause, "__cause__");
        cause = next.is_none() ? attribute_or_none(cause, "__context__") : next;
    }
    return false;
}

UploadUnderWay::UploadUnderWay(py::handle uploader, UploadLock& lock, CopyStep copy)
    : lock(lock), copy(std::move(copy)), uploader_(uploader.ptr()), previous_(uploads_under_way) {
    uploads_under_way = this;
}

UploadUnderWay::~UploadUnderWay() { uploads_under_way = previous_; }

const UploadUnderWay* UploadUnderWay::of(py::handle object) {
    for (const UploadUnderWay* upload = uploads_under_way; upload != nullptr; upload = upload->previous_) {
        if (upload->uploader_ == object.ptr()) return upload;
    }
    return nullptr;
}

}  // namespace norvane::signals
