#include "common/text.hpp"
#include "common/truth.hpp"
#include "signals/signals.hpp"
#include "signals/storage.hpp"

namespace norvane::signals {

py::object fun_replicate_save(py::object self, py::object tmp_mat, py::object continuous_holding) {
    if (!truthy(self.attr("if_copy"))) return py::int_(0);
    py::object copy_account_id = self.attr("copy_account_id");
    tmp_mat[py::str("account_id")] = copy_account_id;
    // The copy account's hash is written whether or not the upload wrote its own, and its turn is
    // taken on the copy-account Redis, which holds that hash.
    py::object copy_redis = self.attr("copy_redis_conn");
    SignalWrites copy = build_signal_writes(tmp_mat, copy_account_id, copy_redis,
                                            truthy(continuous_holding), RetireForm::copy, "");
    write_signals(self.attr("client"), copy_redis, copy,
                  "fun_replicate_save: copy account " + str_of(copy_account_id));
    return py::int_(0);
}

}  // namespace norvane::signals
