#include "common/guard.hpp"
#include "common/record.hpp"
#include "splitting/splitting.hpp"

namespace norvane::splitting {

namespace {

// Each piece is framed by a blank before it and a line break and a blank after it.
constexpr const char* help_pieces[] = {
    "拆单帮助文档",
    "简述：以下说明几个可以在盘中/盘后进行拆单方式调整的函数。",
    "所有的自定义重设拆单方式, 需要上传生效时长，建议留有宽裕的时长。",
    "如果想长期修改拆单方式，或新增拆单方式，请联系作者。该函数仅用于盘中临时调整，不建议长期使用。",
    "fun_search_split_mode(mode='') ：查询当前账户的拆单方式、已选择的拆单方式、可供选择的拆单方式。",
};

}  // namespace

py::object fun_read_split_doc(py::object self) {
    if (auto refused = guard(self)) return *refused;
    std::string help;
    for (const char* piece : help_pieces) help += std::string(" ") + piece + "\n ";
    return record::ok(help);
}

}  // namespace norvane::splitting
