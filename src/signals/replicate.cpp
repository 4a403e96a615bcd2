#include "common/namespace.hpp"
#include "common/truth.hpp"
#include "signals/signals.hpp"
#include "signals/storage.hpp"

namespace norvane::signals {

py::object fun_replicate_save(py::object self, py::object tmp_mat, py::object continuous_holding) {
    if (!truthy(attr(self, "if_copy"))) return py::int_(0);
    py::object copy_account_id = attr(self, "copy_account_id");
    const bool continuous = truthy(continuous_holding);
    tmp_mat[py::str("account_id")] = copy_account_id;
    // The copy account's hash is written whether or not the upload wrote its own.
    write_signal_hash(tmp_mat, copy_account_id, attr(self, "copy_redis_conn"), continuous);
    py::object client = attr(self, "client");
    if (!continuous) {
        retire_live_signals(client, trading_day_of(tmp_mat), copy_account_id, RetireForm::copy,
                            "");
    }
    insert_signals(client, tmp_mat);
    return py::int_(0);
}

}  // namespace norvane::signals
