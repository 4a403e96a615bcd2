#include <optional>

#include "common/text.hpp"
#include "common/plain.hpp"
#include "signals/signals.hpp"
#include "signals/storage.hpp"

namespace norvane::signals {

py::object fun_replicate_save(py::object self, py::object tmp_mat, py::object continuous_holding) {
    constexpr const char* method = "fun_replicate_save";
    // Within its own object's upload the copy step is the upload's: the copy account, its Redis,
    // the client and the lock's times were taken before the upload's first write, and the copy
    // account's lock is held within the upload's. Called on its own, also by another object while
    // an upload is under way, the method takes them from its own account object.
    const UploadUnderWay* upload = UploadUnderWay::of(self);
    CopyStep copy = upload != nullptr ? upload->copy : copy_step(self, method);
    if (!copy.account) return py::int_(0);
    const LockTimes times = upload != nullptr ? upload->lock.times() : lock_times(method);
    const bool continuous = plain::truth(continuous_holding);
    tmp_mat[py::str("account_id")] = *copy.account;
    SignalRows rows = normalised_rows(tmp_mat, method);
    if (rows.size() == 0) return py::int_(0);
    // The copy account's hash is written whether or not the upload wrote its own, and its lock is
    // taken on the copy-account Redis, which holds that hash.
    SignalWrites writes = build_signal_writes(rows, *copy.account, copy.redis, continuous, RetireForm::copy, "");
    UploadLock lock(copy.redis, writes.day, utf8(*copy.account), times,
                    std::string(method) + ": copy account " + utf8(*copy.account),
                    upload != nullptr ? &upload->lock : nullptr);
    lock.hold([&] { write_signals(copy.client, lock, writes); });
    return py::int_(0);
}

}  // namespace norvane::signals
