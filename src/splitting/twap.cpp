#include <array>
#include <set>
#include <string>
#include <vector>

#include "account/endpoints.hpp"
#include "account/identity.hpp"
#include "common/clock.hpp"
#include "common/guard.hpp"
#include "common/plain.hpp"
#include "common/record.hpp"
#include "common/sql.hpp"
#include "common/text.hpp"
#include "splitting/splitting.hpp"

namespace norvane::splitting {

namespace {

constexpr const char* method = "fun_update_TWAP_info";

// The input's required columns, in the order of the messages and of the written columns.
constexpr std::array<const char*, 4> required = {"commodity", "if_twap", "time_gap", "volume"};

// The plain values of the input, one list per required column.
struct Settings {
    std::vector<py::object> commodity, if_twap, time_gap, volume;
};

// The columns written, in order: the settings, the account and the upload's time.
constexpr std::array<const char*, 6> written = {"commodity", "if_twap", "time_gap", "volume", "account_id", "update_time"};

}  // namespace

// No outer handler: a value with no valid form, or a failing insert, reaches the caller.
py::object fun_update_TWAP_info(py::object self, py::object input_data) {
    if (auto refused = guard(self)) return *refused;
    const plain::Where table_argument = plain::Where::argument(method, "input_data");
    const plain::Columns given = plain::columns(plain::table(input_data, table_argument), table_argument);

    std::string missing;
    for (const char* column : required) {
        if (!given.find(column)) missing += record::missing_column(column);
    }
    if (!missing.empty()) return record::rejected(missing);

    // Input checks: each value made plain once, by its column's rule. The commodity is compared
    // exactly (before upper-casing) for duplicates; if_twap that is no number is left to the filter.
    const size_t rows = static_cast<size_t>(given.rows);
    Settings settings;
    std::set<std::string> commodities;
    for (size_t row = 0; row < rows; ++row) {
        auto cell = [&](const char* column) { return (*given.find(column))[row]; };
        auto where = [&](const char* column) {
            return plain::Where::column(method, column).at(static_cast<Py_ssize_t>(row));
        };
        py::str name = plain::required_text(cell("commodity"), where("commodity"), true);
        commodities.insert(utf8(name));
        settings.commodity.push_back(name);
        std::optional<py::object> flag = plain::real(cell("if_twap"), where("if_twap"));
        settings.if_twap.push_back(flag ? *flag : py::none());
        // NaN for a missing value, which the filter drops.
        settings.time_gap.push_back(plain::required_real(cell("time_gap"), where("time_gap")));
        settings.volume.push_back(plain::required_real(cell("volume"), where("volume")));
    }
    if (commodities.size() != rows) return record::duplicate_rows();
    if (rows == 0) return record::empty_input();

    // Rows outside the accepted values (missing values included) are left out without a word.
    const std::string account = sql::literal(account::account_id(self, method));
    const std::string update_time = clock::now_text(clock::seconds);
    const std::string update_time_literal = sql::text(py::str(update_time));
    std::vector<std::string> values;
    for (size_t row = 0; row < rows; ++row) {
        py::handle flag = settings.if_twap[row];
        bool accepted = (plain::compares(flag, Py_EQ, 1) || plain::compares(flag, Py_EQ, 0)) &&
                        plain::compares(settings.time_gap[row], Py_GE, 0) &&
                        plain::compares(settings.volume[row], Py_GE, 0);
        if (!accepted) continue;
        values.push_back(sql::literal(settings.commodity[row].attr("upper")()) + ", " + sql::literal(flag) +
                         ", " + sql::literal(settings.time_gap[row]) + ", " + sql::literal(settings.volume[row]) +
                         ", " + account + ", " + update_time_literal);
    }
    if (!values.empty()) {
        endpoints::clickhouse_command(self.attr("client"), py::str(sql::insert("factors.TWAP_config", sql::column_list(written), values)));
    }
    return record::ok("更新" + std::to_string(rows) + ", " + update_time);
}

}  // namespace norvane::splitting
