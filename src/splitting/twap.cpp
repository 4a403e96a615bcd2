#include <string>
#include <vector>

#include "common/clock.hpp"
#include "common/labels.hpp"
#include "common/outside.hpp"
#include "common/record.hpp"
#include "common/sql.hpp"
#include "splitting/splitting.hpp"

namespace norvane::splitting {

namespace {

// The input's required columns, in the order of the messages and of the written columns.
constexpr const char* required[] = {"commodity", "if_twap", "time_gap", "volume"};

}  // namespace

// No outer handler: an input the table library or a comparison rejects, a value that cannot be
// written, or a failing insert reaches the caller; rows inserted before a failing insert stay.
py::object fun_update_TWAP_info(py::object self, py::object input_data) {
    py::object table = outside::pd().attr("DataFrame")(input_data);

    std::string missing;
    py::object columns = table.attr("columns");
    for (const char* column : required) {
        if (!columns.contains(py::str(column))) missing += record::missing_column(column);
    }
    if (!missing.empty()) return record::rejected(missing);

    const size_t given = py::len(table);
    if (py::len(table[labels({"commodity"})].attr("drop_duplicates")()) != given) {
        return record::duplicate_rows();
    }
    if (given == 0) return record::empty_input();

    py::object settings = table[labels({"commodity", "if_twap", "time_gap", "volume"})].attr("copy")();
    py::list commodities;
    for (py::handle commodity : settings["commodity"]) commodities.append(commodity.attr("upper")());
    // New columns come through `assign` (a new table each time) rather than item assignment,
    // which the table library would take for a write into a temporary.
    settings = settings.attr("assign")(py::arg("commodity") = commodities);

    // Rows outside the accepted values (missing values included) are left out without a word.
    py::object valid = settings["if_twap"].attr("isin")(py::make_tuple(1, 0)) &
                       settings["time_gap"].attr("__ge__")(py::int_(0)) &
                       settings["volume"].attr("__ge__")(py::int_(0));
    py::object kept = settings[valid];
    settings = kept.attr("assign")(py::arg("account_id") = self.attr("account_id"));
    std::string update_time = clock::now_text(clock::seconds);
    settings = settings.attr("assign")(py::arg("update_time") = py::str(update_time));

    // The statement is built before it is sent: a value that cannot be written leaves the table
    // untouched.
    std::vector<std::string> rows;
    for (py::handle row : settings.attr("itertuples")(py::arg("index") = false, py::arg("name") = py::none())) {
        rows.push_back(sql::list(row));
    }
    if (!rows.empty()) {
        self.attr("client").attr("command")(
            sql::insert("factors.TWAP_config", sql::column_list(settings.attr("columns")), rows));
    }
    return record::ok("更新" + std::to_string(given) + ", " + update_time);
}

}  // namespace norvane::splitting
