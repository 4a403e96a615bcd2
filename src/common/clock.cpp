#include "common/clock.hpp"
#include "common/text.hpp"

#include "common/namespace.hpp"

namespace norvane::clock {

py::object now() { return ns("datetime").attr("datetime").attr("now")(); }

std::string now_text(const char* format) {
    return utf8(now().attr("strftime")(format));
}

std::string call_stamp() { return now_text("%Y-%m-%d %H:%M:%S.%f").substr(0, 26); }

}  // namespace norvane::clock
