"""Account administration against the local stack: the trading flag switch in the account
register, the risk configuration reader, and Unix time stamps as dates."""
import time
import uuid

import pytest

import Norvane
from doubles import sql
from hostile import HostileInt
from norvane_sandbox.seed import DEMO

OPEN_END = "2500-12-31 00:00:00"
BAD_FLAG = {"code": 2, "msg": "必填字段未定义/格式有误, 请修改后重新执行"}
REFUSED = {"code": 1, "msg": "类初始化失败"}
REGISTER_COLUMNS = ("account_id, account_key, market_value, strategy, trade_flag, acquire_info_key,"
                    " user_id, zip_begindate, zip_enddate, env")


def register_rows(client, account_id):
    """The account's register rows, oldest validity first."""
    return client.query(f"SELECT {REGISTER_COLUMNS} FROM factors.t_account_info"
                        f" WHERE account_id = '{account_id}' ORDER BY zip_begindate, acquire_info_key").result_rows


def open_trading_rows(client, account_id, at):
    """What the readers of the flag see: rows valid at `at` that carry "T"."""
    return client.command(f"SELECT count() FROM factors.t_account_info WHERE account_id = '{account_id}'"
                          f" AND trade_flag = 'T' AND '{at}' >= zip_begindate AND '{at}' <= zip_enddate")


@pytest.fixture
def account(account_object, clock):
    """A usable account object of the test's own, registered with trade flag "T"."""
    def make(key="key", at="2025-08-29 09:30:00", **row):
        clock(at)
        return account_object(prefix="t", key=key, market_value=750000.5, **row)
    return make


class TestTradingFlag:
    @pytest.mark.parametrize("flag, letter", [(False, "F"), (0, "F"), (True, "T"), (1, "T"), (1.0, "T")])
    def test_switch_closes_the_open_row_and_opens_a_copy_with_the_flag(
            self, account, norvane_clickhouse_writer, flag, letter):
        acct = account()
        answer = acct.fun_update_sts(flag)
        assert answer == {"code": 0, "msg": f" 资金账号 {acct.account_id} trade flag is {letter}  2025-08-29 09:30:00 "}
        closed, opened = register_rows(norvane_clickhouse_writer, acct.account_id)
        copied = (acct.account_id, f"ak-{acct.account_id}", 750000.5, "test")
        assert closed == (*copied, "T", "key", "test_user", "2020-01-01 00:00:00", "2025-08-29 09:30:00", "test")
        # The new row takes the table's default env ("prod"), not the old row's.
        assert opened == (*copied, letter, "key", "test_user", "2025-08-29 09:30:00", OPEN_END, "prod")

    def test_round_trip_seen_by_the_readers_and_by_a_new_login(self, account, norvane_clickhouse_writer, clock, capsys):
        acct = account()
        assert open_trading_rows(norvane_clickhouse_writer, acct.account_id, "2025-08-29 09:30:00") == 1
        acct.fun_update_sts(False)
        # The readers include a row's end, so at the switch second itself the closed row still
        # counts; from the next second on only the new one does.
        assert open_trading_rows(norvane_clickhouse_writer, acct.account_id, "2025-08-29 09:30:00") == 1
        assert open_trading_rows(norvane_clickhouse_writer, acct.account_id, "2025-08-29 09:30:01") == 0
        # The flag plays no part in the login: the disabled account still opens an object.
        capsys.readouterr()
        again = Norvane.Norvane(acct.account_id, "key", "test_user")
        assert again.login == 0 and capsys.readouterr().out.splitlines()[-1].startswith("----------连接数据库成功")
        clock("2025-08-29 14:00:05")
        assert acct.fun_update_sts() == {
            "code": 0, "msg": f" 资金账号 {acct.account_id} trade flag is T  2025-08-29 14:00:05 "}
        rows = register_rows(norvane_clickhouse_writer, acct.account_id)
        assert [(r[4], r[7], r[8]) for r in rows] == [
            ("T", "2020-01-01 00:00:00", "2025-08-29 09:30:00"),
            ("F", "2025-08-29 09:30:00", "2025-08-29 14:00:05"),
            ("T", "2025-08-29 14:00:05", OPEN_END)]
        assert open_trading_rows(norvane_clickhouse_writer, acct.account_id, "2025-08-29 14:00:06") == 1
        assert acct.fun_login() is None and acct.login == 0

    @pytest.mark.parametrize("flag", ["T", "True", None, 2, -1, [True]])
    def test_a_flag_that_is_not_true_or_false_writes_nothing(self, account, norvane_clickhouse_writer, flag):
        acct = account()
        before = register_rows(norvane_clickhouse_writer, acct.account_id)
        assert acct.fun_update_sts(flag) == BAD_FLAG
        assert register_rows(norvane_clickhouse_writer, acct.account_id) == before

    def test_statements_in_order_with_quoted_columns_and_typed_values(self, account, norvane_clickhouse_writer,
                                                                       recording):
        acct = account()
        acct.client = recorded = recording(acct.client)
        acct.fun_update_sts(False)
        [(kind1, read), (kind2, close), (kind3, insert)] = recorded.calls
        assert (kind1, kind2, kind3) == ("query", "command", "command")
        assert read.startswith("select account_id,") and f"account_id = '{acct.account_id}'" in read
        assert sql(close) == ("ALTER TABLE factors.t_account_info UPDATE zip_enddate = '2025-08-29 09:30:00'"
                              f" WHERE account_id = '{acct.account_id}' and zip_enddate = '2500-12-31 00:00:00'")
        assert insert == (
            'INSERT into factors.t_account_info ("account_id", "account_key", "market_value", "strategy",'
            ' "trade_flag", "acquire_info_key", "user_id", "zip_begindate", "zip_enddate") values '
            f"('{acct.account_id}', 'ak-{acct.account_id}', 750000.5, 'test', 'F', 'key', 'test_user',"
            " '2025-08-29 09:30:00', '2500-12-31 00:00:00');")

    def test_two_open_rows_under_different_keys_are_both_closed_and_only_ours_reopened(
            self, account, register, norvane_clickhouse_writer):
        acct = account()
        register(acct.account_id, "second-key")
        acct.fun_update_sts(False)
        rows = register_rows(norvane_clickhouse_writer, acct.account_id)
        assert [(r[5], r[4], r[8]) for r in rows] == [
            ("key", "T", "2025-08-29 09:30:00"),
            ("second-key", "T", "2025-08-29 09:30:00"),
            ("key", "F", OPEN_END)]

    def test_without_a_current_row_for_both_identifiers_the_open_rows_still_close(self, account, norvane_clickhouse_writer):
        acct = account()
        acct.acquire_key = "changed-since-login"
        answer = acct.fun_update_sts(False)
        assert answer["code"] == 0 and "trade flag is F" in answer["msg"]
        [row] = register_rows(norvane_clickhouse_writer, acct.account_id)
        assert row[8] == "2025-08-29 09:30:00"

    def test_a_failing_insert_reaches_the_caller_with_the_open_rows_already_closed(
            self, account, norvane_clickhouse_writer, recording):
        acct = account()

        def inserts_fail(name, sql, *args):
            if sql.startswith("INSERT"):
                raise ConnectionError("connection to the database lost")

        acct.client = recording(acct.client, before=inserts_fail)
        with pytest.raises(ConnectionError):
            acct.fun_update_sts(False)
        # Not atomic: the close stays done and the account has no open row until repaired.
        [row] = register_rows(norvane_clickhouse_writer, acct.account_id)
        assert (row[4], row[8]) == ("T", "2025-08-29 09:30:00")

    def test_an_account_id_held_as_a_number_is_written_by_its_value(
            self, norvane_stack, register, clock, norvane_clickhouse_writer, recording):
        number = 88 * 10**10 + uuid.uuid4().int % 10**10
        register(str(number), "key")
        clock("2025-08-29 09:30:00")
        acct = Norvane.Norvane(HostileInt(number), "key", "test_user")
        acct.client = recording(acct.client)
        acct.fun_update_sts(False)
        assert [sql.count(f"'{number}'") for _, sql in acct.client.calls] == [1, 1, 1]
        assert [row[4] for row in register_rows(norvane_clickhouse_writer, number)] == ["T", "F"]

    def test_refused_object_writes_nothing(self, account, norvane_clickhouse_writer):
        acct = account()
        acct.login = 4003
        before = register_rows(norvane_clickhouse_writer, acct.account_id)
        assert acct.fun_update_sts(False) == REFUSED
        assert acct.fun_read_info() == REFUSED
        assert register_rows(norvane_clickhouse_writer, acct.account_id) == before

def server_time(client, shift_seconds):
    return client.command(f"SELECT toString(now() + {shift_seconds})")


class TestRiskConfiguration:
    def test_rows_in_force_by_the_servers_clock(self, norvane_stack, account, norvane_clickhouse_writer, new_id, clock):
        acct = account()
        category = new_id("cat")
        past, soon, later = (server_time(norvane_clickhouse_writer, s) for s in (-3600, 3600, 7200))
        rows = [("in_force", 1.0, 1, past, soon), ("open", 2.5, 1, "2020-01-01 00:00:00", OPEN_END),
                ("not_valid", 3.0, 0, past, OPEN_END), ("not_yet", 4.0, 1, soon, later),
                ("ended", 5.0, 1, "2020-01-01 00:00:00", past),
                ("twice", 6.0, 1, past, OPEN_END), ("twice", 7.0, 1, past, OPEN_END)]
        # One insert keeps the rows in one part, so the engine returns them in this order.
        norvane_clickhouse_writer.command("INSERT INTO factors.risk_config VALUES " + ", ".join(
            f"('{category}', '{name}', {amount}, {valid}, '{begin}', '{end}')"
            for name, amount, valid, begin, end in rows))
        clock("1999-01-01 00:00:00")  # the local clock plays no part
        answer = acct.fun_read_info(category)
        assert answer == {"code": 0, "msg": "success", "data": {"in_force": 1.0, "open": 2.5, "twice": 7.0}}
        assert list(answer["data"]) == ["in_force", "open", "twice"]

    def test_a_database_error_is_answered_with_its_representation(self, account):
        acct = account()

        class Unreachable:
            def query(self, sql):
                raise ConnectionError("server unreachable")

        acct.client = Unreachable()
        assert acct.fun_read_info() == {"code": 1, "msg": "ConnectionError('server unreachable')"}

    @pytest.mark.parametrize("category, expected", [
        (DEMO["min_open_category"], {"rb": 1.0, "i": 1.0, "m": 2.0}),
        (DEMO["max_open_category"], {"rb": 200.0, "i": 150.0}),
        ("no such category", {}),
        ("x' or '1'='1", {}),
    ])
    def test_seeded_categories(self, norvane_stack, category, expected):
        acct = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"])
        if category == DEMO["min_open_category"]:
            assert acct.fun_read_info() == acct.fun_read_info(category)
        assert acct.fun_read_info(category) == {"code": 0, "msg": "success", "data": expected}

@pytest.fixture(params=["UTC", "Asia/Shanghai", "America/New_York", "Pacific/Kiritimati"])
def local_zone(request, monkeypatch):
    monkeypatch.setenv("TZ", request.param)
    time.tzset()
    yield request.param
    monkeypatch.undo()
    time.tzset()


@pytest.mark.parametrize("stamp, date", [
    (0, "1970-01-01"), (1.5, "1970-01-01"), (-1, "1969-12-31"),
    (1756425599, "2025-08-28"), (1756425600, "2025-08-29"), (1756425599.999, "2025-08-28"),
    (True, "1970-01-01"),
])
def test_unix_time_stamps_give_the_utc_date_in_any_zone(local_zone, stamp, date):
    assert Norvane.Norvane.unix_to_datetime(stamp) == date
    assert Norvane.Norvane.__new__(Norvane.Norvane).unix_to_datetime(stamp) == date


@pytest.mark.parametrize("stamp", ["1756425600", None])
def test_unix_time_stamp_of_the_wrong_type_raises(stamp):
    with pytest.raises(TypeError):
        Norvane.Norvane.unix_to_datetime(stamp)


@pytest.mark.parametrize("name, signature, static", [
    ("unix_to_datetime", "(unix_timestamp)", True),
    ("fun_update_sts", "(self, /, trade_flag=True)", False),
    ("fun_read_info", "(self, /, info='单笔最小开仓量')", False),
    ("factors_value", "(typ='', start_date='', end_date='')", True),
    ("mysql_248", "(sql)", True),
    ("post_trade_analysis", "(self, /, start_date, end_date, typ='commodity')", False),
    ("factors_value_lhjy", "(typ='', start_date='', end_date='')", True),
])
def test_method_table_entries(name, signature, static):
    import inspect
    raw = Norvane.Norvane.__dict__[name]
    assert isinstance(raw, staticmethod) == static
    assert str(inspect.signature(getattr(Norvane.Norvane, name))) == signature
