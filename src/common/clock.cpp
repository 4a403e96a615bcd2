#include "common/clock.hpp"
#include "common/text.hpp"

#include "common/namespace.hpp"
#include "common/outside.hpp"

namespace norvane::clock {

py::object now() { return outside::datetime().attr("datetime").attr("now")(); }

std::string now_text(const char* format) {
    return utf8(now().attr("strftime")(format));
}

py::object utc_date(py::handle seconds) {
    py::object datetime = outside::datetime();
    py::object utc = datetime.attr("timezone").attr("utc");
    return datetime.attr("datetime").attr("fromtimestamp")(seconds, utc).attr("strftime")("%Y-%m-%d");
}

std::string call_stamp() { return now_text("%Y-%m-%d %H:%M:%S.%f").substr(0, 26); }

}  // namespace norvane::clock
