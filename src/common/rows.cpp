// Row dicts (rows.hpp), read from the top: the entry; the direct conversion, which takes the rows,
// decides each column's treatment and converts each value; the floats and dates pandas writes its
// own way; and the route through pandas for the tables the direct conversion leaves to it.
#include "common/rows.hpp"

#include <Python.h>
#include <datetime.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/outside.hpp"
#include "common/text.hpp"

namespace norvane::rows {

namespace {

py::object column_names(py::handle result, const Options& options);
// The row dicts built straight from the rows, or nothing when a value or the table's shape is one
// the direct conversion leaves to pandas.
std::optional<py::list> converted_directly(py::handle result_set, py::handle names, const Options& options);
// The table built by pandas, its date columns turned into text, written as records and read back.
py::list through_pandas(py::handle result_set, py::handle names, const Options& options);

}  // namespace

py::list row_dicts(py::handle result) { return row_dicts(result, Options{}); }

py::list row_dicts(py::handle result, const Options& options) {
    py::object result_set = result.attr("result_set");
    py::object names = column_names(result, options);
    if (std::optional<py::list> dicts = converted_directly(result_set, names, options)) return *dicts;
    return through_pandas(result_set, names, options);
}

namespace {

[[noreturn]] void python_error() { throw py::error_already_set(); }

// A new reference from the C API as an owned object; a null one is the pending Python error.
py::object new_reference(PyObject* object) {
    if (object == nullptr) python_error();
    return py::reinterpret_steal<py::object>(object);
}

py::object borrowed(PyObject* object) { return py::reinterpret_borrow<py::object>(object); }

py::object column_names(py::handle result, const Options& options) {
    if (options.column_names.empty()) return result.attr("column_names");
    py::list fixed;
    for (const std::string& name : options.column_names) fixed.append(py::str(name));
    return std::move(fixed);
}

// ---- the direct conversion -------------------------------------------------------------------

// How a column's values are converted.
enum class Treatment {
    plain,   // each value by its own kind
    floats,  // integers among floats or missing values: pandas gives the column one float type
    text,    // a date column the reader asked for as text
};

bool writable_text(PyObject* text);
std::optional<std::vector<py::tuple>> own_rows(py::handle result_set, std::size_t width);
std::vector<Treatment> treatments(const std::vector<py::tuple>& rows, const std::vector<py::object>& keys,
                                  const Options& options);
// One dict per row, each value converted by its column's treatment; nothing when a value is left
// to pandas.
std::optional<py::list> dicts_of(const std::vector<py::tuple>& rows, const std::vector<py::object>& keys,
                                 const std::vector<Treatment>& treatment);

std::optional<py::list> converted_directly(py::handle result_set, py::handle names, const Options& options) {
    if (PyDateTimeAPI == nullptr) {
        PyDateTime_IMPORT;
        if (PyDateTimeAPI == nullptr) python_error();
    }
    std::vector<py::object> keys;
    for (py::handle name : names) {
        // pandas writes other labels its own way, and refuses records with repeated names.
        if (Py_TYPE(name.ptr()) != &PyUnicode_Type || !writable_text(name.ptr())) return std::nullopt;
        for (const py::object& key : keys) {
            if (key.equal(name)) return std::nullopt;
        }
        keys.push_back(borrowed(name.ptr()));
    }
    std::optional<std::vector<py::tuple>> rows = own_rows(result_set, keys.size());
    if (!rows) return std::nullopt;

    return dicts_of(*rows, keys, treatments(*rows, keys, options));
}

// The rows, each as a tuple of its own, taken before any value is converted: converting a value
// may run Python code (a value's __str__, a time zone's utcoffset) that changes the result's lists,
// and what is read must stay alive and in place. Rows must be tuples or lists of the table's width
// (pandas pads or refuses others).
std::optional<std::vector<py::tuple>> own_rows(py::handle result_set, std::size_t width) {
    py::object sequence = new_reference(PySequence_Fast(result_set.ptr(), "result_set must be a sequence of rows"));
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(sequence.ptr());
    std::vector<py::tuple> rows;
    rows.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* row = PySequence_Fast_GET_ITEM(sequence.ptr(), i);
        if (!(PyTuple_CheckExact(row) || PyList_CheckExact(row)) ||
            static_cast<std::size_t>(PySequence_Fast_GET_SIZE(row)) != width) {
            return std::nullopt;
        }
        rows.push_back(PyTuple_CheckExact(row) ? py::reinterpret_borrow<py::tuple>(row)
                                               : py::reinterpret_steal<py::tuple>(new_reference(PyList_AsTuple(row)).release()));
    }
    return rows;
}

// What pandas makes of each column: integers turn into floats when the column also holds floats
// or missing values and nothing but numbers (truth values keep it a column of objects); the date
// columns asked for as text become text. A date column that is not in the table raises KeyError,
// as selecting it from the table would.
std::vector<Treatment> treatments(const std::vector<py::tuple>& rows, const std::vector<py::object>& keys,
                                  const Options& options) {
    std::vector<Treatment> treatment(keys.size(), Treatment::plain);
    for (std::size_t c = 0; c < keys.size(); ++c) {
        bool integer = false, floating = false, missing = false, other = false;
        for (const py::tuple& row : rows) {
            PyObject* value = PyTuple_GET_ITEM(row.ptr(), static_cast<Py_ssize_t>(c));
            if (value == Py_None) missing = true;
            else if (Py_TYPE(value) == &PyLong_Type) integer = true;
            else if (Py_TYPE(value) == &PyFloat_Type) floating = true;
            else other = true;
        }
        if (integer && (floating || missing) && !other) treatment[c] = Treatment::floats;
    }
    for (const std::string& column : options.date_text_columns) {
        std::size_t c = 0;
        while (c < keys.size() && utf8(keys[c]) != column) ++c;
        if (c == keys.size()) throw py::key_error(column);
        treatment[c] = Treatment::text;
    }
    return treatment;
}

// A text with a lone surrogate cannot be written as UTF-8; pandas fails on it.
bool writable_text(PyObject* text) {
    const int kind = PyUnicode_KIND(text);
    if (kind == PyUnicode_1BYTE_KIND) return true;
    const void* data = PyUnicode_DATA(text);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    for (Py_ssize_t i = 0; i < length; ++i) {
        Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c >= 0xD800 && c <= 0xDFFF) return false;
    }
    return true;
}

// ---- one value -------------------------------------------------------------------------------

py::object written_float(PyObject* original, double value);
std::optional<std::int64_t> epoch_microseconds(PyObject* moment);
std::optional<std::int64_t> epoch_days(PyObject* date);

bool is_missing(PyObject* value) {
    return value == Py_None || (Py_TYPE(value) == &PyFloat_Type && std::isnan(PyFloat_AS_DOUBLE(value)));
}

// Converts values as pandas writes them. A value it does not cover (UUIDs, addresses, pandas' own
// scalars, times out of pandas' range, ...) makes it give up: the caller then leaves the whole
// table to pandas, whose answer that value gets.
class Converter {
public:
    py::object operator()(Treatment treatment, PyObject* value) {
        switch (treatment) {
            case Treatment::plain: return plain(value);
            case Treatment::floats: return in_float_column(value);
            default: return as_text(value);
        }
    }

    bool gave_up() const { return gave_up_; }

private:
    py::object give_up() {
        gave_up_ = true;
        return py::none();
    }

    // A value of a column pandas keeps as it is, each value by its own kind.
    py::object plain(PyObject* value) {
        PyTypeObject* type = Py_TYPE(value);
        if (value == Py_None || type == &PyBool_Type || type == &PyLong_Type) return borrowed(value);
        if (type == &PyFloat_Type) return floating(value, PyFloat_AS_DOUBLE(value));
        if (type == &PyUnicode_Type) return writable_text(value) ? borrowed(value) : give_up();
        if (type == PyDateTimeAPI->DateTimeType) return moment_milliseconds(value);
        if (type == PyDateTimeAPI->DateType) return date_milliseconds(value);
        if (type == PyDateTimeAPI->TimeType) return new_reference(PyObject_CallMethod(value, "isoformat", nullptr));
        if (type == &PyBytes_Type) return bytes_text(value);
        if (type == &PyList_Type || type == &PyTuple_Type || type == &PySet_Type || type == &PyFrozenSet_Type) {
            return sequence(value);
        }
        if (type == &PyDict_Type) return mapping(value);
        if (is_decimal(value)) {
            double number = PyFloat_AsDouble(value);
            if (number == -1.0 && PyErr_Occurred()) python_error();
            return std::isfinite(number) ? written_float(nullptr, number) : give_up();
        }
        return give_up();
    }

    // A value of a column pandas holds as floats: integers among floats or missing values.
    py::object in_float_column(PyObject* value) {
        if (value == Py_None) return py::none();
        if (Py_TYPE(value) == &PyFloat_Type) return floating(value, PyFloat_AS_DOUBLE(value));
        if (Py_TYPE(value) == &PyLong_Type) {
            int overflow = 0;
            long long integer = PyLong_AsLongLongAndOverflow(value, &overflow);
            if (integer == -1 && PyErr_Occurred()) python_error();
            // Beyond 64 bits pandas' choice of column type depends on the row order.
            if (overflow != 0) return give_up();
            return written_float(nullptr, static_cast<double>(integer));
        }
        return give_up();
    }

    // A value of a date column turned into text: a date as "%Y-%m-%d", anything else as str() of it.
    py::object as_text(PyObject* value) {
        if (is_missing(value)) return py::none();
        if (Py_TYPE(value) != PyDateTimeAPI->DateType) return new_reference(PyObject_Str(value));
        py::object& text = day_texts_[date_key(value)];
        if (!text) {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", PyDateTime_GET_YEAR(value),
                          PyDateTime_GET_MONTH(value), PyDateTime_GET_DAY(value));
            text = py::str(buffer);
        }
        return text;
    }

    py::object floating(PyObject* original, double number) {
        return std::isfinite(number) ? written_float(original, number) : py::none();
    }

    // A time stamp before 1970 with a fraction of a millisecond is left to the installed pandas:
    // pandas 3 rounds its milliseconds down in a column of time stamps and toward zero among other
    // values, pandas 2 toward zero everywhere.
    py::object moment_milliseconds(PyObject* moment) {
        std::optional<std::int64_t> micros = epoch_microseconds(moment);
        if (!micros || *micros % 1000 < 0) return give_up();
        return new_reference(PyLong_FromLongLong(*micros / 1000));
    }

    py::object date_milliseconds(PyObject* date) {
        py::object& milliseconds = day_milliseconds_[date_key(date)];
        if (!milliseconds) {
            std::optional<std::int64_t> days = epoch_days(date);
            if (!days) return give_up();
            milliseconds = new_reference(PyLong_FromLongLong(*days * 86400000LL));
        }
        return milliseconds;
    }

    py::object bytes_text(PyObject* bytes) {
        PyObject* text = PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes), PyBytes_GET_SIZE(bytes), "strict");
        if (text == nullptr) {
            PyErr_Clear();
            return give_up();
        }
        return new_reference(text);
    }

    // Lists, tuples and sets become lists, their elements each by its own kind. The elements are
    // taken first: converting one may run Python code that changes the container.
    py::object sequence(PyObject* values) {
        py::list elements = py::reinterpret_steal<py::list>(new_reference(PySequence_List(values)).release());
        py::list converted;
        for (py::handle element : elements) converted.append(plain(element.ptr()));
        return std::move(converted);
    }

    // A dict's keys are written as texts (str() of a key that is not one). The items are taken
    // first, as a sequence's elements are.
    py::object mapping(PyObject* items) {
        py::list pairs = py::reinterpret_steal<py::list>(new_reference(PyDict_Items(items)).release());
        py::dict converted;
        for (py::handle pair : pairs) {
            PyObject* key = PyTuple_GET_ITEM(pair.ptr(), 0);
            if (PyBytes_Check(key)) return give_up();
            py::object name = Py_TYPE(key) == &PyUnicode_Type ? borrowed(key) : new_reference(PyObject_Str(key));
            if (!writable_text(name.ptr())) return give_up();
            converted[name] = plain(PyTuple_GET_ITEM(pair.ptr(), 1));
        }
        return std::move(converted);
    }

    bool is_decimal(PyObject* value) {
        if (!decimal_type_) decimal_type_ = py::module_::import("decimal").attr("Decimal");
        int is = PyObject_IsInstance(value, decimal_type_.ptr());
        if (is < 0) python_error();
        return is == 1;
    }

    static std::int64_t date_key(PyObject* date) {
        return (static_cast<std::int64_t>(PyDateTime_GET_YEAR(date)) << 9) | (PyDateTime_GET_MONTH(date) << 5) |
               PyDateTime_GET_DAY(date);
    }

    bool gave_up_ = false;
    std::unordered_map<std::int64_t, py::object> day_milliseconds_;
    std::unordered_map<std::int64_t, py::object> day_texts_;
    py::object decimal_type_;
};

std::optional<py::list> dicts_of(const std::vector<py::tuple>& rows, const std::vector<py::object>& keys,
                                 const std::vector<Treatment>& treatment) {
    // Each row dict starts as a copy of one with every key, so it is sized once.
    py::dict shape;
    for (const py::object& key : keys) shape[key] = py::none();
    Converter convert;
    py::list dicts(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        py::object dict = new_reference(PyDict_Copy(shape.ptr()));
        for (std::size_t c = 0; c < keys.size(); ++c) {
            py::object value = convert(treatment[c], PyTuple_GET_ITEM(rows[i].ptr(), static_cast<Py_ssize_t>(c)));
            if (PyDict_SetItem(dict.ptr(), keys[c].ptr(), value.ptr()) < 0) python_error();
        }
        if (convert.gave_up()) return std::nullopt;
        dicts[i] = dict;
    }
    return dicts;
}

// ---- floats ----------------------------------------------------------------------------------
// pandas writes a double with 10 decimal places, rounding its own way and dropping trailing
// zeros, and switches to 10 significant digits beyond 1e16 - 1 and below 1e-15. The value a
// script gets is that text read back as a double.

constexpr unsigned long long pow10[] = {1ULL,          10ULL,          100ULL,        1000ULL,
                                        10000ULL,      100000ULL,      1000000ULL,    10000000ULL,
                                        100000000ULL,  1000000000ULL,  10000000000ULL};
constexpr int decimal_places = 10;

double read_back(const char* text) {
    double value = PyOS_string_to_double(text, nullptr, nullptr);
    if (value == -1.0 && PyErr_Occurred()) python_error();
    return value;
}

double significant_digits(double value) {
    char* text = PyOS_double_to_string(value, 'g', decimal_places, 0, nullptr);
    if (text == nullptr) python_error();
    double read = read_back(text);
    PyMem_Free(text);
    return read;
}

double as_written(double value) {
    const double largest_fixed = 1e16 - 1;
    const double smallest_fixed = 1e-15;
    const bool negative = value < 0;
    const double magnitude = negative ? -value : value;
    if (magnitude > largest_fixed || (magnitude != 0.0 && magnitude < smallest_fixed)) {
        return significant_digits(value);
    }
    auto whole = static_cast<unsigned long long>(magnitude);
    const double scaled = (magnitude - static_cast<double>(whole)) * static_cast<double>(pow10[decimal_places]);
    auto fraction = static_cast<unsigned long long>(scaled);
    const double rest = scaled - static_cast<double>(fraction);
    if (rest > 0.5 || (rest == 0.5 && (fraction == 0 || (fraction & 1)))) ++fraction;
    if (fraction >= pow10[decimal_places]) {
        fraction = 0;
        ++whole;
    }
    int places = 0;
    if (fraction != 0) {
        places = decimal_places;
        while (fraction % 10 == 0) {
            fraction /= 10;
            --places;
        }
    }
    // whole.fraction read as a double: exact integer over an exact power of ten is one correctly
    // rounded division, the same double a decimal reader gives; longer digit strings are read.
    constexpr unsigned long long exact_integers = 1ULL << 53;
    double read;
    if (places == 0) {
        read = static_cast<double>(whole);
    } else if (whole <= (exact_integers - fraction) / pow10[places]) {
        read = static_cast<double>(whole * pow10[places] + fraction) / static_cast<double>(pow10[places]);
    } else {
        char text[64];
        std::snprintf(text, sizeof text, "%llu.%0*llu", whole, places, fraction);
        read = read_back(text);
    }
    return negative ? -read : read;
}

// The float a script gets for `value`; the original object when that is the same number.
py::object written_float(PyObject* original, double value) {
    double written = as_written(value);
    if (original != nullptr && std::memcmp(&written, &value, sizeof value) == 0) return borrowed(original);
    return new_reference(PyFloat_FromDouble(written));
}

// ---- dates and times -------------------------------------------------------------------------

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

// pandas counts in nanoseconds: outside these years it fails, and that answer is left to it.
bool within_nanosecond_range(int year) { return year >= 1678 && year <= 2261; }

constexpr std::int64_t microseconds_per_day = 86400LL * 1000000LL;

std::optional<std::int64_t> epoch_days(PyObject* date) {
    const int year = PyDateTime_GET_YEAR(date);
    if (!within_nanosecond_range(year)) return std::nullopt;
    return days_from_civil(year, PyDateTime_GET_MONTH(date), PyDateTime_GET_DAY(date));
}

// A time stamp without zone counts as if it were UTC; an aware one as the instant it names.
std::optional<std::int64_t> epoch_microseconds(PyObject* moment) {
    std::optional<std::int64_t> days = epoch_days(moment);
    if (!days) return std::nullopt;
    std::int64_t micros =
        *days * microseconds_per_day +
        ((PyDateTime_DATE_GET_HOUR(moment) * 60LL + PyDateTime_DATE_GET_MINUTE(moment)) * 60LL +
         PyDateTime_DATE_GET_SECOND(moment)) * 1000000LL +
        PyDateTime_DATE_GET_MICROSECOND(moment);
    if (reinterpret_cast<PyDateTime_DateTime*>(moment)->hastzinfo) {
        py::object offset = new_reference(PyObject_CallMethod(moment, "utcoffset", nullptr));
        if (!offset.is_none()) {
            if (!PyDelta_CheckExact(offset.ptr())) return std::nullopt;
            micros -= PyDateTime_DELTA_GET_DAYS(offset.ptr()) * microseconds_per_day +
                      PyDateTime_DELTA_GET_SECONDS(offset.ptr()) * 1000000LL +
                      PyDateTime_DELTA_GET_MICROSECONDS(offset.ptr());
        }
    }
    return micros;
}

// ---- through pandas --------------------------------------------------------------------------

// The table with every decimal as its float, its columns keeping their types (a column of
// objects stays one, so ints beside decimals stay ints). pandas 3's JSON writer writes a decimal
// as its text; the row dicts keep pandas 2's answer, the number, on every pandas, so a script's
// arithmetic on them does not depend on the pandas installed.
py::object decimals_as_floats(py::object table) {
    py::object pd = outside::pd();
    py::object decimal = py::module_::import("decimal").attr("Decimal");
    const py::ssize_t width = py::len(table.attr("columns"));
    for (py::ssize_t position = 0; position < width; ++position) {
        py::object column = table.attr("iloc")[py::make_tuple(py::slice(py::none(), py::none(), py::none()), position)];
        if (str_of(column.attr("dtype")) != "object") continue;
        bool any = false;
        py::list values;
        for (py::handle value : column.attr("tolist")()) {
            int is = PyObject_IsInstance(value.ptr(), decimal.ptr());
            if (is < 0) python_error();
            any = any || is;
            values.append(is ? py::object(py::float_(borrowed(value.ptr()))) : borrowed(value.ptr()));
        }
        if (!any) continue;
        table = table.attr("copy")();
        table.attr("isetitem")(position, pd.attr("Series")(values, py::arg("dtype") = "object",
                                                            py::arg("index") = table.attr("index")));
    }
    return table;
}

py::list through_pandas(py::handle result_set, py::handle names, const Options& options) {
    py::object table = decimals_as_floats(outside::pd().attr("DataFrame")(result_set, py::arg("columns") = names));
    Converter convert;
    py::object not_a_time = outside::pd().attr("NaT");  // a missing time stamp in a column of them
    for (const std::string& column : options.date_text_columns) {
        py::list texts;
        for (py::handle value : table[py::str(column)].attr("tolist")()) {
            texts.append(value.is(not_a_time) ? py::none() : convert(Treatment::text, value.ptr()));
        }
        py::dict replaced;
        replaced[py::str(column)] = texts;
        table = table.attr("assign")(**replaced);
    }
    py::object text = table.attr("to_json")(py::arg("orient") = "records");
    return outside::json().attr("loads")(text);
}

}  // namespace

}  // namespace norvane::rows
