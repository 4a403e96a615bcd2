#include "common/record.hpp"

namespace norvane::record {

py::dict of(int code, py::handle msg) {
    py::dict record;
    record["code"] = code;
    record["msg"] = msg;
    return record;
}

py::dict of(int code, py::handle msg, py::handle data) {
    py::dict record = of(code, msg);
    record["data"] = data;
    return record;
}

py::dict ok(const std::string& msg) { return of(0, py::str(msg)); }

py::dict ok(const std::string& msg, py::handle data) { return of(0, py::str(msg), data); }

py::dict ok_data(py::handle data) {
    py::dict record;
    record["code"] = 0;
    record["data"] = data;
    return record;
}

py::dict rejected(const std::string& msg) { return of(2, py::str(msg)); }

py::dict failed(py::handle msg) { return of(1, msg); }

}  // namespace norvane::record
