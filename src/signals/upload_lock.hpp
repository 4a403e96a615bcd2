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
// Both times are bound at load in the module namespace, in seconds, and read when the lock is
// taken: `_upload_wait_seconds` (10) and `_upload_expiry_seconds` (30), each from 0.001 to 86400.
// The execution side never reads these keys.
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

class UploadLock {
public:
    // Takes the lock of `account_id` at `day` on `redis`. `method` and `who` ("fun_update_signal:
    // account 8800123") name the upload in errors. `outer` is a lock this one is held within (the
    // account's own while its copy account's rows are stored): it is renewed with this one.
    UploadLock(py::handle redis, const py::str& day, const std::string& account_id, const char* method,
               std::string who, UploadLock* outer = nullptr);
    // Gives the lock back unless `release` did, or a write timed out.
    ~UploadLock();
    UploadLock(const UploadLock&) = delete;
    UploadLock& operator=(const UploadLock&) = delete;

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

    // Gives the lock back after the last write. TimeoutError when it was no longer this upload's.
    void release();

private:
    void renew();
    double statement_wait() const { return expiry_seconds_ / 2; }
    void keep_until_expiry();
    // A time-out or an interrupt: the server may have the write, or get it later.
    static bool outcome_unknown(const py::error_already_set& error);

    py::object redis_;
    py::str key_;
    std::string token_, day_, who_;
    double expiry_seconds_ = 0;
    UploadLock* outer_;
    bool open_ = false;
};

// The upload under way in this thread while it has its copy account's rows stored (through
// fun_replicate_save): its lock, within which the copy account's lock is held, and the copy
// account it decided on before its first write (none: no copy account takes the rows).
class UploadUnderWay {
public:
    UploadUnderWay(UploadLock& lock, std::optional<py::str> copy_account);
    ~UploadUnderWay();
    UploadUnderWay(const UploadUnderWay&) = delete;
    UploadUnderWay& operator=(const UploadUnderWay&) = delete;

    // The upload under way in this thread, or nullptr.
    static const UploadUnderWay* current();

    UploadLock& lock;
    const std::optional<py::str> copy_account;

private:
    const UploadUnderWay* previous_;
};

}  // namespace norvane::signals
