#pragma once
// Methods that read or write Redis ask the connection first; a false answer stops them with the
// ping record before anything is read or written. A ping that raises is left to the caller's
// handler.
#include <pybind11/pybind11.h>

#include <optional>

#include "common/record.hpp"
#include "common/truth.hpp"

namespace norvane {
namespace py = pybind11;

inline std::optional<py::dict> silent_redis(py::handle connection) {
    if (!truthy(connection.attr("ping")())) return record::ping_false();
    return std::nullopt;
}

}  // namespace norvane
