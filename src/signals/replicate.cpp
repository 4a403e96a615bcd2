#include "account/identity.hpp"
#include "common/text.hpp"
#include "common/truth.hpp"
#include "signals/signals.hpp"
#include "signals/storage.hpp"

namespace norvane::signals {

py::object fun_replicate_save(py::object self, py::object tmp_mat, py::object continuous_holding) {
    constexpr const char* method = "fun_replicate_save";
    if (!truthy(self.attr("if_copy"))) return py::int_(0);
    const bool continuous = truthy(continuous_holding);
    const py::str copy_account = account::identity(self, "copy_account_id", method);
    tmp_mat[py::str("account_id")] = copy_account;
    SignalRows rows = normalised_rows(tmp_mat, method);
    if (rows.size() == 0) return py::int_(0);
    // The copy account's hash is written whether or not the upload wrote its own, and its turn is
    // taken on the copy-account Redis, which holds that hash.
    py::object copy_redis = self.attr("copy_redis_conn");
    SignalWrites copy = build_signal_writes(rows, copy_account, copy_redis, continuous, RetireForm::copy, "");
    write_signals(self.attr("client"), copy_redis, copy, std::string(method) + ": copy account " + utf8(copy_account));
    return py::int_(0);
}

}  // namespace norvane::signals
