// Loading the module: the client libraries under their module-level names, every public name of
// the risk platform library, warnings off for the whole process, then the class.
#include <pybind11/pybind11.h>

#include <string>
#include <utility>

#include "common/namespace.hpp"
#include "module/methods.hpp"

namespace py = pybind11;

namespace {

void import_libraries(py::module_& m) {
    constexpr std::pair<const char*, const char*> libraries[] = {
        {"clickhouse_connect", "clickhouse_connect"}, {"datetime", "datetime"}, {"pd", "pandas"},
        {"json", "json"},   {"redis", "redis"}, {"types", "types"},   {"warnings", "warnings"},
        {"pymysql", "pymysql"}, {"os", "os"},
        // The literal reader for texts kept in Redis (common/literal_eval).
        {"ast", "ast"},
    };
    for (const auto& [bound_as, library] : libraries) m.attr(bound_as) = py::module_::import(library);
}

// from Velmora import *
void import_risk_platform(py::module_& m) {
    py::module_ risk_platform = py::module_::import("Velmora");
    if (py::hasattr(risk_platform, "__all__")) {
        for (py::handle name : risk_platform.attr("__all__")) {
            m.attr(name) = risk_platform.attr(name);
        }
        return;
    }
    for (auto [name, value] : py::reinterpret_borrow<py::dict>(risk_platform.attr("__dict__"))) {
        std::string text = name.cast<std::string>();
        if (text.empty() || text[0] != '_') m.attr(name) = value;
    }
}

py::object account_class() {
    py::dict namespace_;
    namespace_["__module__"] = "Norvane";
    namespace_["__qualname__"] = "Norvane";
    namespace_["__doc__"] =
        "The account object: one per trading account, holding its ClickHouse client and Redis "
        "connections.";
    norvane::define_methods(namespace_);
    py::object type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type));
    py::object object = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyBaseObject_Type));
    return type("Norvane", py::make_tuple(object), namespace_);
}

}  // namespace

PYBIND11_MODULE(Norvane, m) {
    norvane::bind_namespace(m);
    import_libraries(m);
    import_risk_platform(m);
    m.attr("warnings").attr("filterwarnings")("ignore");
    m.attr("Norvane") = account_class();
}
