#include <optional>

#include "account/identity.hpp"
#include "common/text.hpp"
#include "common/plain.hpp"
#include "signals/signals.hpp"
#include "signals/storage.hpp"

namespace norvane::signals {

py::object fun_replicate_save(py::object self, py::object tmp_mat, py::object continuous_holding) {
    constexpr const char* method = "fun_replicate_save";
    // Within an upload, the copy account was decided before the upload's first write; called on
    // its own, the method asks the account object.
    const UploadUnderWay* upload = UploadUnderWay::current();
    std::optional<py::str> copy_account;
    if (upload != nullptr) {
        copy_account = upload->copy_account;
    } else if (plain::truth(self.attr("if_copy"))) {
        copy_account = account::identity(self, "copy_account_id", method);
    }
    if (!copy_account) return py::int_(0);
    const bool continuous = plain::truth(continuous_holding);
    tmp_mat[py::str("account_id")] = *copy_account;
    SignalRows rows = normalised_rows(tmp_mat, method);
    if (rows.size() == 0) return py::int_(0);
    // The copy account's hash is written whether or not the upload wrote its own, and its lock is
    // taken on the copy-account Redis, which holds that hash, within the upload's own lock.
    py::object copy_redis = self.attr("copy_redis_conn");
    SignalWrites copy = build_signal_writes(rows, *copy_account, copy_redis, continuous, RetireForm::copy, "");
    UploadLock lock(copy_redis, copy.day, utf8(*copy_account), method,
                    std::string(method) + ": copy account " + utf8(*copy_account),
                    upload != nullptr ? &upload->lock : nullptr);
    write_signals(self.attr("client"), lock, copy);
    lock.release();
    return py::int_(0);
}

}  // namespace norvane::signals
