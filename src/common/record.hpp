#pragma once
// Result records: the dicts the methods hand back, keys "code", "msg", "data" in that order as far
// as present. Code 0 is success; 1 the refusal of an unusable object, a failure a method reports
// instead of raising, or an error caught by the general handler; 2 rejected input, or an error
// caught by the history readers' handler (with the step that failed); 4003 the line printed when
// the client cannot be opened (account::unusable).
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

// The fixed records, each message written here only.
// The input checks of the table uploads (signals, TWAP settings): one for each required column a
// table lacks, an upload with repeated rows, an empty one.
inline std::string missing_column(const char* column) { return std::string("输入数据缺少 ") + column + " 列"; }
inline py::dict duplicate_rows() { return rejected("输入数据有重复数据, 请修改后重新执行"); }
inline py::dict empty_input() { return rejected("输入数据为空, 请修改后重新执行"); }
// A required argument is missing or not in its format.
inline py::dict malformed_input() { return rejected("必填字段未定义/格式有误, 请修改后重新执行"); }
// The answer of every guarded method on an unusable object.
inline py::dict refused() { return of(1, py::str("类初始化失败")); }
inline py::dict ping_false() { return of(1, py::str("redis.ping return False")); }

}  // namespace norvane::record
