#pragma once
// Trading records: the account's orders, deals, positions and equity, current from the risk
// platform's real-time service or stored in ClickHouse for a range of trading days.
#include <pybind11/pybind11.h>

#include "common/handled.hpp"

namespace norvane::records {
namespace py = pybind11;

// Each checks its dates before its main steps (Step); the order, deal and position readers number
// those steps for their error text.
py::object fun_read_order(Step& step, py::object self, py::object start_date, py::object end_date);
py::object fun_read_deal(Step& step, py::object self, py::object start_date, py::object end_date);
py::object fun_read_position(Step& step, py::object self, py::object start_date,
                             py::object end_date);
py::object fun_read_equity(Step& step, py::object self, py::object start_date, py::object end_date);

}  // namespace norvane::records
