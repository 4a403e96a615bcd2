#pragma once
// Connections a call opens for itself (the static readers' ClickHouse client, the MySQL
// connection) are closed when the call ends, whatever its outcome: a script that calls a reader
// in a loop keeps a fixed number of sockets.
#include <pybind11/pybind11.h>

#include <utility>

namespace norvane {
namespace py = pybind11;

// Closes a connection that is done with, when an error of the close could only hide a more
// important outcome (the call's own error, a reconnect that succeeded): an ordinary error of the
// close is passed over; an interrupt is not.
inline void close_quietly(py::handle connection) {
    try {
        connection.attr("close")();
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_Exception)) throw;
    }
}

// Runs `use()`, then closes the connection it uses, on success and on error alike.
template <class Use>
py::object closing(py::handle connection, Use&& use) {
    py::object result;
    try {
        result = std::forward<Use>(use)();
    } catch (...) {
        close_quietly(connection);
        throw;
    }
    connection.attr("close")();
    return result;
}

}  // namespace norvane
