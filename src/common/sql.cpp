#include "common/sql.hpp"

#include <stdexcept>

namespace norvane::sql {

std::string text(py::handle value) {
    std::string raw = py::str(value).cast<std::string>();
    std::string quoted;
    quoted.reserve(raw.size() + 2);
    quoted += '\'';
    for (char c : raw) {
        if (c == '\\' || c == '\'') quoted += '\\';
        quoted += c;
    }
    quoted += '\'';
    return quoted;
}

std::string fill(std::string_view statement,
                 std::initializer_list<std::pair<std::string_view, std::string>> values) {
    std::string filled;
    filled.reserve(statement.size() + 64);
    size_t pos = 0;
    while (pos < statement.size()) {
        size_t open = statement.find('{', pos);
        if (open == std::string_view::npos) break;
        size_t close = statement.find('}', open);
        if (close == std::string_view::npos) break;
        std::string_view name = statement.substr(open + 1, close - open - 1);
        const std::string* literal = nullptr;
        for (const auto& [key, value] : values) {
            if (key == name) literal = &value;
        }
        if (literal == nullptr) {
            throw std::runtime_error("no value for placeholder {" + std::string(name) + "}");
        }
        filled.append(statement.substr(pos, open - pos));
        filled += *literal;
        pos = close + 1;
    }
    filled.append(statement.substr(pos));
    return filled;
}

}  // namespace norvane::sql
