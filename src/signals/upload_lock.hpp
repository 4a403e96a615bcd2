#pragma once
// One upload at a time per account and trading day: the upload lock.
//
// The lock is the Redis key "norvane:upload:<trading day>:<account id>" on the Redis that holds
// the account's signal hash, set only if absent (NX) to a token of the upload's own, with an
// expiry. An upload that cannot take it within the wait raises TimeoutError before writing.
//
// The lock stays true while its upload lives: before each write the upload renews it for a full
// expiry, only while the key still holds its token, and sends nothing once it cannot confirm it.
// Each ClickHouse statement of the writes waits at most half the expiry, and each Redis command
// the socket time-out (3 s), so a write sent right after a renewal ends, or is given up, while
// the lock is still held. A write that timed out may still be carried out by a server that comes
// back, so after one the lock is not given back but left to its expiry; after any other error it
// is given back at once. A killed uploader's lock ends within the expiry of its last renewal.
//
// Both times are bound at load in the module namespace, in seconds, and read once per upload,
// before its first write: `_upload_wait_seconds` (10), from 0.001 to 86400, and
// `_upload_expiry_seconds` (30), from 1 to 86400. An expiry below 1 s cannot cover a round trip
// on a busy machine (each statement may wait half of it; bench/signal_upload.py measures
// them), so it is refused rather than left to break every upload. The execution side never
// reads these keys.
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <utility>

namespace norvane::signals {
namespace py = pybind11;

// The times in the module namespace, and their defaults bound at load.
inline constexpr const char* upload_wait_name = "_upload_wait_seconds";
inline constexpr const char* upload_expiry_name = "_upload_expiry_seconds";
inline constexpr double default_upload_wait = 10.0;
inline constexpr double default_upload_expiry = 30.0;

// The two times of one upload, in seconds.
struct LockTimes {
    double wait = default_upload_wait;
    double expiry = default_upload_expiry;
};

// Reads both times from the module namespace; a value out of its range is refused (ValueError
// naming `method` and the setting).
LockTimes lock_times(const char* method);

class UploadLock {
public:
    // Takes the lock of `account_id` at `day` on `redis`, waiting up to `times.wait`. `who`
    // ("fun_update_signal: account 8800123") names the upload in errors. `outer` is a lock this
    // one is held within (the account's own while its copy account's rows are stored): it is
    // renewed with this one.
    UploadLock(py::handle redis, const py::str& day, const std::string& account_id, const LockTimes& times,
               std::string who, UploadLock* outer = nullptr);
    UploadLock(const UploadLock&) = delete;
    UploadLock& operator=(const UploadLock&) = delete;

    // Runs `steps` (the writes) holding the lock, then gives it back: TimeoutError when it was no
    // longer this upload's. When `steps` raise, the lock is given back at once, unless a write
    // timed out; an ordinary error of that giving back is passed over (the steps' error is the
    // one reported), an interrupt is raised in its place.
    template <class Steps>
    void hold(Steps&& steps) {
        try {
            std::forward<Steps>(steps)();
        } catch (...) {
            give_back_after_failure();
            throw;
        }
        release();
    }

    // Sends one write holding the lock: renews it (and the outer one) first, raising TimeoutError
    // without sending when it is no longer this upload's; `send` gets the ClickHouse statement's
    // bound in seconds. A write that times out leaves the lock to its expiry.
    template <class Send>
    void write(Send&& send) {
        renew();
        try {
            std::forward<Send>(send)(statement_wait());
        } catch (py::error_already_set& error) {
            if (outcome_unknown(error)) keep_until_expiry();
            throw;
        }
    }

    const LockTimes& times() const { return times_; }

private:
    void renew();
    void release();
    void give_back_after_failure();
    double statement_wait() const { return times_.expiry / 2; }
    void keep_until_expiry();
    // A time-out or an interrupt: the server may have the write, or get it later.
    static bool outcome_unknown(const py::error_already_set& error);

    py::object redis_;
    py::str key_;
    std::string token_, day_, who_;
    LockTimes times_;
    UploadLock* outer_;
    bool open_ = false;
};

// What an upload's copy step uses, each object taken from the account object once, before the
// upload's first write: the copy account (none: no copy account takes the rows), the
// copy-account Redis and the ClickHouse client.
struct CopyStep {
    std::optional<py::str> account;
    py::object redis;
    py::object client;
};

// An upload while it has its copy account's rows stored (through fun_replicate_save): its lock,
// within which the copy account's lock is held, and its copy step. The copy step belongs to the
// uploading object: only that object's own fun_replicate_save joins it; another object's,
// called meanwhile (a desk's override replicating a second account, say), is a call of its own.
class UploadUnderWay {
public:
    UploadUnderWay(py::handle uploader, UploadLock& lock, CopyStep copy);
    ~UploadUnderWay();
    UploadUnderWay(const UploadUnderWay&) = delete;
    UploadUnderWay& operator=(const UploadUnderWay&) = delete;

    // The upload `object` has under way in this thread, or nullptr.
    static const UploadUnderWay* of(py::handle object);

    UploadLock& lock;
    const CopyStep copy;

private:
    // The uploading object, by identity only: it is the upload's own argument, alive while this
    // lives, and nothing here owns it.
    const PyObject* uploader_;
    const UploadUnderWay* previous_;
};

}  // namespace norvane::signals
