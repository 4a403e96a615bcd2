#pragma once
// Trading records: the account's orders, deals, positions and equity, current from the risk
// platform's real-time service or stored in ClickHouse for a range of trading days.
#include <pybind11/pybind11.h>

namespace norvane::records {
namespace py = pybind11;

// Each checks its dates before it opens its handler; the order, deal and position readers number
// their main steps for the handler's record (records/frame.hpp, ReadStep).
py::object fun_read_order(py::object self, py::object start_date, py::object end_date);
py::object fun_read_deal(py::object self, py::object start_date, py::object end_date);
py::object fun_read_position(py::object self, py::object start_date, py::object end_date);
py::object fun_read_equity(py::object self, py::object start_date, py::object end_date);

}  // namespace norvane::records
