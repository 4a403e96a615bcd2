#include "account/endpoints.hpp"
#include "common/closing.hpp"
#include "common/handled.hpp"
#include "common/outside.hpp"
#include "common/record.hpp"
#include "common/sql.hpp"
#include "research/research.hpp"

#include <string>

namespace norvane::research {

using namespace pybind11::literals;

namespace {

struct FactorTable {
    const char* typ;
    const char* table;
};

constexpr FactorTable factor_tables[] = {
    {"value", "other.factor_value_new"},
    {"weight", "other.factor_weight_new"},
    {"net", "other.factor_net_new"},
};

// The answer names only two kinds, though "net" is read as well.
constexpr const char* bad_arguments = "typ 枚举值 {'value'，'weight'}; start_date, end_date -- '20240904' ";

constexpr const char* no_factor_filter = "";
constexpr const char* working_factors = R"(
                    and factor IN ('Factor_Momentum_Long', 'Factor_Warehouse', 'Factor_Skew', 'Factor_Inventory', 'Factor_Momentum_Mid',
                    'Factor_Profit', 'Factor_RuleBased_Long', 'Factor_Basis_TS', 'Factor_CSMom_Long', 'Factor_Basis_Mom'))";

const FactorTable* table_of(py::handle typ) {
    for (const auto& table : factor_tables) {
        if (typ.equal(py::str(table.typ))) return &table;
    }
    return nullptr;
}

// Both readers: check the arguments, then one query on a client of the read account. Dates are
// checked for their length only and compared with `date` as text, both bounds included.
py::object read_factor_table(py::object typ, py::object start_date, py::object end_date,
                             const char* factor_filter) {
    const FactorTable* chosen = table_of(typ);
    if (chosen == nullptr || py::len(start_date) != 8 || py::len(end_date) != 8) {
        return record::failed(py::str(bad_arguments));
    }
    // {table} is one of the three fixed table names, never a caller's value.
    std::string statement = sql::fill(
        std::string(R"(select * from {table} where date >= {start_date} and date <= {end_date})") +
            factor_filter,
        {{"table", chosen->table}, {"start_date", sql::text(start_date)}, {"end_date", sql::text(end_date)}});
    py::object client = endpoints::clickhouse_client(endpoints::factors_user, endpoints::factors_password());
    // The client serves this one query.
    py::object result = closing(client, [&] { return client.attr("query")(statement); });
    py::object table = outside::pd().attr("DataFrame")(result.attr("result_set"),
                                                  "columns"_a = py::list(result.attr("column_names")));
    return record::ok_data(table);
}

}  // namespace

py::object factors_value(py::object typ, py::object start_date, py::object end_date) {
    return handled([&]() -> py::object {
        return read_factor_table(typ, start_date, end_date, no_factor_filter);
    });
}

py::object factors_value_lhjy(py::object typ, py::object start_date, py::object end_date) {
    return handled([&]() -> py::object {
        return read_factor_table(typ, start_date, end_date, working_factors);
    });
}

}  // namespace norvane::research
