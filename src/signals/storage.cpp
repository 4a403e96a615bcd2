#include "signals/storage.hpp"

#include <array>
#include <cmath>
#include <unordered_set>
#include <vector>

#include "common/json_text.hpp"
#include "common/number.hpp"
#include "common/outside.hpp"
#include "common/sql.hpp"
#include "common/text.hpp"
#include "signals/turn.hpp"

namespace norvane::signals {

namespace {

// The keys of a hash record, in the order the execution side reads them.
constexpr std::array<const char*, 11> hash_columns = {
    "trading_day", "account_id", "contract",  "position", "direction", "signal_date",
    "order_typ",   "update_time", "trade_time", "user_id", "feature"};
constexpr size_t feature_key = 10;

// Text as it will be sent: a text without a UTF-8 form raises here, before any write.
py::str encodable(py::str text) {
    utf8(text);
    return text;
}

// A table's columns, each as the list of its values (the values pandas hands out one by one:
// numbers of numeric columns as the interpreter's own, objects of object columns as they are).
struct Columns {
    std::vector<py::object> names;
    std::vector<py::list> values;

    explicit Columns(py::handle table) {
        for (py::handle item : table.attr("items")()) {
            names.push_back(py::reinterpret_borrow<py::object>(item[py::int_(0)]));
            values.emplace_back(item[py::int_(1)].attr("tolist")());
        }
    }

    // The first column of that name, or nullptr.
    const py::list* named(const char* name) const {
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i].equal(py::str(name))) return &values[i];
        }
        return nullptr;
    }

    std::ptrdiff_t position(const char* name) const {
        const py::list* column = named(name);
        return column == nullptr ? -1 : column - values.data();
    }
};

// The trading day text of each row's value; rows usually share one object, converted once.
class DayTexts {
  public:
    const py::str& of(py::handle value) {
        if (value.ptr() != last_.ptr()) {
            last_ = py::reinterpret_borrow<py::object>(value);
            text_ = trading_day_text(value);
        }
        return text_;
    }

  private:
    py::object last_;
    py::str text_;
};

// The JSON text of one hash record (keys as `hash_columns`, values in that order), its feature
// shifted by `shift`. Plain values are written here; a record holding any other value goes
// through json.dumps, which writes it or raises as it always has.
py::str hash_record(const std::array<py::object, hash_columns.size()>& values, int shift) {
    py::object feature = values[feature_key];
    if (shift != 0) feature = feature + py::int_(shift);
    std::string text = "{";
    for (size_t i = 0; i < hash_columns.size(); ++i) {
        if (i > 0) text += ", ";
        text += '"';
        text += hash_columns[i];
        text += "\": ";
        if (!json_text::append(text, i == feature_key ? feature : values[i])) {
            py::dict record;
            for (size_t k = 0; k < hash_columns.size(); ++k) record[hash_columns[k]] = values[k];
            record["feature"] = feature;
            return outside::json().attr("dumps")(record);
        }
    }
    text += '}';
    return py::str(text);
}

// Deletes the account's fields of the day that the upload no longer holds, all in one hdel.
// Fields of other accounts, also for the same contracts, are never touched.
void remove_stale_fields(const SignalWrites& writes) {
    std::unordered_set<std::string> kept;
    for (auto field : writes.records) kept.insert(utf8(field.first));
    py::list stale;
    for (py::handle key : writes.redis.attr("hkeys")(writes.day)) {
        std::string name = str_of(key);
        if (name.substr(0, name.find('_')) == writes.owner && kept.count(name) == 0) stale.append(key);
    }
    if (!stale.empty()) writes.redis.attr("hdel")(writes.day, *stale);
}

void build_hash_records(SignalWrites& writes, const Columns& columns, py::handle account_id,
                        bool continuous_holding) {
    std::array<const py::list*, hash_columns.size()> sources{};
    for (size_t i = 0; i < hash_columns.size(); ++i) {
        sources[i] = columns.named(hash_columns[i]);
        if (sources[i] == nullptr) throw py::key_error(hash_columns[i]);
    }
    const py::list& days = *sources[0];
    const py::list& contracts = *sources[2];
    DayTexts day_texts;
    std::array<py::object, hash_columns.size()> values;
    values[1] = py::reinterpret_borrow<py::object>(account_id);
    for (size_t row = 0; row < days.size(); ++row) {
        values[0] = day_texts.of(days[row]);
        for (size_t i = 2; i < hash_columns.size(); ++i) values[i] = exact_number((*sources[i])[row]);
        py::str field = encodable(py::str(writes.owner + "_" + str_of(contracts[row])));
        // With continuous holding one pass writes the feature as stored (already + 20);
        // otherwise the first pass marks the fields (feature + 20) while the upload is under way
        // and the second writes the feature as stored.
        if (!continuous_holding) writes.marked[field] = hash_record(values, 20);
        writes.records[field] = hash_record(values, 0);
    }
}

py::str build_insert(const Columns& columns, py::handle account_id) {
    const std::ptrdiff_t day_column = columns.position("trading_day");
    const std::ptrdiff_t account_column = columns.position("account_id");
    const std::string account_literal = sql::literal(account_id);
    py::list names;
    for (const py::object& name : columns.names) names.append(name);
    const size_t row_count = columns.values.empty() ? 0 : columns.values[0].size();
    DayTexts day_texts;
    std::vector<std::string> rows(row_count);
    for (size_t row = 0; row < row_count; ++row) {
        std::string& values = rows[row];
        for (size_t i = 0; i < columns.values.size(); ++i) {
            if (i > 0) values += ", ";
            const std::ptrdiff_t column = static_cast<std::ptrdiff_t>(i);
            if (column == account_column) {
                values += account_literal;
            } else if (column == day_column) {
                values += sql::literal(day_texts.of(columns.values[i][row]));
            } else {
                values += sql::literal(columns.values[i][row]);
            }
        }
    }
    return sql::insert("factors.t_order_dtl", sql::column_list(names), rows);
}

}  // namespace

py::str trading_day_text(py::handle day) {
    if (PyUnicode_Check(day.ptr())) return encodable(py::str(utf8(day)));
    if (std::optional<Number> numeric = number(day)) {
        bool whole = numeric->kind == Number::floating && std::isfinite(numeric->value) &&
                     numeric->value == std::floor(numeric->value) && std::fabs(numeric->value) < 1e15;
        if (whole) return py::str(std::to_string(static_cast<long long>(numeric->value)));
        return py::str(numeric->digits);
    }
    return encodable(py::str(day));
}

SignalWrites build_signal_writes(py::handle table, py::handle account_id, py::handle redis,
                                 bool continuous_holding, RetireForm form, const std::string& stamp) {
    SignalWrites writes;
    writes.day = trading_day_text(table[py::str("trading_day")].attr("max")());
    writes.owner = str_of(account_id);
    writes.redis = py::reinterpret_borrow<py::object>(redis);
    const Columns columns(table);

    if (!writes.redis.is_none()) {
        build_hash_records(writes, columns, account_id, continuous_holding);
        writes.remove_stale = !continuous_holding;
    }

    if (!continuous_holding) {
        if (form == RetireForm::upload) {
            writes.retire = py::str(sql::fill(R"(ALTER TABLE factors.t_order_dtl UPDATE delete_tag = 2 , 
                                update_time = {stamp} WHERE trading_day={trading_day} and account_id == {account_id} and delete_tag is null)",
                                              {{"stamp", sql::text(py::str(stamp))},
                                               {"trading_day", sql::text(writes.day)},
                                               {"account_id", sql::text(account_id)}}));
        } else {
            writes.retire = py::str(sql::fill(R"(ALTER TABLE factors.t_order_dtl UPDATE delete_tag = 2 WHERE trading_day={trading_day} and account_id == {account_id} and delete_tag is null)",
                                              {{"trading_day", sql::text(writes.day)},
                                               {"account_id", sql::text(account_id)}}));
        }
    }

    if (py::len(table) > 0) writes.insert = build_insert(columns, account_id);
    return writes;
}

void write_signals(py::handle client, py::handle turn_redis, const SignalWrites& writes,
                   const std::string& who, const std::function<void()>& after) {
    in_turn(turn_redis, writes.day, writes.owner, who, [&] {
        if (!writes.redis.is_none()) {
            py::object hset = writes.redis.attr("hset");
            if (!writes.marked.empty()) hset(writes.day, py::arg("mapping") = writes.marked);
            if (!writes.records.empty()) hset(writes.day, py::arg("mapping") = writes.records);
            if (writes.remove_stale) remove_stale_fields(writes);
        }
        py::object command = client.attr("command");
        if (writes.retire) command(*writes.retire);
        if (writes.insert) command(*writes.insert);
        if (after) after();
    });
}

}  // namespace norvane::signals
