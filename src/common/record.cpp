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

std::string missing_column(const char* column) { return std::string("输入数据缺少 ") + column + " 列"; }

py::dict duplicate_rows() { return rejected("输入数据有重复数据, 请修改后重新执行"); }

py::dict empty_input() { return rejected("输入数据为空, 请修改后重新执行"); }

py::dict malformed_input() { return rejected("必填字段未定义/格式有误, 请修改后重新执行"); }

py::dict failed(py::handle msg) { return of(1, msg); }

py::dict refused() { return of(1, py::str("类初始化失败")); }

py::dict ping_false() { return of(1, py::str("redis.ping return False")); }

}  // namespace norvane::record
