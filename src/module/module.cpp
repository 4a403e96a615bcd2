// Loading the module: the client libraries under their module-level names, every public name of
// the risk platform library, warnings off for the whole process, then the class. A step that
// fails aborts the load with its own error (a broken `redis` raises what `import redis` raises).
#include <pybind11/pybind11.h>
#include <pybind11/detail/exception_translation.h>

#include <string>

#include "common/namespace.hpp"
#include "common/outside.hpp"
#include "common/text.hpp"
#include "module/methods.hpp"
#include "signals/upload_lock.hpp"

namespace py = pybind11;

namespace {

#define NORVANE_TEXT(name) #name
#define NORVANE_NAME_TEXT(name) NORVANE_TEXT(name)
// The module's name, as pyproject.toml gives it.
constexpr const char* module_name = NORVANE_NAME_TEXT(NORVANE_MODULE);

void import_libraries(py::module_& m) {
    for (const auto& library : norvane::outside::libraries) {
        m.attr(library.name) = py::module_::import(library.module);
    }
    m.attr(norvane::outside::literal_reader) = py::module_::import("ast").attr("literal_eval");
}

// from Velmora import *
void import_risk_platform(py::module_& m) {
    py::module_ risk_platform = py::module_::import(norvane::outside::risk_platform);
    py::object names = norvane::attribute_or_none(risk_platform, "__all__");
    if (!names.is_none()) {
        for (py::handle name : names) {
            m.attr(name) = risk_platform.attr(name);
        }
        return;
    }
    for (auto [name, value] : py::reinterpret_borrow<py::dict>(risk_platform.attr("__dict__"))) {
        std::string text = norvane::str_of(name);
        if (text.empty() || text[0] != '_') m.attr(name) = value;
    }
}

// A plain Python class (bases (object,), a normal __dict__), made as a class statement would make
// it; its methods are then set on it (module/methods.cpp).
py::object account_class() {
    py::dict namespace_;
    namespace_["__module__"] = module_name;
    namespace_["__qualname__"] = "Norvane";
    namespace_["__doc__"] =
        "The account object: one per trading account, holding its ClickHouse client and Redis "
        "connections.";
    py::object type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type));
    py::object object = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyBaseObject_Type));
    py::object account = type("Norvane", py::make_tuple(object), namespace_);
    // Signatures are written by the method table, as the interpreter shows them.
    py::options options;
    options.disable_function_signatures();
    norvane::define_methods(account);
    return account;
}

// Runs `imports` with every warning ignored, and the warning filters as they were afterwards:
// what the libraries warn about while they load (a deprecated interpreter, say) would otherwise
// reach the script's stderr on every run, just before the module switches warnings off.
template <class Imports>
void quietly(Imports&& imports) {
    py::object warnings = py::module_::import("warnings");
    py::object saved = warnings.attr("catch_warnings")();
    saved.attr("__enter__")();
    try {
        warnings.attr("simplefilter")("ignore");
        imports();
    } catch (...) {
        saved.attr("__exit__")(py::none(), py::none(), py::none());
        throw;
    }
    saved.attr("__exit__")(py::none(), py::none(), py::none());
}

void load(py::module_ m) {
    m.attr("__version__") = NORVANE_VERSION;
    norvane::bind_namespace(m);
    quietly([&] {
        import_libraries(m);
        import_risk_platform(m);
    });
    m.attr("warnings").attr("filterwarnings")("ignore");
    m.attr(norvane::signals::upload_wait_name) = norvane::signals::default_upload_wait;
    m.attr(norvane::signals::upload_expiry_name) = norvane::signals::default_upload_expiry;
    m.attr("Norvane") = account_class();
}

// The module's exec step. PYBIND11_MODULE would replace a failing import's error with
// "ImportError: initialization failed" (the real one only as its cause), so the module is defined
// here by hand and the original exception is what the importer sees.
int exec_module(PyObject* module) noexcept {
    try {
        load(py::reinterpret_borrow<py::module_>(module));
        return 0;
    } catch (...) {
        // The error as pybind11 raises it (a Python error as it is).
        py::detail::try_translate_exceptions();
        return -1;
    }
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
#ifdef Py_mod_multiple_interpreters
    // The module keeps its namespace in process-wide state (common/namespace).
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
    {0, nullptr},
};

// A static definition holds no Python object: the interpreter only reads it.
PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    module_name,
    "The desk's data-access module: the account class Norvane.",
    0,
    nullptr,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

// PyInit_<module name>, the name pyproject.toml gives the module (NORVANE_MODULE).
#define NORVANE_JOIN(a, b) a##b
#define NORVANE_INIT_FUNCTION(name) NORVANE_JOIN(PyInit_, name)
PyMODINIT_FUNC NORVANE_INIT_FUNCTION(NORVANE_MODULE)() { return PyModuleDef_Init(&definition); }
