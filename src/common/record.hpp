#pragma once
// Result records: the dicts the methods hand back, keys "code", "msg", "data" in that order as far
// as present. Code 0 is success, 1 a refusal or a caught error, 2 rejected input.
#include <pybind11/pybind11.h>

#include <string>

namespace norvane::record {
namespace py = pybind11;

// {"code": code, "msg": msg}
py::dict of(int code, py::handle msg);
// {"code": code, "msg": msg, "data": data}
py::dict of(int code, py::handle msg, py::handle data);

// {"code": 0, "msg": msg[, "data": data]}
py::dict ok(const std::string& msg);
py::dict ok(const std::string& msg, py::handle data);
// {"code": 0, "data": data}: the success records that carry no message.
py::dict ok_data(py::handle data);

// {"code": 2, "msg": msg}: input the method will not act on.
py::dict rejected(const std::string& msg);
// {"code": 1, "msg": msg}: a failure the method reports instead of raising.
py::dict failed(py::handle msg);

// {"code": 1, "msg": "类初始化失败"}: the answer of every guarded method on an unusable object.
py::dict refused();
// {"code": 1, "msg": "redis.ping return False"}
py::dict ping_false();

}  // namespace norvane::record
