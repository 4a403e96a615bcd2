#include "signals/storage.hpp"

#include <unordered_set>
#include <vector>

#include "account/endpoints.hpp"
#include "common/json_text.hpp"
#include "common/outside.hpp"
#include "common/plain.hpp"
#include "common/sql.hpp"
#include "common/text.hpp"

namespace norvane::signals {

namespace {

// The keys of a hash record, in the order the execution side reads them, and the columns they
// are taken from.
constexpr std::array<std::pair<const char*, col::Index>, 11> hash_keys = {{
    {"trading_day", col::trading_day}, {"account_id", col::account_id}, {"contract", col::contract},
    {"position", col::position},       {"direction", col::direction},   {"signal_date", col::signal_date},
    {"order_typ", col::order_typ},     {"update_time", col::update_time}, {"trade_time", col::trade_time},
    {"user_id", col::user_id},         {"feature", col::feature},
}};

// The JSON text of one row's hash record under `owner`, its feature shifted by `shift`.
py::str hash_record(const SignalRows& rows, size_t row, const py::str& owner, int shift) {
    std::string text = "{";
    for (const auto& [key, column] : hash_keys) {
        if (column != col::trading_day) text += ", ";
        text += '"';
        text += key;
        text += "\": ";
        py::object value = column == col::account_id ? py::object(owner) : py::reinterpret_borrow<py::object>(rows.at(column, row));
        if (column == col::feature && shift != 0) value = value + py::int_(shift);
        if (!json_text::append(text, value)) throw std::logic_error("a signal value that is not plain");
    }
    text += '}';
    return py::str(text);
}

// The field belongs to `owner`: its name is the owner's id, "_" and a contract, and its record
// names the owner as its account (an id followed by "_" may begin another account's id).
bool belongs_to(py::handle record, const std::string& owner) {
    if (!PyUnicode_Check(record.ptr())) return false;
    try {
        py::object parsed = outside::json().attr("loads")(record);
        if (!PyDict_Check(parsed.ptr())) return false;
        PyObject* account = PyDict_GetItemString(parsed.ptr(), "account_id");
        return account != nullptr && PyUnicode_Check(account) && utf8(account) == owner;
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_ValueError)) throw;
        return false;
    }
}

// Deletes the account's fields of the day that the upload no longer holds: one hkeys, then one
// hmget of the candidates' records and one hdel of those that are the account's own. Fields of
// other accounts, also for the same contracts, are never touched.
void remove_stale_fields(const SignalWrites& writes) {
    const std::string owner = utf8(writes.owner);
    const std::string prefix = owner + "_";
    std::unordered_set<std::string> kept;
    for (auto field : writes.records) kept.insert(utf8(field.first));
    py::list candidates;
    for (py::handle key : writes.redis.attr("hkeys")(writes.day)) {
        if (!PyUnicode_Check(key.ptr())) continue;
        std::string name = utf8(key);
        if (name.compare(0, prefix.size(), prefix) == 0 && kept.count(name) == 0) candidates.append(key);
    }
    if (candidates.empty()) return;
    py::list stale;
    py::object records = writes.redis.attr("hmget")(writes.day, candidates);
    size_t i = 0;
    for (py::handle record : records) {
        if (belongs_to(record, owner)) stale.append(candidates[i]);
        ++i;
    }
    if (!stale.empty()) writes.redis.attr("hdel")(writes.day, *stale);
}

py::str build_insert(const SignalRows& rows, const py::str& owner) {
    const std::string owner_literal = sql::literal(owner);
    std::vector<std::string> values(rows.size());
    for (size_t row = 0; row < rows.size(); ++row) {
        std::string& text = values[row];
        for (size_t column = 0; column < signal_columns.size(); ++column) {
            if (column > 0) text += ", ";
            text += column == col::account_id ? owner_literal : sql::literal(rows.columns[column][row]);
        }
    }
    return sql::insert("factors.t_order_dtl", sql::column_list(signal_columns), values);
}

// The day's live rows of the account retired, update_time set to the retiring upload's stamp.
constexpr const char* retire_upload_form = R"(ALTER TABLE factors.t_order_dtl UPDATE delete_tag = 2 , 
                                update_time = {stamp} WHERE trading_day={trading_day} and account_id == {account_id} and delete_tag is null)";

// The copy account's live rows of the day retired, update_time left as it was.
constexpr const char* retire_copy_form = R"(ALTER TABLE factors.t_order_dtl UPDATE delete_tag = 2 WHERE trading_day={trading_day} and account_id == {account_id} and delete_tag is null)";

}  // namespace

py::str signal_contract(py::handle value, const plain::Where& where) {
    py::str contract = plain::required_text(value, where, true);
    if (utf8(contract).find('_') != std::string::npos) {
        plain::refuse(PyExc_ValueError, where, "a contract must not hold \"_\" (a hash field is the account id, \"_\" "
                                               "and the contract), not " + plain::shown(contract));
    }
    return contract;
}

py::object signal_value(SignalTable table, col::Index column, py::handle value, const plain::Where& where) {
    const bool filtered = table == SignalTable::upload;
    switch (column) {
        case col::trading_day: return plain::trading_day(value, where);
        case col::contract: return signal_contract(value, where);
        case col::position: return plain::required_real(value, where, !filtered);
        case col::feature: {
            if (!filtered) return plain::required_real(value, where, true);
            std::optional<py::object> number = plain::real(value, where);
            return number ? *number : py::none();
        }
        case col::signal_date:
            if (filtered && plain::missing(value)) return py::str("");
            return plain::required_text(value, where);
        default: {
            if (!filtered) return plain::required_text(value, where);
            std::optional<py::str> text = plain::text(value, where);
            return text ? py::object(*text) : py::none();
        }
    }
}

void SignalRows::append(const std::array<py::object, signal_columns.size()>& row) {
    for (size_t column = 0; column < signal_columns.size(); ++column) columns[column].append(row[column]);
}

SignalRows normalised_rows(py::handle table, const char* method) {
    plain::Columns given = plain::columns(table, plain::Where::argument(method, "tmp_mat"));
    SignalRows rows;
    for (size_t column = 0; column < signal_columns.size(); ++column) {
        const plain::Where where = plain::Where::column(method, signal_columns[column]);
        const py::list* values = given.find(signal_columns[column]);
        if (values == nullptr) plain::refuse(PyExc_ValueError, where, "is missing from tmp_mat");
        for (size_t row = 0; row < values->size(); ++row) {
            rows.columns[column].append(signal_value(SignalTable::copy, static_cast<col::Index>(column),
                                                     (*values)[row], where.at(static_cast<Py_ssize_t>(row))));
        }
    }
    return rows;
}

py::object signal_table(const SignalRows& rows) {
    // A column holding both ints and floats is kept as objects: pandas would make its ints floats,
    // and the copy account's rows, read back from this table, would then differ from the account's.
    py::object pd = outside::pd();
    py::dict columns;
    for (size_t column = 0; column < signal_columns.size(); ++column) {
        bool ints = false, floats = false;
        for (py::handle value : rows.columns[column]) {
            ints = ints || PyLong_Check(value.ptr());
            floats = floats || PyFloat_Check(value.ptr());
        }
        columns[signal_columns[column]] =
            ints && floats ? pd.attr("Series")(rows.columns[column], py::arg("dtype") = "object")
                           : py::object(rows.columns[column]);
    }
    return pd.attr("DataFrame")(columns);
}

SignalWrites build_signal_writes(const SignalRows& rows, const py::str& owner, py::handle redis,
                                 bool continuous_holding, RetireForm form, const std::string& stamp) {
    SignalWrites writes;
    writes.owner = owner;
    writes.redis = py::reinterpret_borrow<py::object>(redis);
    // All rows of an upload share one day; of a table handed over, the greatest (the texts are
    // eight digits, so they compare as the days do).
    std::string day;
    for (py::handle text : rows.columns[col::trading_day]) day = std::max(day, utf8(text));
    writes.day = py::str(day);

    if (!writes.redis.is_none()) {
        const std::string prefix = utf8(owner) + "_";
        for (size_t row = 0; row < rows.size(); ++row) {
            py::str field(prefix + utf8(rows.at(col::contract, row)));
            // With continuous holding one pass writes the feature as stored (already + 20);
            // otherwise the first pass marks the fields (feature + 20) while the upload is under
            // way and the second writes the feature as stored.
            if (!continuous_holding) writes.marked[field] = hash_record(rows, row, owner, 20);
            writes.records[field] = hash_record(rows, row, owner, 0);
        }
        writes.remove_stale = !continuous_holding;
    }

    if (!continuous_holding) {
        if (form == RetireForm::upload) {
            writes.retire = py::str(sql::fill(retire_upload_form,
                                              {{"stamp", sql::text(py::str(stamp))},
                                               {"trading_day", sql::text(writes.day)},
                                               {"account_id", sql::text(owner)}}));
        } else {
            writes.retire = py::str(sql::fill(retire_copy_form,
                                              {{"trading_day", sql::text(writes.day)},
                                               {"account_id", sql::text(owner)}}));
        }
    }

    if (rows.size() > 0) writes.insert = build_insert(rows, owner);
    return writes;
}

void write_signals(py::handle client, UploadLock& lock, const SignalWrites& writes) {
    if (!writes.redis.is_none()) {
        py::object hset = writes.redis.attr("hset");
        if (!writes.marked.empty()) lock.write([&](double) { hset(writes.day, py::arg("mapping") = writes.marked); });
        if (!writes.records.empty()) lock.write([&](double) { hset(writes.day, py::arg("mapping") = writes.records); });
        if (writes.remove_stale) lock.write([&](double) { remove_stale_fields(writes); });
    }
    // Each statement waits for ClickHouse at most the time the lock still certainly holds.
    for (const std::optional<py::str>* statement : {&writes.retire, &writes.insert}) {
        if (!*statement) continue;
        lock.write([&](double seconds) {
            endpoints::with_wait(client, seconds, [&] { endpoints::clickhouse_command(client, **statement); });
        });
    }
}

py::object taken(py::handle self, const char* name, const char* method) {
    PyObject* value = PyObject_GetAttrString(self.ptr(), name);
    if (value != nullptr) return py::reinterpret_steal<py::object>(value);
    py::error_already_set error;
    if (!error.matches(PyExc_AttributeError)) throw error;
    py::raise_from(error, PyExc_AttributeError,
                   (plain::Where::attribute(method, name).text() + ": is missing; nothing was written").c_str());
    throw py::error_already_set();
}

py::object connection(py::handle self, const char* name, const char* method, Use use) {
    static constexpr const char* lock_calls[] = {"set", "eval"};
    static constexpr const char* hash_calls[] = {"set", "eval", "hset", "hkeys", "hmget", "hdel"};
    static constexpr const char* statement_calls[] = {"command"};
    py::object value = taken(self, name, method);
    const plain::Where where = plain::Where::attribute(method, name);
    if (value.is_none()) plain::refuse(PyExc_TypeError, where, "is None; nothing was written");
    auto check = [&](const auto& calls) {
        for (const char* call : calls) {
            if (!PyCallable_Check(attribute_or_none(value, call).ptr())) {
                plain::refuse(PyExc_TypeError, where, std::string("has no method ") + call + " (" + plain::shown(value) +
                                                          "); nothing was written");
            }
        }
    };
    if (use == Use::lock) check(lock_calls);
    if (use == Use::hash) check(hash_calls);
    if (use == Use::statements) check(statement_calls);
    return value;
}

CopyStep copy_step(py::handle self, const char* method, py::object client) {
    CopyStep copy;
    if (!plain::truth(taken(self, "if_copy", method))) return copy;
    copy.account = plain::identity(taken(self, "copy_account_id", method),
                                   plain::Where::attribute(method, "copy_account_id"));
    copy.redis = connection(self, "copy_redis_conn", method, Use::hash);
    copy.client = client ? std::move(client) : connection(self, "client", method, Use::statements);
    return copy;
}

}  // namespace norvane::signals
