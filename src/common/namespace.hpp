#pragma once
// The module's own namespace: every outside name (client libraries, pandas, the clock, the risk
// platform's query function) is looked up here when a method runs, so a script that rebinds
// `Norvane.redis` or `Norvane.query_trader_all_info` is heard by the next call.
#include <pybind11/pybind11.h>

namespace norvane {
namespace py = pybind11;

// Remembers the module whose namespace later lookups read; called once at import.
void bind_namespace(const py::module_& module);

// The value currently bound to `name` in the module namespace; NameError when unbound.
py::object module_value(const char* name);

}  // namespace norvane
