#include "common/rows.hpp"
#include "common/text.hpp"

#include <Python.h>
#include <datetime.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include "common/outside.hpp"

namespace norvane::rows {

namespace {

// A value the direct conversion does not cover: the whole table then goes through pandas.
struct LeftToPandas {};

[[noreturn]] void python_error() { throw py::error_already_set(); }

PyObject* checked(PyObject* object) {
    if (object == nullptr) python_error();
    return object;
}

PyObject* new_ref(PyObject* object) {
    Py_INCREF(object);
    return object;
}

void import_datetime() {
    if (PyDateTimeAPI == nullptr) {
        PyDateTime_IMPORT;
        if (PyDateTimeAPI == nullptr) python_error();
    }
}

// ---- floating values -------------------------------------------------------------------------
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
    const double largest_fixed = (double)1e16 - 1;
    const double smallest_fixed = (double)1e-15;
    const bool negative = value < 0;
    const double magnitude = negative ? -value : value;
    if (magnitude > largest_fixed || (magnitude != 0.0 && std::fabs(magnitude) < smallest_fixed)) {
        return significant_digits(value);
    }
    unsigned long long whole = (unsigned long long)magnitude;
    const double scaled = (magnitude - whole) * (double)pow10[decimal_places];
    unsigned long long fraction = (unsigned long long)scaled;
    const double rest = scaled - fraction;
    if (rest > 0.5) {
        ++fraction;
    } else if (rest == 0.5 && (fraction == 0 || (fraction & 1))) {
        ++fraction;
    }
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
        read = (double)whole;
    } else if (whole <= (exact_integers - fraction) / pow10[places]) {
        read = (double)(whole * pow10[places] + fraction) / (double)pow10[places];
    } else {
        char text[64];
        std::snprintf(text, sizeof text, "%llu.%0*llu", whole, places, fraction);
        read = read_back(text);
    }
    return negative ? -read : read;
}

// The float a script gets for `value`; the original object when that is the same number.
PyObject* written_float(PyObject* original, double value) {
    double written = as_written(value);
    if (original != nullptr && std::memcmp(&written, &value, sizeof value) == 0) {
        return new_ref(original);
    }
    return checked(PyFloat_FromDouble(written));
}

// ---- dates and times -------------------------------------------------------------------------

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

// pandas counts in nanoseconds: outside these years it fails, and that answer is left to it.
void within_nanosecond_range(int year) {
    if (year < 1678 || year > 2261) throw LeftToPandas{};
}

constexpr std::int64_t microseconds_per_day = 86400LL * 1000000LL;

std::int64_t date_key(PyObject* date) {
    return (static_cast<std::int64_t>(PyDateTime_GET_YEAR(date)) << 9) |
           (PyDateTime_GET_MONTH(date) << 5) | PyDateTime_GET_DAY(date);
}

std::int64_t epoch_microseconds(PyObject* moment) {
    int year = PyDateTime_GET_YEAR(moment);
    within_nanosecond_range(year);
    std::int64_t micros =
        days_from_civil(year, PyDateTime_GET_MONTH(moment), PyDateTime_GET_DAY(moment)) *
            microseconds_per_day +
        ((PyDateTime_DATE_GET_HOUR(moment) * 60LL + PyDateTime_DATE_GET_MINUTE(moment)) * 60LL +
         PyDateTime_DATE_GET_SECOND(moment)) *
            1000000LL +
        PyDateTime_DATE_GET_MICROSECOND(moment);
    if (reinterpret_cast<PyDateTime_DateTime*>(moment)->hastzinfo) {
        // An aware time stamp counts as the instant it names.
        py::object offset = py::reinterpret_steal<py::object>(
            checked(PyObject_CallMethod(moment, "utcoffset", nullptr)));
        if (!offset.is_none()) {
            if (!PyDelta_CheckExact(offset.ptr())) throw LeftToPandas{};
            micros -= PyDateTime_DELTA_GET_DAYS(offset.ptr()) * microseconds_per_day +
                      PyDateTime_DELTA_GET_SECONDS(offset.ptr()) * 1000000LL +
                      PyDateTime_DELTA_GET_MICROSECONDS(offset.ptr());
        }
    }
    return micros;
}

// ---- texts -----------------------------------------------------------------------------------

// A text with a lone surrogate cannot be written as UTF-8; pandas fails on it.
void writable_text(PyObject* text) {
    if (PyUnicode_READY(text) < 0) python_error();
    const int kind = PyUnicode_KIND(text);
    if (kind == PyUnicode_1BYTE_KIND) return;
    const void* data = PyUnicode_DATA(text);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    for (Py_ssize_t i = 0; i < length; ++i) {
        Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c >= 0xD800 && c <= 0xDFFF) throw LeftToPandas{};
    }
}

bool is_missing(PyObject* value) {
    return value == Py_None || (Py_TYPE(value) == &PyFloat_Type && std::isnan(PyFloat_AS_DOUBLE(value)));
}

// ---- one conversion --------------------------------------------------------------------------

// pandas 3 changed two answers of its JSON writer. A decimal is written as its text there; the
// row dicts keep pandas 2's answer, the number, on every pandas, so a script's arithmetic on them
// does not depend on the pandas installed. A time stamp before 1970 with a fraction of a
// millisecond counts its milliseconds rounding down in a column of time stamps, toward zero among
// other values (pandas 2: toward zero everywhere); those values are left to the installed pandas.
struct Writer {
    bool rounding_by_column = false;
};

Writer installed_pandas_writer() {
    std::string version = str_of(outside::pd().attr("__version__"));
    return Writer{std::atoi(version.c_str()) >= 3};
}

class Converter {
public:
    explicit Converter(Writer writer = installed_pandas_writer()) : writer_(writer) {}

    // A value of a column pandas keeps as it is (each value by its own kind), as a new reference.
    PyObject* plain(PyObject* value) {
        PyTypeObject* type = Py_TYPE(value);
        if (value == Py_None || type == &PyBool_Type || type == &PyLong_Type) return new_ref(value);
        if (type == &PyFloat_Type) return floating(value, PyFloat_AS_DOUBLE(value));
        if (type == &PyUnicode_Type) {
            writable_text(value);
            return new_ref(value);
        }
        if (type == PyDateTimeAPI->DateTimeType) return moment_milliseconds(value);
        if (type == PyDateTimeAPI->DateType) return date_milliseconds(value);
        if (type == PyDateTimeAPI->TimeType) {
            return checked(PyObject_CallMethod(value, "isoformat", nullptr));
        }
        if (type == &PyBytes_Type) {
            PyObject* text = PyUnicode_DecodeUTF8(PyBytes_AS_STRING(value), PyBytes_GET_SIZE(value), "strict");
            if (text == nullptr) {
                PyErr_Clear();
                throw LeftToPandas{};
            }
            return text;
        }
        if (type == &PyList_Type || type == &PyTuple_Type || type == &PySet_Type ||
            type == &PyFrozenSet_Type) {
            return sequence(value);
        }
        if (type == &PyDict_Type) return mapping(value);
        if (is_decimal(value)) {
            double number = PyFloat_AsDouble(value);
            if (number == -1.0 && PyErr_Occurred()) python_error();
            if (!std::isfinite(number)) throw LeftToPandas{};
            return written_float(nullptr, number);
        }
        throw LeftToPandas{};
    }

    // A value of a column pandas holds as floats: integers among floats or missing values.
    PyObject* in_float_column(PyObject* value) {
        PyTypeObject* type = Py_TYPE(value);
        if (value == Py_None) return new_ref(Py_None);
        if (type == &PyFloat_Type) return floating(value, PyFloat_AS_DOUBLE(value));
        if (type == &PyLong_Type) {
            int overflow = 0;
            long long integer = PyLong_AsLongLongAndOverflow(value, &overflow);
            if (integer == -1 && PyErr_Occurred()) python_error();
            // Beyond 64 bits pandas' choice of column type depends on the row order.
            if (overflow != 0) throw LeftToPandas{};
            return written_float(nullptr, static_cast<double>(integer));
        }
        throw LeftToPandas{};
    }

    // A value of a date column turned into text.
    PyObject* as_text(PyObject* value) {
        if (is_missing(value)) return new_ref(Py_None);
        if (Py_TYPE(value) == PyDateTimeAPI->DateType) {
            std::int64_t key = date_key(value);
            py::object& text = day_texts_[key];
            if (!text) {
                char buffer[16];
                std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", PyDateTime_GET_YEAR(value),
                              PyDateTime_GET_MONTH(value), PyDateTime_GET_DAY(value));
                text = py::str(buffer);
            }
            return new_ref(text.ptr());
        }
        return checked(PyObject_Str(value));
    }

private:
    PyObject* moment_milliseconds(PyObject* moment) {
        std::int64_t micros = epoch_microseconds(moment);
        if (writer_.rounding_by_column && micros % 1000 < 0) throw LeftToPandas{};
        return checked(PyLong_FromLongLong(micros / 1000));
    }

    PyObject* floating(PyObject* original, double number) {
        if (!std::isfinite(number)) return new_ref(Py_None);
        return written_float(original, number);
    }

    PyObject* date_milliseconds(PyObject* date) {
        std::int64_t key = date_key(date);
        py::object& milliseconds = day_milliseconds_[key];
        if (!milliseconds) {
            int year = PyDateTime_GET_YEAR(date);
            within_nanosecond_range(year);
            std::int64_t days = days_from_civil(year, PyDateTime_GET_MONTH(date), PyDateTime_GET_DAY(date));
            milliseconds = py::reinterpret_steal<py::object>(checked(PyLong_FromLongLong(days * 86400000LL)));
        }
        return new_ref(milliseconds.ptr());
    }

    // Lists, tuples and sets become lists, their elements each by its own kind.
    PyObject* sequence(PyObject* values) {
        py::list converted;
        py::object iterator = py::reinterpret_steal<py::object>(checked(PyObject_GetIter(values)));
        while (PyObject* element = PyIter_Next(iterator.ptr())) {
            py::object owned = py::reinterpret_steal<py::object>(element);
            py::object value = py::reinterpret_steal<py::object>(plain(element));
            if (PyList_Append(converted.ptr(), value.ptr()) < 0) python_error();
        }
        if (PyErr_Occurred()) python_error();
        return converted.release().ptr();
    }

    // A dict's keys are written as texts (str() of a key that is not one). The items are taken
    // first: converting a value may run Python code that changes the dict.
    PyObject* mapping(PyObject* items) {
        py::dict converted;
        py::list pairs = py::reinterpret_steal<py::list>(checked(PyDict_Items(items)));
        for (py::handle pair : pairs) {
            PyObject* key = PyTuple_GET_ITEM(pair.ptr(), 0);
            PyObject* value = PyTuple_GET_ITEM(pair.ptr(), 1);
            py::object name;
            if (Py_TYPE(key) == &PyUnicode_Type) {
                name = py::reinterpret_borrow<py::object>(key);
            } else if (PyBytes_Check(key)) {
                throw LeftToPandas{};
            } else {
                name = py::reinterpret_steal<py::object>(checked(PyObject_Str(key)));
            }
            writable_text(name.ptr());
            py::object written = py::reinterpret_steal<py::object>(plain(value));
            if (PyDict_SetItem(converted.ptr(), name.ptr(), written.ptr()) < 0) python_error();
        }
        return converted.release().ptr();
    }

    bool is_decimal(PyObject* value) {
        if (!decimal_type_) decimal_type_ = py::module_::import("decimal").attr("Decimal");
        int is = PyObject_IsInstance(value, decimal_type_.ptr());
        if (is < 0) python_error();
        return is == 1;
    }

    const Writer writer_;
    std::unordered_map<std::int64_t, py::object> day_milliseconds_;
    std::unordered_map<std::int64_t, py::object> day_texts_;
    py::object decimal_type_;
};

// ---- the table -------------------------------------------------------------------------------

enum class Treatment { plain, floats, text };

// What pandas makes of one column: integers turn into floats when the column also holds floats
// or missing values and nothing but numbers (truth values keep it a column of objects).
struct Seen {
    bool integer = false, floating = false, missing = false, other = false;

    void add(PyObject* value) {
        PyTypeObject* type = Py_TYPE(value);
        if (value == Py_None) missing = true;
        else if (type == &PyLong_Type) integer = true;
        else if (type == &PyFloat_Type) floating = true;
        else other = true;
    }
    bool floats() const { return integer && (floating || missing) && !other; }
};

py::list direct(py::handle result_set, py::handle names, const Options& options) {
    std::vector<py::object> keys;
    for (py::handle name : names) {
        if (Py_TYPE(name.ptr()) != &PyUnicode_Type) throw LeftToPandas{};
        writable_text(name.ptr());
        for (const py::object& key : keys) {
            // pandas refuses records with repeated column names.
            if (key.equal(name)) throw LeftToPandas{};
        }
        keys.push_back(py::reinterpret_borrow<py::object>(name));
    }
    const std::size_t width = keys.size();

    // The rows are taken first, each as a tuple of its own: converting a value may run Python
    // code (a value's __str__, a time zone's utcoffset) that changes the result's lists, and what
    // is read must stay alive and in place. Rows must be tuples or lists of the table's width;
    // pandas pads or refuses others.
    std::vector<py::tuple> rows;
    {
        py::object sequence = py::reinterpret_steal<py::object>(
            checked(PySequence_Fast(result_set.ptr(), "result_set must be a sequence of rows")));
        const Py_ssize_t size = PySequence_Fast_GET_SIZE(sequence.ptr());
        rows.reserve(static_cast<std::size_t>(size));
        for (Py_ssize_t i = 0; i < size; ++i) {
            PyObject* row = PySequence_Fast_GET_ITEM(sequence.ptr(), i);
            if (!(PyTuple_CheckExact(row) || PyList_CheckExact(row)) ||
                static_cast<std::size_t>(PySequence_Fast_GET_SIZE(row)) != width) {
                throw LeftToPandas{};
            }
            rows.push_back(PyTuple_CheckExact(row) ? py::reinterpret_borrow<py::tuple>(row)
                                                   : py::reinterpret_steal<py::tuple>(checked(PyList_AsTuple(row))));
        }
    }
    const Py_ssize_t count = static_cast<Py_ssize_t>(rows.size());
    auto cells = [&](Py_ssize_t index) -> PyObject** {
        return PySequence_Fast_ITEMS(rows[static_cast<std::size_t>(index)].ptr());
    };

    std::vector<Seen> seen(width);
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject** values = cells(i);
        for (std::size_t c = 0; c < width; ++c) seen[c].add(values[c]);
    }
    std::vector<Treatment> treatment(width, Treatment::plain);
    for (std::size_t c = 0; c < width; ++c) {
        if (seen[c].floats()) treatment[c] = Treatment::floats;
    }
    for (const std::string& column : options.date_text_columns) {
        std::size_t c = 0;
        while (c < width && utf8(keys[c]) != column) ++c;
        if (c == width) throw py::key_error(column);
        treatment[c] = Treatment::text;
    }

    // Each row dict starts as a copy of one with every key, so it is sized once.
    py::dict shape;
    for (const py::object& key : keys) shape[key] = py::none();

    Converter convert;
    py::list records(count);
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject** values = cells(i);
        py::object record = py::reinterpret_steal<py::object>(checked(PyDict_Copy(shape.ptr())));
        for (std::size_t c = 0; c < width; ++c) {
            PyObject* value;
            switch (treatment[c]) {
                case Treatment::plain: value = convert.plain(values[c]); break;
                case Treatment::floats: value = convert.in_float_column(values[c]); break;
                default: value = convert.as_text(values[c]); break;
            }
            int failed = PyDict_SetItem(record.ptr(), keys[c].ptr(), value);
            Py_DECREF(value);
            if (failed < 0) python_error();
        }
        PyList_SET_ITEM(records.ptr(), i, record.release().ptr());
    }
    return records;
}

// The table with every decimal as its float, its columns keeping their types (a column of objects
// stays one, so ints beside decimals stay ints), as pandas 2 writes a decimal (see Writer).
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
            values.append(is ? py::object(py::float_(py::reinterpret_borrow<py::object>(value)))
                             : py::reinterpret_borrow<py::object>(value));
        }
        if (!any) continue;
        table = table.attr("copy")();
        table.attr("isetitem")(position, pd.attr("Series")(values, py::arg("dtype") = "object",
                                                            py::arg("index") = table.attr("index")));
    }
    return table;
}

// The table built, its date columns turned into text, written as records and read back.
py::list through_pandas(py::handle result_set, py::handle names, const Options& options) {
    py::object table = decimals_as_floats(outside::pd().attr("DataFrame")(result_set, py::arg("columns") = names));
    Converter convert;
    py::object not_a_time = outside::pd().attr("NaT");  // a missing time stamp in a column of them
    for (const std::string& column : options.date_text_columns) {
        py::list texts;
        for (py::handle value : table[py::str(column)].attr("tolist")()) {
            if (value.is(not_a_time)) {
                texts.append(py::none());
                continue;
            }
            texts.append(py::reinterpret_steal<py::object>(convert.as_text(value.ptr())));
        }
        py::dict replaced;
        replaced[py::str(column)] = texts;
        table = table.attr("assign")(**replaced);
    }
    py::object text = table.attr("to_json")(py::arg("orient") = "records");
    return outside::json().attr("loads")(text);
}

}  // namespace

py::list row_dicts(py::handle result) { return row_dicts(result, Options{}); }

py::list row_dicts(py::handle result, const Options& options) {
    import_datetime();
    py::object result_set = result.attr("result_set");
    py::object names;
    if (options.column_names.empty()) {
        names = result.attr("column_names");
    } else {
        py::list fixed;
        for (const std::string& name : options.column_names) fixed.append(py::str(name));
        names = fixed;
    }
    try {
        return direct(result_set, names, options);
    } catch (const LeftToPandas&) {
        return through_pandas(result_set, names, options);
    }
}

}  // namespace norvane::rows
