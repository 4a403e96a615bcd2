"""Research data against the local stack: the factor readers on ClickHouse, the trade database
on MariaDB and the post-trade analysis."""
import gc
import os
import types
import uuid

import pandas as pd
import pymysql
import pytest

import Norvane
from doubles import RecordingConnect
from norvane_sandbox.config import READER
from norvane_sandbox.seed import DEMO

BAD_ARGUMENTS = {"code": 1, "msg": "typ 枚举值 {'value'，'weight'}; start_date, end_date -- '20240904' "}
BAD_INPUT = {"code": 2, "msg": "必填字段未定义/格式有误, 请修改后重新执行"}
TABLES = {"value": "other.factor_value_new", "weight": "other.factor_weight_new", "net": "other.factor_net_new"}
READERS = {"factors_value": Norvane.Norvane.factors_value, "factors_value_lhjy": Norvane.Norvane.factors_value_lhjy}
PL_COLUMNS = ["assetacc", "product_name", "commodity", "pl_l", "pl_s", "pl"]


@pytest.fixture
def get_client(monkeypatch):
    def install(query_error=None, **override):
        recorder = RecordingConnect(Norvane.clickhouse_connect.get_client, query_error, **override)
        monkeypatch.setattr(Norvane, "clickhouse_connect", types.SimpleNamespace(get_client=recorder))
        return recorder
    return install


@pytest.fixture
def mysql_connect(monkeypatch):
    def install(**override):
        recorder = RecordingConnect(pymysql.connect, **override)
        monkeypatch.setattr(Norvane, "pymysql", types.SimpleNamespace(connect=recorder))
        return recorder
    return install


class TestFactorReaders:
    @pytest.mark.parametrize("reader", READERS)
    @pytest.mark.parametrize("args", [
        (), ("value",), ("volume", "20250826", "20250828"), ("Value", "20250826", "20250828"),
        ("value", "2025-08-26", "20250828"), ("weight", "20250826", "2025082"), (None, 20250826, 20250828),
    ])
    def test_bad_arguments_are_answered_before_any_connection(self, get_client, reader, args):
        recorder = get_client()
        assert READERS[reader](*args) == BAD_ARGUMENTS
        assert recorder.calls == []

    @pytest.mark.parametrize("reader", READERS)
    def test_a_date_without_a_length_is_a_caught_error(self, norvane_stack, reader):
        assert READERS[reader]("value", 20250826, "20250828") == {
            "code": 1, "msg": "TypeError(\"object of type 'int' has no len()\")"}

    @pytest.mark.parametrize("reader, factors", [
        ("factors_value", set(DEMO["factors"]) | set(DEMO["extra_factors"])),
        ("factors_value_lhjy", set(DEMO["factors"])),
    ])
    @pytest.mark.parametrize("typ", TABLES)
    def test_each_typ_reads_its_table_over_the_inclusive_range(self, norvane_stack, norvane_clickhouse_writer, reader, factors, typ):
        answer = READERS[reader](typ, "20250826", "20250828")
        assert list(answer) == ["code", "data"] and answer["code"] == 0
        table = answer["data"]
        stored = norvane_clickhouse_writer.query(f"SELECT * FROM {TABLES[typ]} WHERE date BETWEEN '20250826' AND '20250828'")
        assert list(table.columns) == list(stored.column_names)
        assert set(table["date"]) == {"20250826", "20250827", "20250828"}
        assert set(table["factor"]) == factors
        expected = [row for row in stored.result_rows if row[1] in factors]
        assert sorted(map(tuple, table.itertuples(index=False))) == sorted(expected)

    @pytest.mark.parametrize("reader", READERS)
    @pytest.mark.parametrize("start, end, dates", [
        ("20250829", "20250829", {"20250829"}),
        ("20250829", "20250825", set()),
        ("2025082!", "20250826", {"20250825", "20250826"}),  # eight characters compared as text
    ])
    def test_bounds_are_compared_as_text(self, norvane_stack, reader, start, end, dates):
        table = READERS[reader]("net", start, end)["data"]
        if dates:
            assert list(table.columns) == ["date", "factor", "net_value"]
            assert set(table["date"]) == dates
        else:
            # The server's HTTP interface sends no column names with an empty result.
            assert table.empty

    def test_each_call_opens_its_own_client_with_the_read_account(self, norvane_stack, get_client):
        recorder = get_client()
        Norvane.Norvane.factors_value("net", "20250829", "20250829")
        Norvane.Norvane.__new__(Norvane.Norvane).factors_value_lhjy("value", "20250829", "20250829")
        expected = [("host", norvane_stack.clickhouse_host), ("port", 23875), ("username", READER.user),
                    ("password", READER.password), ("connect_timeout", 3), ("send_receive_timeout", 10)]
        assert recorder.calls == [expected, expected]
        assert recorder.opened[0] is not recorder.opened[1]

    @pytest.mark.parametrize("reader", READERS)
    @pytest.mark.parametrize("failure", [None, RuntimeError("connection reset")])
    def test_the_client_is_closed_when_the_call_ends(self, norvane_stack, get_client, reader, failure):
        recorder = get_client(query_error=failure)
        answer = READERS[reader]("net", "20250829", "20250829")
        assert answer["code"] == (0 if failure is None else 1)
        assert recorder.closed == recorder.opened and len(recorder.opened) == 1

    def test_repeated_calls_leave_no_descriptor_open(self, norvane_stack):
        def open_descriptors():
            gc.collect()  # an earlier test's garbage may close its socket at any time
            return len(os.listdir("/proc/self/fd"))
        Norvane.Norvane.factors_value("net", "20250829", "20250829")
        before = open_descriptors()
        for _ in range(300):
            assert Norvane.Norvane.factors_value("net", "20250829", "20250829")["code"] == 0
        assert open_descriptors() <= before

    @pytest.mark.parametrize("reader", READERS)
    def test_the_read_account_refused_with_a_wrong_password(self, norvane_stack, get_client, reader):
        get_client(password="not-the-password")
        answer = READERS[reader]("value", "20250826", "20250828")
        assert answer["code"] == 1 and list(answer) == ["code", "msg"]
        assert answer["msg"].startswith("DatabaseError(") and "Authentication failed" in answer["msg"]


@pytest.fixture
def trade_rows(norvane_mysql_writer):
    """Inserts rows into a table of the trade database: trade_rows("trade.t", [{...}, ...])."""
    def insert(table, rows):
        columns = list(rows[0])
        with norvane_mysql_writer.cursor() as cursor:
            cursor.executemany(f"INSERT INTO {table} ({', '.join(columns)}) VALUES"
                               f" ({', '.join(['%s'] * len(columns))})", [[row[c] for c in columns] for row in rows])
    return insert


def returns(day, contract, commodity, assetacc, long, short, fee_long, fee_short):
    return {"trading_day": day, "contract": contract, "commodity": commodity, "assetacc": assetacc,
            "prefee_return_l": long, "prefee_return_s": short, "commission_l": fee_long, "commission_s": fee_short}


@pytest.fixture
def research_account(norvane_stack, register, new_id):
    def make():
        account_id = new_id("r")
        register(account_id, "key")
        return Norvane.Norvane(account_id, "key", "test_user")
    return make


def pl_rows(table):
    assert list(table.columns) == PL_COLUMNS
    return sorted((r.product_name, r.commodity, r.pl_l, r.pl_s, r.pl) for r in table.itertuples())


class TestPostTradeAnalysis:
    def test_sums_per_product_and_commodity_against_hand_computed_figures(
            self, research_account, trade_rows):
        acct = research_account()
        a, saved = acct.account_id, acct.account_id + "-S"
        c1, c2, c3 = (f"c{uuid.uuid4().hex[:8]}" for _ in range(3))
        # c1 listed once, c2 twice (its rows count twice), c3 not at all (its rows still count).
        trade_rows("trade.commodity_info", [{"commodity": c1, "sector_CN": "黑色", "multiplier": 10},
                                            {"commodity": c2, "sector_CN": "农产品", "multiplier": 10},
                                            {"commodity": c2, "sector_CN": "油脂", "multiplier": 10}])
        trade_rows("trade.t_assetacc_info", [
            {"product_name": "P1", "assetacc": a, "assetacc_sum": None, "assetacc_save": None},
            {"product_name": "P2", "assetacc": a, "assetacc_sum": None, "assetacc_save": saved},
            # two rows of one product that differ in assetacc_sum: both are matched
            {"product_name": "P3", "assetacc": a, "assetacc_sum": a + "-X", "assetacc_save": None},
            {"product_name": "P3", "assetacc": a, "assetacc_sum": a + "-Y", "assetacc_save": None},
            {"product_name": "P4", "assetacc": a + "-other", "assetacc_sum": None, "assetacc_save": None},
        ])
        trade_rows("trade.daily_return", [
            returns("2025-08-03", "ab2510", c1, a, 900, 900, 0, 0),        # before the range
            returns("2025-08-04", "ab2510", c1, a, 100, -40, 3, 2),        # first day: 97, -42
            returns("2025-08-05", "ab2510", c1, a, -20, 10, 1, 1),         # -21, 9
            returns("2025-08-05", "ab2510X", c1, a, 1000, 1000, 0, 0),     # seven characters: left out
            returns("2025-08-06", "cd2601", c2, a, 50, 0, 5, 0),           # last day: 45, 0 (twice)
            returns("2025-08-07", "ab2510", c1, a, 900, 900, 0, 0),        # after the range
            returns("2025-08-05", "ab2510", c1, a + "-other", 900, 900, 0, 0),
        ])
        trade_rows("trade.daily_return_fz", [
            returns("2025-08-06", "ab2510", c1, a, 30, -5, 2, 1),          # 28, -6
            returns("2025-08-05", "ef25", c3, a, 7, 3, 1, 1),              # 6, 2
            returns("2025-08-05", "ab2510", c1, saved, 200, 0, 10, 0),     # P2 only: 190, 0
        ])
        answer = acct.post_trade_analysis("20250804", "20250806")
        assert list(answer) == ["code", "data"] and answer["code"] == 0
        table = answer["data"]
        assert set(table["assetacc"]) == {a}
        assert pl_rows(table) == sorted([
            ("P1", c1, 104.0, -39.0, 65.0), ("P1", c2, 90.0, 0.0, 90.0), ("P1", c3, 6.0, 2.0, 8.0),
            ("P2", c1, 190.0, 0.0, 190.0),
            ("P3", c1, 208.0, -78.0, 130.0), ("P3", c2, 180.0, 0.0, 180.0), ("P3", c3, 12.0, 4.0, 16.0),
        ])

    def test_seeded_account_with_two_products(self, norvane_stack):
        acct = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"])
        start, end = DEMO["return_days"]
        table = acct.post_trade_analysis(start, end)["data"]
        # rb: the seven-character contract is left out; i: listed twice in commodity_info.
        per_product = [("i", 1950.0, -106.0, 1844.0), ("m", 294.0, -105.0, 189.0), ("rb", 766.0, 122.0, 888.0)]
        assert pl_rows(table) == sorted((product, *row) for product in DEMO["products"] for row in per_product)

    def test_a_range_without_returns_gives_the_six_columns_and_no_rows(self, norvane_stack):
        acct = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"])
        answer = acct.post_trade_analysis("20200101", "20200131", typ="commodity")
        assert answer["code"] == 0 and list(answer["data"].columns) == PL_COLUMNS and answer["data"].empty

    @pytest.mark.parametrize("typ", ["sector", "Commodity", " commodity"])
    def test_another_typ_gives_an_empty_table_without_touching_the_database(
            self, research_account, mysql_connect, typ):
        acct = research_account()
        recorder = mysql_connect()
        answer = acct.post_trade_analysis("20250804", "20250806", typ)
        assert list(answer) == ["code", "data"] and answer["code"] == 0
        assert answer["data"].equals(pd.DataFrame())
        assert recorder.calls == []

    @pytest.mark.parametrize("args", [("20250804", "20250806", ""), ("2025084", "20250806"),
                                      ("20250804", "2025-08-06"), ("202508041", "20250806")])
    def test_bad_input_is_rejected(self, research_account, mysql_connect, args):
        acct = research_account()
        recorder = mysql_connect()
        assert acct.post_trade_analysis(*args) == BAD_INPUT
        assert recorder.calls == []

    @pytest.mark.parametrize("args", [(20250804, "20250806"), ("20250804", None)])
    def test_a_date_without_a_length_raises_before_the_handler(self, research_account, mysql_connect, args):
        # The argument check runs ahead of the outer handler, so its error reaches the caller.
        acct = research_account()
        recorder = mysql_connect()
        with pytest.raises(TypeError, match="has no len"):
            acct.post_trade_analysis(*args)
        assert recorder.calls == []

    def test_database_failures_are_answered_with_their_representation(self, research_account, mysql_connect):
        acct = research_account()
        mysql_connect(password="not-the-password")
        answer = acct.post_trade_analysis("20250804", "20250806")
        assert list(answer) == ["code", "msg"] and answer["code"] == 1
        assert answer["msg"].startswith("OperationalError(1045, \"Access denied for user 'norvane'@")


class TestTradeDatabase:
    def test_rows_under_the_statements_column_names(self, norvane_stack, mysql_connect):
        recorder = mysql_connect()
        table = Norvane.Norvane.mysql_248(
            "select commodity, multiplier * 2 doubled, sector_CN from trade.commodity_info"
            " where commodity = 'i' order by sector_CN")
        assert list(table.columns) == ["commodity", "doubled", "sector_CN"]
        assert table.values.tolist() == [["i", 200.0, "铁矿石"], ["i", 200.0, "黑色"]]
        assert recorder.calls == [[("host", norvane_stack.mysql_host), ("port", 3306), ("user", "norvane"),
                                   ("password", "mossgrave_5836#"), ("database", "trade"), ("charset", "utf8mb4"),
                                   ("connect_timeout", 3), ("read_timeout", 120), ("write_timeout", 120)]]
        assert not recorder.opened[0].open  # the connection serves one statement

    @pytest.mark.parametrize("sql, error", [
        ("select nothing from trade.no_such_table", pymysql.err.ProgrammingError),
        ("delete from trade.commodity_info", pymysql.err.OperationalError),  # the desk account only reads
        ("do 1", TypeError),  # no result description
    ])
    def test_errors_reach_the_caller_and_the_connection_is_closed(self, norvane_stack, mysql_connect, sql, error):
        recorder = mysql_connect()
        with pytest.raises(error):
            Norvane.Norvane.mysql_248(sql)
        assert not recorder.opened[0].open
