"""Order, deal, position and equity history against the local stack: every record form of the
reading frame, the stored history of real and simulated accounts, and the real-time answers of
the risk platform simulator."""
import time
import types

import pytest

import Norvane
from doubles import Answering
import norvane_sandbox as sandbox
from norvane_sandbox.seed import DEMO

READERS = ["fun_read_order", "fun_read_deal", "fun_read_position", "fun_read_equity"]
HISTORY = READERS[:3]
REALTIME_KEY = {"fun_read_order": "委托", "fun_read_deal": "成交", "fun_read_position": "持仓"}
REFUSED = {"code": 1, "msg": "类初始化失败"}
BAD_DATES = {"code": 2, "msg": "日期格式有误, 请修改后重新执行"}
RISK_FAILED = {"code": 1, "msg": "风控平台实时数据查询失败, 请检查账号信息"}
REALTIME_OK = "查询成功（风控平台实时数据）"
FUNDS = [("available", "可用资金"), ("balance", "账户权益"), ("trading_day", "交易日"),
         ("position_profit", "持仓盈亏"), ("close_profit", "平仓盈亏"), ("commission", "手续费"),
         ("deposit", "入金"), ("withdraw", "出金"), ("pre_balance", "上次权益")]
RISK_HOST = sandbox.endpoints().risk_host


def success(reader, data):
    return {"code": 0, "msg": "success, " if reader == "fun_read_equity" else "success", "data": data}


class NoDatabase:
    """A client for paths that must not reach the database."""
    def query(self, statement):
        raise AssertionError(f"queried: {statement}")


@pytest.fixture
def account(account_object):
    """An account object of the test's own: account("8") a real one, account("s") simulated."""
    def make(prefix="8", account_id=None):
        made = account_object(prefix, account_id=account_id)
        assert made.login == 0
        return made
    return make


@pytest.fixture
def insert(norvane_clickhouse_writer):
    def add(table, columns, *rows):
        values = ", ".join("(" + ", ".join(repr(v) for v in row) + ")" for row in rows)
        norvane_clickhouse_writer.command(f"INSERT INTO {table} ({columns}) VALUES {values}")
    return add


@pytest.fixture
def local_zone(monkeypatch):
    """Sets the process's local time zone (POSIX form, no zone files needed)."""
    def set_to(zone):
        monkeypatch.setenv("TZ", zone)
        time.tzset()
    yield set_to
    monkeypatch.undo()
    time.tzset()


# ---- the frame ------------------------------------------------------------------------------

@pytest.mark.parametrize("reader", READERS)
@pytest.mark.parametrize("dates", [(), ("20250827", "20250829")])
def test_guard_refuses_before_anything_else(account, monkeypatch, reader, dates):
    refused = account("8")
    refused.login, refused.client = 4003, NoDatabase()
    monkeypatch.setattr(Norvane, "query_trader_all_info", NoDatabase().query)
    assert getattr(refused, reader)(*dates) == REFUSED


@pytest.mark.parametrize("reader", READERS)
def test_realtime_data_of_the_simulator(account, velmora, reader):
    real = account(account_id=DEMO["risk_uid"] + "-" + reader)  # the platform knows the first 8
    real.client = NoDatabase()
    answer = velmora.query_trader_all_info(RISK_HOST, "10911",
                                           DEMO["risk_uid"], DEMO["risk_password"])
    record = getattr(real, reader)()
    assert (record["code"], record["msg"]) == (0, REALTIME_OK)
    if reader == "fun_read_equity":
        assert list(record["data"].items()) == \
            [("account_id", DEMO["risk_uid"])] + [(key, answer[field]) for key, field in FUNDS]
    else:
        assert answer[REALTIME_KEY[reader]] and record["data"] == answer[REALTIME_KEY[reader]]


@pytest.mark.parametrize("reader", READERS)
@pytest.mark.parametrize("trader", ["locked", "unknown"])
def test_refused_realtime_login(account, reader, trader):
    if trader == "locked":
        real = Norvane.Norvane(DEMO["risk_locked_account"], DEMO["risk_locked_acquire_info_key"], DEMO["user_id"])
    else:
        real = account("8")
    real.client = NoDatabase()
    assert getattr(real, reader)() == RISK_FAILED


@pytest.mark.parametrize("reader", READERS)
@pytest.mark.parametrize("logged_in, expected_code", [(1, 0), (0, 1), ("", 1)])
def test_realtime_call_and_truth_of_the_login_flag(account, monkeypatch, reader, logged_in, expected_code):
    calls, data = [], object()
    answer = {"登录成功": logged_in, REALTIME_KEY.get(reader, "委托"): data, **{f: n for n, (_, f) in enumerate(FUNDS)}}

    def query_trader_all_info(*args):
        calls.append(args)
        return answer

    monkeypatch.setattr(Norvane, "query_trader_all_info", query_trader_all_info)
    real = account("8")
    real.client = NoDatabase()
    record = getattr(real, reader)(start_date="", end_date="")
    assert calls == [(sandbox.config.client_endpoints().risk_host, "10911", real.account_id[:8], "804317")]
    assert record["code"] == expected_code
    if expected_code == 0 and reader != "fun_read_equity":
        assert record["data"] is data


@pytest.mark.parametrize("reader", READERS)
@pytest.mark.parametrize("answer, error", [(RuntimeError("service down"), RuntimeError),
                                           ({}, KeyError), ({"登录成功": True}, KeyError)])
def test_realtime_errors_reach_the_caller(account, monkeypatch, reader, answer, error):
    def query_trader_all_info(*args):
        if isinstance(answer, Exception):
            raise answer
        return answer

    monkeypatch.setattr(Norvane, "query_trader_all_info", query_trader_all_info)
    with pytest.raises(error):
        getattr(account("8"), reader)()


@pytest.mark.parametrize("reader", READERS)
@pytest.mark.parametrize("prefix, dates", [
    ("8", ("", "20250827")), ("8", ("20250827", "")), ("8", ("2025827", "20250828")),
    ("8", ("20250827", "202508280")), ("s", ("", "")), ("s", ("20250827", "")),
])
def test_dates_must_both_have_eight_characters(account, reader, prefix, dates):
    holder = account(prefix)
    holder.client = NoDatabase()
    assert getattr(holder, reader)(*dates) == BAD_DATES


@pytest.mark.parametrize("reader", READERS)
@pytest.mark.parametrize("dates", [("20250230", "20250301"), ("20250827", "20251301"), ("2025-8-1", "20250801")])
def test_a_date_that_names_no_day_raises(account, reader, dates):
    holder = account("8")
    holder.client = NoDatabase()
    with pytest.raises(ValueError):
        getattr(holder, reader)(*dates)


def test_simulated_accounts_have_no_order_history(account):
    simulated = account("s")
    simulated.client = NoDatabase()
    assert simulated.fun_read_order("20250827", "20250829") == \
        {"code": 2, "msg": "仿真环境暂不提供实时/历史委托查询服务。"}


@pytest.mark.parametrize("reader, prefix, dates", [
    (reader, prefix, dates) for reader in READERS
    for prefix, dates in [("8", ("20250801", "20250831")), ("s", ("20250801", "20250831")),
                          ("seeded", ("20250829", "20250827"))]  # start after end: nothing found
    if (reader, prefix) != ("fun_read_order", "s")])
def test_no_rows_give_an_empty_list(account, reader, prefix, dates):
    if prefix == "seeded":
        holder = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"])
    else:
        holder = account(prefix)
    assert getattr(holder, reader)(*dates) == success(reader, [])


@pytest.mark.parametrize("reader", HISTORY)
@pytest.mark.parametrize("failure, step", [("query", 3), ("missing column", 5)])
def test_caught_error_names_the_step_that_failed(account, reader, failure, step):
    holder = account("8")
    if failure == "query":
        error = RuntimeError("Code: 60. Table does not exist")
        holder.client = Answering(error=error)
    else:
        error = KeyError("day")
        holder.client = Answering([("2025-08-27", "x")], ["trading_day", "instrument_id"])
    assert getattr(holder, reader)("20250827", "20250829") == \
        {"code": 2, "msg": repr(error) + "line_no: " + str(step)}


# ---- stored history -------------------------------------------------------------------------

def stored(insert, table, columns, *rows):
    insert(table, columns, *rows)
    return [dict(zip(columns.split(", "), row)) for row in rows]


ORDER = ("day, trading_day, trading_time, instrument_id, entrust_direction, price, entrust_volume,"
         " deal_volume, exchange_id, entrust_serial_no, entrust_status")
DEAL = ("day, trading_day, trading_time, instrument_id, entrust_direction, price, volume, commission,"
        " exchange_id, product, vendor, product_code, entrust_serial_no, account_id, trade_id")
POSITION = ("day, instrument_id, direction, open_price, average_price, position, exchange_id, account_id,"
            " market_value, vendor, product_code, product")


def test_stored_orders_of_the_range(account, insert):
    real = account("8")
    kept = stored(insert, "trade.is_corderdetail", ORDER + ", account_id",
                  ("2025-08-26", "2025-08-27", "21:01:05", "rb2510", "buy", 3120.125, 2, 2, "SHFE", "E1", "filled", real.account_id),
                  ("2025-08-28", "2025-08-28", "09:03:27", "m2601", "sell", 3050.0, 5, 0, "DCE", "E2", "已撤单", real.account_id))
    insert("trade.is_corderdetail", ORDER + ", account_id",
           ("2025-08-29", "2025-08-30", "09:00:00", "i2601", "buy", 776.0, 1, 1, "DCE", "E3", "filled", real.account_id))
    rows = real.fun_read_order("20250827", "20250829")["data"]
    assert [list(row) for row in rows] == [ORDER.split(", ")] * 2  # eleven keys, `day` first
    assert sorted(rows, key=lambda r: r["entrust_serial_no"]) == \
        [{k: v for k, v in r.items() if k != "account_id"} for r in kept]


def test_a_deal_stored_in_both_tables_is_returned_twice(account, insert):
    real = account("8")
    both = ("2025-08-28", "2025-08-28", "09:02:12", "rb2510", "buy", 3135.0, 1, 3.14, "SHFE", "螺纹钢", "is", "rb", "E1", real.account_id, "T1")
    only = ("2025-08-28", "2025-08-29", "21:03:16", "m2601", "buy", 3042.0, 2, 3.0, "DCE", "豆粕", "idata", "m", "E2", real.account_id, "T2")
    first = stored(insert, "trade.is_cdealdetail", DEAL, both)
    rest = stored(insert, "trade.idata_cdealdetail", DEAL, both, only)
    rows = real.fun_read_deal("20250827", "20250829")["data"]
    assert all(list(row) == DEAL.split(", ") for row in rows)
    assert sorted(rows, key=lambda r: r["trade_id"]) == first + rest


def test_stored_positions_of_every_day_in_the_range(account, insert):
    real = account("8")
    def positions(vendor, *days):
        return [(day, "rb2510", "long", 3125.0, 3125.0, 3, "SHFE", real.account_id, 94200.0, vendor, "rb", "螺纹钢") for day in days]
    expected = (stored(insert, "trade.is_cpositionstatics", POSITION, *positions("is", "2025-08-28", "2025-08-29"))
                + stored(insert, "trade.idata_cpositionstatics", POSITION, *positions("idata", "2025-08-29")))
    insert("trade.is_cpositionstatics", POSITION, *positions("is", "2025-08-27", "2025-08-30"))
    rows = real.fun_read_position("20250828", "20250829")["data"]
    assert sorted(rows, key=lambda r: (r["vendor"], r["day"])) == sorted(expected, key=lambda r: (r["vendor"], r["day"]))


def test_simulated_accounts_read_their_own_tables(account, insert):
    simulated = account("s")
    deals = stored(insert, "simulate.ctp_dealdetail", "trading_day, day, account_id, instrument_id, direction,"
                   " offset_flag, price, volume, trade_id, trading_time",
                   ("2025-08-29", "2025-08-28", simulated.account_id, "m2601", "buy", "open", 3041.0, 4, "S1", "21:03:40"))
    positions = stored(insert, "simulate.ctp_positionstatics", "day, account_id, instrument_id, direction, position,"
                       " open_price, market_value", ("2025-08-29", simulated.account_id, "m2601", "long", 4, 3041.0, 121800.0))
    assert simulated.fun_read_deal("20250829", "20250829") == success("fun_read_deal", deals)
    assert simulated.fun_read_position("20250829", "20250829") == success("fun_read_position", positions)


# ---- equity ---------------------------------------------------------------------------------

SNAPSHOT = "account_id, trading_day, create_time, balance"


def test_equity_keeps_the_latest_snapshot_of_each_day(account, insert, local_zone):
    local_zone("UTC0")
    real = account("8")
    a = real.account_id
    # Separate inserts: the engine's row order is then not the time order.
    for time_of_day, balance in [("11:30:00", 1000210.0), ("15:15:00", 1000150.25), ("09:30:00", 999980.5)]:
        insert("trade.futures_account_daily_snapshot", SNAPSHOT, (a, "2025-08-27", f"2025-08-27 {time_of_day}", balance))
    insert("trade.futures_account_daily_snapshot", SNAPSHOT, (a, "2025-08-28", "2025-08-28 09:30:00", 1000320.0),
           (a, "2025-08-30", "2025-08-30 09:30:00", 1.0))
    record = real.fun_read_equity("20250827", "20250829")
    assert (record["code"], record["msg"]) == (0, "success, ")
    assert sorted(record["data"], key=lambda r: r["trading_day"]) == [
        {"account_id": a, "trading_day": "2025-08-27", "balance": 1000150.25, "update_time": "2025-08-27 15:15:00"},
        {"account_id": a, "trading_day": "2025-08-28", "balance": 1000320.0, "update_time": "2025-08-28 09:30:00"}]


@pytest.mark.parametrize("zone, placeholder, snapshot", [
    ("CST-8", "1970-01-01 08:00:00", "2025-08-28 23:15:00"),   # the desk's zone, east of UTC
    ("EST5", "1969-12-31 19:00:00", "2025-08-28 10:15:00"),    # west of UTC
])
def test_equity_times_are_local_and_trading_days_stay_the_stored_dates(account, insert, local_zone,
                                                                        zone, placeholder, snapshot):
    local_zone(zone)
    holder = account("s")
    a = holder.account_id
    insert("simulate.ctp_product_trend_values", "account_id, trading_day, close_deposit",
           (a, "20250827", 1000412.5), (a, "20250826", 1.0))
    insert("trade.futures_account_daily_snapshot", SNAPSHOT, (a, "2025-08-28", "2025-08-28 15:15:00", 1000455.0))
    record = holder.fun_read_equity("20250827", "20250828")
    assert sorted(record["data"], key=lambda r: r["trading_day"]) == [
        {"account_id": a, "trading_day": "2025-08-27", "balance": 1000412.5, "update_time": placeholder},
        {"account_id": a, "trading_day": "2025-08-28", "balance": 1000455.0, "update_time": snapshot}]


@pytest.mark.parametrize("client, error", [
    (Answering(error=RuntimeError("Code: 60")), RuntimeError("Code: 60")),
    (Answering([("8x", Norvane.datetime.date(2025, 8, 27), 1.0, None)], ["a", "b", "c", "d"]),
     TypeError("unsupported operand type(s) for /: 'NoneType' and 'int'")),
])
def test_equity_errors_are_code_1_without_a_line(account, client, error):
    holder = account("8")
    holder.client = client
    assert holder.fun_read_equity("20250827", "20250829") == {"code": 1, "msg": repr(error)}
