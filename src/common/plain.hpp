#pragma once
// Input checks: caller values turned into plain values once, as a method begins, by one rule per
// kind of column or argument: what is written, keyed and compared afterwards is only ever these
// values.
// A value with no valid form is refused with an error that names the method, the column (or the
// argument), the row and the problem, before anything is written. Texts are taken by their own
// characters (a str subclass's __str__ is never asked), numbers by their value.
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

namespace norvane::plain {
namespace py = pybind11;

// Where a value comes from, as the errors name it: "fun_update_signal: column position, row 3"
// (rows counted from 0, as the table's positions) or "fun_set_split_mode: argument mode".
struct Where {
    const char* method;
    const char* kind;     // "column", "argument" or "attribute"
    const char* name;
    Py_ssize_t row = -1;  // the row of a table cell; -1 otherwise

    static Where column(const char* method, const char* name) { return {method, "column", name}; }
    static Where argument(const char* method, const char* name) { return {method, "argument", name}; }
    static Where attribute(const char* method, const char* name) { return {method, "attribute", name}; }
    Where at(Py_ssize_t cell_row) const { return {method, kind, name, cell_row}; }
    std::string text() const;
};

// The Python truth of a value (bool(value)); what its __bool__ or __len__ raises reaches the caller.
inline bool truth(py::handle value) {
    int truth = PyObject_IsTrue(value.ptr());
    if (truth < 0) throw py::error_already_set();
    return truth != 0;
}

// Raises `type` (TypeError, ValueError, ...) with "<where>: <problem>".
[[noreturn]] void refuse(PyObject* type, const Where& where, const std::string& problem);

// A short form of a value for errors: the repr of a plain text or number, else its type.
std::string shown(py::handle value);

// A str as an exact str of its own characters (a subclass's __str__ is never asked); nothing for
// any other value.
std::optional<py::str> characters(py::handle value);

// `characters`, which must also have a UTF-8 form: without one, UnicodeEncodeError naming `where`.
std::optional<py::str> text(py::handle value, const Where& where);

// A text that must be there: refused (TypeError) when the value is not text, and (ValueError)
// when it is empty and `non_empty` is asked.
py::str required_text(py::handle value, const Where& where, bool non_empty = false);

// An identity (account id, access key, user id, mode id): a text, or an integer's digits;
// nothing for any other value (`identity` refuses it with a TypeError).
std::optional<py::str> identity_text(py::handle value, const Where& where);
py::str identity(py::handle value, const Where& where);

// None, NaN, and pandas' NA and NaT.
bool missing(py::handle value);

// A real number as a plain int or float: truth values as 0 and 1, integers beyond 2**53 and every
// other real number (numpy's, Decimal, Fraction) as the float they are stored as. NaN stays NaN;
// infinities are refused. Nothing for a value that is no real number.
std::optional<py::object> real(py::handle value, const Where& where);

// `value` compared with `number` by the interpreter's comparison (Py_EQ, Py_GE, ...); None is
// equal to and greater than nothing.
bool compares(py::handle value, int operation, long number);

// `real`, refused (TypeError) for a value that is no real number; NaN (a missing value) stays,
// unless `missing_too` refuses it as well.
py::object required_real(py::handle value, const Where& where, bool missing_too = false);

// A trading day: eight digits, from a text of eight digits or a whole number of eight digits
// (20991203, 20991203.0, numpy's too).
//
// The methods take trading days four ways, each for its reason:
// - A day that becomes part of a key or a stored row (an upload's and a copy's rows,
//   fun_redis_deal's dte) meets this rule: any other value could name another day's or another
//   account's key, so it is refused.
// - A deletion's day (fun_delete_signal) is only compared with stored days in its statement, so
//   any value is taken as its text (a whole number as its digits) and a day that names no stored
//   day deletes nothing.
// - The range readers (fun_read_signal, factors_value, factors_value_lhjy, post_trade_analysis)
//   compare their bounds as texts: a bound not eight long is answered with the method's own
//   record, not raised.
// - The history readers (orders, deals, positions, equity) parse both texts as "%Y%m%d" for the
//   stored dates (records/frame.hpp, query_range): a length other than eight is their record
//   code 2, a text that names no day raises the parser's error.
py::str trading_day(py::handle value, const Where& where);

// A table's columns by their plain labels, each as the list of its values. The table is refused
// (ValueError) when its columns have several levels, a label is not text, or two labels have one
// text. Values come as pandas hands them out one by one (numbers of numeric columns as the
// interpreter's own, objects of object columns as they are).
struct Columns {
    std::vector<std::string> names;
    std::vector<py::list> values;
    Py_ssize_t rows = 0;

    // The column of that name, or nullptr.
    const py::list* find(const char* name) const;
};
Columns columns(py::handle table, const Where& where);

// The caller's input as a pandas DataFrame (its constructor's rules), refused with a TypeError
// naming the argument when the constructor cannot read it.
py::object table(py::handle input, const Where& where);

}  // namespace norvane::plain
