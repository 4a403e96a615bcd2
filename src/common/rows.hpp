#pragma once
// Row-dict conversion: a query result turned into the list of row dicts a script receives, one
// dict per row with the keys in column order, values as writing the table as records-oriented
// JSON and reading it back gives them.
#include <pybind11/pybind11.h>

namespace norvane::rows {
namespace py = pybind11;

// The rows of a query result (its `result_set` under its `column_names`) as row dicts.
py::list row_dicts(py::handle result);

// Rows (sequences of values) under the given column labels, as row dicts.
py::list row_dicts(py::handle rows, py::handle columns);

}  // namespace norvane::rows
