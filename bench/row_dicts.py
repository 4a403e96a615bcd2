"""Row-dict conversion of a large order result, three ways, in one run.

    .venv/bin/python bench/row_dicts.py [rows]

The result imitates the order table (11 columns: two dates, texts, a float price, two integer
volumes) with 100,000 rows by default. It is converted by
  - the module: `fun_read_order` over a client that answers with the prepared result (the
    reader's own conversion, its two date columns turned into "%Y-%m-%d" text);
  - the pandas route: DataFrame -> to_json(orient="records") -> json.loads (and, for the same
    output as the reader, with the two date columns turned into text first);
  - a bare loop: [dict(zip(cols, row)) for row in rows], which converts nothing.
Prints the best of several timings, the ratios, and the peak memory each way allocates.
Needs no running stack.
"""
from __future__ import annotations

import datetime as dt
import json
import random
import sys
import time
import tracemalloc
import types
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

import pandas as pd  # noqa: E402

import Norvane  # noqa: E402

COLUMNS = ("day", "trading_day", "trading_time", "instrument_id", "entrust_direction", "price",
           "entrust_volume", "deal_volume", "exchange_id", "entrust_serial_no", "entrust_status")
REPEATS = 5


def order_rows(count: int) -> list[tuple]:
    rng = random.Random(20250829)
    first = dt.date(2025, 8, 1)
    contracts = [("rb2510", "SHFE", 3100.0), ("i2601", "DCE", 780.0), ("m2601", "DCE", 3040.0),
                 ("au2512", "SHFE", 780.12), ("IF2509", "CFFEX", 4012.6)]
    rows = []
    for n in range(count):
        day = first + dt.timedelta(days=n * 20 // count)
        contract, exchange, base = rng.choice(contracts)
        volume = rng.randint(1, 20)
        rows.append((day, day, f"{9 + n % 6:02d}:{n % 60:02d}:{(n * 7) % 60:02d}", contract,
                     rng.choice(("buy", "sell")), round(base + rng.uniform(-50, 50), rng.choice((0, 1, 2))),
                     volume, rng.randint(0, volume), exchange, f"E{day:%Y%m%d}-{n:06d}",
                     rng.choice(("filled", "cancelled", "partial"))))
    return rows


class PreparedClient:
    """Answers every query with the same result."""

    def __init__(self, rows, columns):
        self.result = types.SimpleNamespace(result_set=rows, column_names=columns)

    def query(self, statement):
        return self.result


def account_over(rows) -> Norvane.Norvane:
    account = Norvane.Norvane.__new__(Norvane.Norvane)
    account.login = account.connect_tag = 0
    account.account_id = "88001234"
    account.client = PreparedClient(rows, COLUMNS)
    return account


def module_way(account):
    answer = account.fun_read_order("20250801", "20250831")
    assert answer["code"] == 0, answer
    return answer["data"]


def pandas_way(rows):
    return json.loads(pd.DataFrame(rows, columns=COLUMNS).to_json(orient="records"))


def pandas_way_with_date_text(rows):
    table = pd.DataFrame(rows, columns=COLUMNS)
    for column in ("trading_day", "day"):
        table[column] = table[column].astype(str)
    return json.loads(table.to_json(orient="records"))


def bare_way(rows):
    return [dict(zip(COLUMNS, row)) for row in rows]


def best_time(convert) -> float:
    best = float("inf")
    for _ in range(REPEATS):
        started = time.perf_counter()
        result = convert()
        best = min(best, time.perf_counter() - started)
        del result
    return best


def peak_memory(convert) -> int:
    tracemalloc.start()
    tracemalloc.reset_peak()
    result = convert()
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    del result
    return peak


def main() -> None:
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    rows = order_rows(count)
    account = account_over(rows)
    if module_way(account) != pandas_way_with_date_text(rows):
        raise SystemExit("the module's rows differ from the pandas route's")
    ways = [
        ("module (fun_read_order)", lambda: module_way(account)),
        ("pandas route", lambda: pandas_way(rows)),
        ("pandas route, dates as text", lambda: pandas_way_with_date_text(rows)),
        ("bare dict(zip)", lambda: bare_way(rows)),
    ]
    print(f"{count} rows x {len(COLUMNS)} columns, best of {REPEATS}")
    times = {}
    for name, convert in ways:
        times[name] = best_time(convert)
        print(f"  {name:30s} {times[name] * 1000:9.1f} ms")
    module = times["module (fun_read_order)"]
    print(f"  pandas route / module          {times['pandas route'] / module:9.2f}x   (target >= 5)")
    print(f"  pandas with dates / module     {times['pandas route, dates as text'] / module:9.2f}x")
    print(f"  module / bare loop             {module / times['bare dict(zip)']:9.2f}x   (target <= 1.5)")
    print("peak memory allocated while converting (tracemalloc)")
    for name, convert in ways:
        print(f"  {name:30s} {peak_memory(convert) / 2**20:9.1f} MiB")


if __name__ == "__main__":
    main()
