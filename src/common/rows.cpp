#include "common/rows.hpp"

#include "common/namespace.hpp"

namespace norvane::rows {

py::list row_dicts(py::handle result) {
    py::object table = ns("pd").attr("DataFrame")(result.attr("result_set"),
                                                   py::arg("columns") = result.attr("column_names"));
    py::object text = table.attr("to_json")(py::arg("orient") = "records");
    return ns("json").attr("loads")(text);
}

}  // namespace norvane::rows
