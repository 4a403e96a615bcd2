#include "common/rows.hpp"

#include "common/namespace.hpp"

namespace norvane::rows {

py::list row_dicts(py::handle result) {
    return row_dicts(result.attr("result_set"), result.attr("column_names"));
}

py::list row_dicts(py::handle rows, py::handle columns) {
    py::object table = ns("pd").attr("DataFrame")(rows, py::arg("columns") = columns);
    py::object text = table.attr("to_json")(py::arg("orient") = "records");
    return ns("json").attr("loads")(text);
}

}  // namespace norvane::rows
