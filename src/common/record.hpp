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
// The input checks of the table uploads (signals, TWAP settings):
// "输入数据缺少 <column> 列", one for each required column a table lacks;
std::string missing_column(const char* column);
// {"code": 2, "msg": "输入数据有重复数据, 请修改后重新执行"}
py::dict duplicate_rows();
// {"code": 2, "msg": "输入数据为空, 请修改后重新执行"}
py::dict empty_input();
// {"code": 2, "msg": "必填字段未定义/格式有误, 请修改后重新执行"}: a required argument is
// missing or not in its format.
py::dict malformed_input();
// {"code": 1, "msg": msg}: a failure the method reports instead of raising.
py::dict failed(py::handle msg);

// {"code": 1, "msg": "类初始化失败"}: the answer of every guarded method on an unusable object.
py::dict refused();
// {"code": 1, "msg": "redis.ping return False"}
py::dict ping_false();

}  // namespace norvane::record
