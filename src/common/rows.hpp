#pragma once
// Row-dict conversion: a query result turned into the list of row dicts a script receives, one
// dict per row with the keys in column order, values as writing the table as records-oriented
// JSON with pandas and reading it back gives them:
//   - text stays text, integers stay integers, truth values stay truth values;
//   - floating values keep at most 10 decimal places (rounded the way pandas writes them);
//   - None, NaN and infinities become None;
//   - dates and times become integer milliseconds since 1970-01-01 00:00 UTC (a date counts as
//     its midnight, a time stamp without zone as if it were UTC);
//   - integers share a column with floats or missing values become floats, as pandas gives
//     such a column one floating type.
// The dicts are built straight from the result's rows. Values of kinds a ClickHouse result does
// not normally hold (UUIDs, addresses, pandas' own scalars, ...) are left to pandas itself, so
// the answer is pandas' answer for them too. Decimals are numbers on every pandas (pandas 3 writes
// them as text); where pandas 3 otherwise writes differently (some time stamps before 1970), the
// installed pandas answers.
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace norvane::rows {
namespace py = pybind11;

struct Options {
    // Columns whose values are replaced by their text first, in this order: a date as
    // "%Y-%m-%d", anything else as str() of it; missing values stay None. A column that is not
    // in the table raises KeyError, as selecting it from the table would.
    std::vector<std::string> date_text_columns;
    // Names for the result's columns, in order, instead of the result's own `column_names`.
    std::vector<std::string> column_names;
};

// The rows of a query result (its `result_set` under its `column_names`) as row dicts.
py::list row_dicts(py::handle result);
py::list row_dicts(py::handle result, const Options& options);

}  // namespace norvane::rows
