#include "common/truth.hpp"
#include "signals/signals.hpp"
#include "signals/storage.hpp"

namespace norvane::signals {

py::object fun_replicate_save(py::object self, py::object tmp_mat, py::object continuous_holding) {
    if (!truthy(self.attr("if_copy"))) return py::int_(0);
    tmp_mat[py::str("account_id")] = self.attr("copy_account_id");
    // The copy account's hash is written whether or not the upload wrote its own; everything is
    // built before the first write.
    SignalWrites copy = build_copy_writes(self, tmp_mat, truthy(continuous_holding));
    write_signals(self.attr("client"), copy);
    return py::int_(0);
}

}  // namespace norvane::signals
