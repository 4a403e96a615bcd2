#include "common/guard.hpp"

#include "common/plain.hpp"
#include "common/record.hpp"

namespace norvane {

std::optional<py::dict> guard(py::handle self) {
    py::object flags = self.attr("login") + self.attr("connect_tag");
    if (flags.not_equal(py::int_(0))) return record::refused();
    return std::nullopt;
}

std::optional<py::dict> ping_refused(py::handle redis) {
    if (!plain::truth(redis.attr("ping")())) return record::ping_false();
    return std::nullopt;
}

}  // namespace norvane
