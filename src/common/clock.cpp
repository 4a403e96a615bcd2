#include "common/clock.hpp"

#include <datetime.h>

#include <cstdio>
#include <cstring>

#include "common/outside.hpp"
#include "common/text.hpp"

namespace norvane::clock {

namespace {

constexpr const char* day_format = "%Y-%m-%d";

// Whether `moment` is the interpreter's own datetime (not a subclass, whose strftime may differ).
bool plain_datetime(PyObject* moment) {
    if (PyDateTimeAPI == nullptr) {
        PyDateTime_IMPORT;
        if (PyDateTimeAPI == nullptr) throw py::error_already_set();
    }
    return PyDateTime_CheckExact(moment);
}

}  // namespace

py::object strftime(py::handle moment, const char* format) {
    const bool day = std::strcmp(format, day_format) == 0;
    PyObject* object = moment.ptr();
    if ((day || std::strcmp(format, seconds) == 0) && plain_datetime(object) &&
        PyDateTime_GET_YEAR(object) >= 1000) {
        char text[32];
        int length = std::snprintf(text, sizeof text, "%04d-%02d-%02d", PyDateTime_GET_YEAR(object),
                                   PyDateTime_GET_MONTH(object), PyDateTime_GET_DAY(object));
        if (!day) {
            length += std::snprintf(text + length, sizeof text - length, " %02d:%02d:%02d",
                                    PyDateTime_DATE_GET_HOUR(object), PyDateTime_DATE_GET_MINUTE(object),
                                    PyDateTime_DATE_GET_SECOND(object));
        }
        return py::str(text, static_cast<size_t>(length));
    }
    return moment.attr("strftime")(format);
}

py::object now() { return outside::datetime().attr("datetime").attr("now")(); }

std::string now_text(const char* format) {
    return utf8(now().attr("strftime")(format));
}

py::object utc_date(py::handle seconds) {
    py::object datetime = outside::datetime();
    py::object utc = datetime.attr("timezone").attr("utc");
    return strftime(datetime.attr("datetime").attr("fromtimestamp")(seconds, utc), day_format);
}

std::string call_stamp() { return now_text("%Y-%m-%d %H:%M:%S.%f").substr(0, 26); }

}  // namespace norvane::clock
