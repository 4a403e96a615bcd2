"""Row dicts as the history readers return them, against pandas' own route: the table built from
the rows, its date columns turned into text, written as records-oriented JSON and parsed back.
The module builds the dicts itself and must give pandas' answer value for value (or pandas'
error). A simulated account's deal reader returns every column of its table, so it carries
arbitrary tables here; its date columns are `trading_day` and `day`."""
import datetime as dt
import decimal
import json
import math
import random
import types
import uuid

import pandas as pd
import pytest

import Norvane
from doubles import Answering

DATES = ["trading_day", "day"]
D1, D2 = dt.date(2025, 8, 27), dt.date(2025, 8, 28)


class Rerouted:
    """The local ClickHouse, asked `select` instead of the reader's own statement."""
    def __init__(self, client, select):
        self.client, self.select = client, select

    def query(self, statement):
        return self.client.query(self.select)


def pandas_route(result):
    """pandas 2's answer, also on pandas 3: a decimal is written as its float (pandas 3 writes its
    text); a column of objects stays one."""
    table = pd.DataFrame(result.result_set, columns=result.column_names)
    for position in range(table.shape[1]):
        column = table.iloc[:, position]
        if column.dtype == object and any(isinstance(v, decimal.Decimal) for v in column):
            table.isetitem(position, pd.Series([float(v) if isinstance(v, decimal.Decimal) else v for v in column],
                                               dtype=object, index=table.index))
    for column in DATES:
        table[column] = [None if v is None or v is pd.NaT or (isinstance(v, float) and math.isnan(v)) else str(v)
                         for v in table[column].tolist()]
    return json.loads(table.to_json(orient="records"))


def outcome(convert):
    try:
        return "rows", convert()
    except Exception as error:  # pandas' failures are answers too
        return "error", repr(error)


def module_route(client):
    account = Norvane.Norvane.__new__(Norvane.Norvane)
    account.login = account.connect_tag = 0
    account.account_id, account.client = "sim_rows", client
    record = account.fun_read_deal("20250801", "20250831")
    if record["code"] == 2:
        return "error", record["msg"].split("line_no: ")[0]
    assert record["code"] == 0, record
    return "rows", record["data"]


def assert_same(rows, columns):
    client = Answering(rows, columns)
    expected = outcome(lambda: pandas_route(client.result))
    got = module_route(client)
    # repr tells 1 from 1.0 and True from 1, and keeps the key order.
    assert repr(got) == repr(expected)


SH = dt.timezone(dt.timedelta(hours=8))
TABLES = {
    "integers": [(1,), (-7,), (2**63 - 1,)],
    "integers beyond 64 bits": [(2**64 - 1,), (-1,), (2**70,)],
    "integers with a missing value become floats": [(1,), (None,), (2**53 + 1,)],
    "integers with floats": [(3,), (2.5,)],
    "integers with NaN": [(3,), (float("nan"),)],
    "truth values": [(True,), (False,)],
    "truth values with None": [(True,), (None,)],
    "truth values with integers": [(True,), (1,)],
    "floats with many decimals": [(0.1 + 0.2,), (123456789.123456789,), (1 / 3,), (2 / 3 * 1e6,), (-0.000123456789012,)],
    "floats at the rounding edges": [(0.99999999999,), (5e-11,), (-5e-11,), (1.5e-10,), (1e-15,), (9.9e-16,), (-0.0,)],
    "large floats": [(1e16 - 2,), (1e16,), (9999999999999998.0,), (1.23456789012345e20,), (-3e300,)],
    "NaN, infinities and None": [(float("nan"),), (float("inf"),), (-float("inf"),), (None,)],
    "texts": [("螺纹钢",), ("",), ("é\x00\n\"\\/\u2028😀",), (None,)],
    "texts with numbers": [("a",), (1,), (1.25,)],
    "a lone surrogate": [("\ud800",), ("a",)],
    "dates": [(dt.date(1970, 1, 1),), (dt.date(1969, 12, 31),), (dt.date(2149, 6, 6),), (None,)],
    "dates outside the nanosecond range": [(dt.date(2299, 12, 31),), (None,)],
    "time stamps": [(dt.datetime(2025, 8, 27, 9, 30, 0, 123456),), (dt.datetime(1969, 12, 31, 23, 59, 59, 999500),), (None,)],
    "time stamps with NaN": [(dt.datetime(2025, 8, 27, 9, 30),), (float("nan"),)],
    "aware time stamps": [(dt.datetime(2025, 8, 27, 9, 30, tzinfo=SH),), (dt.datetime(2025, 8, 27, 1, 30, tzinfo=dt.timezone.utc),)],
    "aware and naive time stamps": [(dt.datetime(2025, 8, 27, 9, 30, tzinfo=SH),), (dt.datetime(2025, 8, 27, 9, 30),)],
    "dates and time stamps": [(dt.date(2025, 8, 27),), (dt.datetime(2025, 8, 27, 9, 30),), ("x",)],
    "times of day": [(dt.time(9, 30, 1),), (dt.time(21, 0, 0, 5),)],
    "decimals": [(decimal.Decimal("1.2500"),), (decimal.Decimal("0.123456789012345"),), (None,)],
    "a NaN decimal": [(decimal.Decimal("NaN"),)],
    "bytes": [(b"ab\xc3\xa9",), (b"\xff",)],
    "arrays, tuples and maps": [([1.123456789012345, None, D1],), ((1, "x"),), ({"a": 1.5, 2: [float("nan")]},)],
    "UUIDs": [(uuid.UUID("61f0c404-5cb3-11e7-907b-a6006ad3dba0"),), (None,)],
}


@pytest.mark.parametrize("values", TABLES.values(), ids=TABLES.keys())
def test_values_as_pandas_gives_them(values):
    assert_same([(D1, D2) + row for row in values], DATES + ["value"])


@pytest.mark.parametrize("rows, columns", [
    ([], DATES + ["price"]),                                   # no rows: step 7's empty list
    ([(D1, D2, 1, 2)], DATES + ["price", "price"]),            # repeated names: pandas refuses them
    ([(D1, D2, 1)], DATES),                                    # a row longer than the table
    ([(D1, D2), (D1,)], DATES),                                # rows of different lengths
    ([[D1, D2, "list rows"]], DATES + ["value"]),
    ([(None, D2), (dt.datetime(2025, 8, 27, 21), "text")], DATES),  # date columns of other values
    ([(D1, D2, 1)], DATES + [7]),                              # a column name that is not text
])
def test_table_shapes(rows, columns):
    assert_same(rows, columns)


@pytest.mark.parametrize("seed", range(6))
def test_random_tables(seed):
    rng = random.Random(seed)
    makers = [
        lambda: rng.randint(-10**6, 10**6),
        lambda: rng.choice([rng.randint(-2**63, 2**63 - 1), rng.randint(0, 2**64 - 1)]),
        lambda: round(rng.uniform(-1e4, 1e4), rng.randint(0, 14)),
        lambda: rng.uniform(-1, 1) * 10 ** rng.randint(-18, 18),
        lambda: rng.choice([None, float("nan"), float("inf"), -0.0]),
        lambda: rng.choice([True, False]),
        lambda: rng.choice(["a", "螺纹钢", "é\n\"", ""]),
        lambda: dt.date(rng.randint(1970, 2149), rng.randint(1, 12), rng.randint(1, 28)),
        lambda: dt.datetime(rng.randint(1900, 2200), rng.randint(1, 12), rng.randint(1, 28),
                            rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59), rng.randint(0, 999999)),
        lambda: decimal.Decimal(str(round(rng.uniform(-1e5, 1e5), 6))),
    ]
    for _ in range(150):
        kinds = [rng.sample(makers, rng.randint(1, 3)) for _ in range(rng.randint(0, 5))]
        rows = [(rng.choice([D1, None, dt.datetime(2025, 8, 27, 2)]), D2) + tuple(rng.choice(k)() for k in kinds)
                for _ in range(rng.randint(1, 6))]
        assert_same(rows, DATES + [f"c{i}" for i in range(len(kinds))])


@pytest.mark.parametrize("select", [
    """SELECT toDate('2025-08-27') AS trading_day, toDate32('1960-05-05') AS day,
              toNullable(toInt64(number)) AS n, if(number = 1, NULL, number * 1.1234567890123) AS f,
              toFloat32(1.1) AS f32, nan AS not_a_number, toDecimal64(12.3456, 4) AS money,
              toDateTime('2025-08-27 09:30:00') AS at, toDateTime64('1969-12-31 23:59:59.9995', 4) AS before_epoch,
              toDateTime('2025-08-27 09:30:00', 'Asia/Shanghai') AS at_desk, '螺纹钢' AS product,
              [1.5, 2.123456789012345] AS prices, map('rb', 1) AS volumes, (1, 'x') AS pair,
              toUInt64(18446744073709551615) AS largest, number % 2 = 0 AS even
       FROM system.numbers LIMIT 3""",
    """SELECT toDate('2025-08-27') AS trading_day, toDate('2025-08-28') AS day,
              toUUID('61f0c404-5cb3-11e7-907b-a6006ad3dba0') AS id, toIPv4('10.0.0.1') AS address""",
])
def test_results_of_the_local_clickhouse(norvane_clickhouse_reader, select):
    client = Rerouted(norvane_clickhouse_reader, select)
    expected = outcome(lambda: pandas_route(norvane_clickhouse_reader.query(select)))
    assert repr(module_route(client)) == repr(expected)
