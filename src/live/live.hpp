#pragma once
// Live account views: what outside processes keep in the environment's Redis about the account.
// The methods only read; every stored text is read back as a literal.
#include <pybind11/pybind11.h>

namespace norvane::live {
namespace py = pybind11;

// {"code": 0, "data": the account's live positions}, from the string key {account_id}.
py::object fun_redis_position(py::object self);

// {"code": 0, "data": [deal, ...]} from the list {account_id}_{dte}, in list order.
py::object fun_redis_deal(py::object self, py::object dte);

// {"code": 0, "data": the account's entry of "deal_warning"}, as stored.
py::object fun_last_trade(py::object self);

// {"code": 0, "data": the account's entry of "balance_warning" with "shares" = its market value}.
py::object fun_margin_used(py::object self);

}  // namespace norvane::live
