#pragma once
// The reading frame every trading-record reader runs: the initialisation guard; with no dates, a
// real account's current figures from the risk platform; otherwise both dates checked and turned
// into the "%Y-%m-%d" form the stored tables compare with, and the reader's dated part.
#include <pybind11/pybind11.h>

#include <functional>
#include <string>
#include <vector>

namespace norvane::records {
namespace py = pybind11;

// The trading days of a dated query, "%Y-%m-%d".
struct Range {
    std::string start;
    std::string end;
};

struct Frame {
    // The "data" of a successful real-time answer.
    std::function<py::object(py::handle self, py::handle answer)> realtime_data;
    // Everything after the dates are converted.
    std::function<py::object(py::handle self, const Range& range)> dated;
};

// Errors of the real-time call and of the date parsing reach the caller; the dated part
// reports its own.
py::object read_records(py::handle self, py::handle start_date, py::handle end_date,
                        const Frame& frame);

// Order, deal and position history share their dated part: one query, the rows as row dicts,
// any error reported with the source line of the statement that failed.
struct History {
    // The answer's value a real-time read passes on unchanged.
    const char* realtime_key;
    // Statements with {tmp_start_date}, {tmp_end_date} and {account_id}.
    const char* real_accounts;
    const char* simulated_accounts;  // nullptr: simulated accounts get `simulated_refusal`
    const char* simulated_refusal;
    // Columns whose dates are turned into "%Y-%m-%d" text, in this order.
    std::vector<std::string> date_columns;
};

py::object read_history(py::handle self, py::handle start_date, py::handle end_date,
                        const History& history);

// A real account's id begins with "8"; any other is a simulated account.
bool real_account(py::handle self);

// The trader id the risk platform knows the account by: the first eight characters of its id.
py::object trader_id(py::handle self);

// A reader's statement with the range and the whole account id filled in.
std::string statement(const char* sql, py::handle self, const Range& range);

}  // namespace norvane::records
