#pragma once
// The outside names the module binds in its namespace at load, declared once. The methods reach
// each one through its accessor here, which looks the name up in the module namespace when the
// method runs (common/namespace), so a script that rebinds `Norvane.pd` or
// `Norvane.query_trader_all_info` is heard by the next call.
#include <pybind11/pybind11.h>

#include "common/namespace.hpp"

// The libraries, in import order: X(name bound in the namespace, module imported).
#define NORVANE_LIBRARIES(X)                                                                   \
    X(clickhouse_connect, "clickhouse_connect")                                                \
    X(datetime, "datetime")                                                                    \
    X(pd, "pandas")                                                                            \
    X(json, "json")                                                                            \
    X(redis, "redis")                                                                          \
    X(types, "types")                                                                          \
    X(warnings, "warnings")                                                                    \
    X(pymysql, "pymysql")                                                                      \
    X(os, "os")

namespace norvane::outside {
namespace py = pybind11;

struct Library {
    const char* name;    // as bound in the module namespace
    const char* module;  // as imported
};

#define NORVANE_LIBRARY_ENTRY(name, module) Library{#name, module},
inline constexpr Library libraries[] = {NORVANE_LIBRARIES(NORVANE_LIBRARY_ENTRY)};
#undef NORVANE_LIBRARY_ENTRY

#define NORVANE_LIBRARY_ACCESSOR(name, module) \
    inline py::object name() { return module_value(#name); }
NORVANE_LIBRARIES(NORVANE_LIBRARY_ACCESSOR)
#undef NORVANE_LIBRARY_ACCESSOR

// The risk platform library's names come with `from Velmora import *`; the methods use one.
inline constexpr const char* risk_platform = "Velmora";
inline py::object query_trader_all_info() { return module_value("query_trader_all_info"); }

// The literal-only reader for texts kept in Redis (ast.literal_eval), bound under a private name
// so that the public namespace stays the libraries, the risk platform's names and the class.
inline constexpr const char* literal_reader = "_literal_eval";
inline py::object literal_eval() { return module_value(literal_reader); }

}  // namespace norvane::outside
