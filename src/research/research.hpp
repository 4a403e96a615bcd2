#pragma once
// Research data: the factor tables and the post-trade analysis of the trade database. The static
// readers open a connection of their own on every call.
#include <pybind11/pybind11.h>

namespace norvane::research {
namespace py = pybind11;

// Factor values, weights or net values ("value", "weight", "net") of a date range, every factor.
py::object factors_value(py::object typ, py::object start_date, py::object end_date);

// The same reader restricted to the desk's ten working factors.
py::object factors_value_lhjy(py::object typ, py::object start_date, py::object end_date);

// One statement on the trade database; its result as a DataFrame. Raises whatever goes wrong.
py::object mysql_248(py::object sql);

// The account's profit and loss over a date range per product and commodity.
py::object post_trade_analysis(py::object self, py::object start_date, py::object end_date,
                               py::object typ);

}  // namespace norvane::research
