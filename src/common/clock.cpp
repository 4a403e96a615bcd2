#include "common/clock.hpp"

#include "common/namespace.hpp"

namespace norvane::clock {

py::object now() { return ns("datetime").attr("datetime").attr("now")(); }

std::string now_text(const char* format) {
    return now().attr("strftime")(format).cast<std::string>();
}

}  // namespace norvane::clock
