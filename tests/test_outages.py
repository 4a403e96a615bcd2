"""Services going away under a desk script, arranged with the stack's own `outage` fixture:
the caller gets an error or an error record in bounded time, and nothing is lost."""
import contextlib
import re
import time

import pandas as pd
import pytest
import redis as redis_library
from clickhouse_connect.driver.exceptions import OperationalError

import Norvane
from norvane_sandbox.seed import DEMO

DAY = "20991204"
# Every Redis command answers or fails within the socket time-out (3 s), on every supported
# redis-py: a time-out is never repeated, a refused connection once at once. A call meets at
# most one frozen command before it fails: the README promises 10 s.
REDIS_BOUND = 10
# The risk platform library gives up after its own time-out (5 s).
RISK_BOUND = 15
# A frozen ClickHouse: 15 s of silence ends any request (10 s while a client opens).
CLICKHOUSE_BOUND = 15
TWAP = {"commodity": ["ag"], "if_twap": [1], "time_gap": [30], "volume": [5]}


def signals(count, position=1.0):
    return pd.DataFrame({"trading_day": [DAY] * count, "contract": [f"c{i:03d}" for i in range(count)],
                         "position": [position] * count, "direction": ["L"] * count,
                         "order_typ": ["call_auction"] * count})


def live_rows(norvane_clickhouse_reader, account_id):
    return norvane_clickhouse_reader.query(
        "SELECT contract, count() FROM factors.t_order_dtl WHERE account_id = {id:String}"
        " AND delete_tag IS NULL GROUP BY contract", parameters={"id": account_id}).result_rows


def test_clickhouse_down_between_retire_and_insert(norvane_account, norvane_outage, norvane_clickhouse_reader, recording):
    trader = Norvane.Norvane(*norvane_account.args)
    assert trader.fun_update_signal(signals(300, position=1.0))["code"] == 0
    table = signals(300, position=2.0)
    client = trader.client
    with contextlib.ExitStack() as during:  # its end brings the service back
        def take_down_after_the_retire(name, *args):
            if len(trader.client.calls) == 2:
                during.enter_context(norvane_outage("clickhouse"))

        trader.client = recording(client, before=take_down_after_the_retire)
        with pytest.raises(OperationalError):
            trader.fun_update_signal(table)
    assert [statement[:6] for _, statement in trader.client.calls] == ["ALTER ", "INSERT"]
    trader.client = client
    repeat = trader.fun_update_signal(table)
    assert repeat["code"] == 0 and repeat["msg"].startswith("输入300, 有效300 ")
    assert sorted(live_rows(norvane_clickhouse_reader, norvane_account.id)) == [(f"c{i:03d}", 1) for i in range(300)]
    retired = norvane_clickhouse_reader.command("SELECT count() FROM factors.t_order_dtl WHERE account_id ="
                                        f" '{norvane_account.id}' AND delete_tag = 2")
    assert retired == 300  # the first upload; nothing of the failed insert got in
    positions = {row["contract"]: row["position"] for row in trader.fun_read_signal(DAY, DAY)["data"]}
    assert set(positions.values()) == {2.0} and len(positions) == 300


def test_redis_down_fails_in_bounded_time_and_loses_nothing(norvane_account, norvane_outage, norvane_clickhouse_reader):
    trader = Norvane.Norvane(*norvane_account.args)
    table = signals(3)
    with norvane_outage("redis"):
        began = time.monotonic()
        with pytest.raises(redis_library.ConnectionError):
            trader.fun_update_signal(table, use_redis=True)
        record = trader.fun_redis_position()
        elapsed = time.monotonic() - began
    assert record["code"] == 1 and "ConnectionError" in record["msg"]
    assert elapsed < 2 * REDIS_BOUND
    assert live_rows(norvane_clickhouse_reader, norvane_account.id) == []  # the hash failed first: nothing written
    assert trader.fun_update_signal(table, use_redis=True)["code"] == 0
    assert sorted(live_rows(norvane_clickhouse_reader, norvane_account.id)) == [(f"c{i:03d}", 1) for i in range(3)]


@pytest.mark.parametrize("call", ["constructor", "upload", "live view"])
def test_a_frozen_redis_fails_a_call_within_its_bound(norvane_account, norvane_outage, norvane_clickhouse_reader, call):
    trader = Norvane.Norvane(*norvane_account.args)
    calls = {"constructor": lambda: Norvane.Norvane(*norvane_account.args),
             "upload": lambda: trader.fun_update_signal(signals(3), use_redis=True),
             "live view": trader.fun_redis_position}
    with norvane_outage("redis", how="frozen"):
        began = time.monotonic()
        try:
            answer = calls[call]()
        except redis_library.TimeoutError as error:
            answer = error
        elapsed = time.monotonic() - began
    assert elapsed < REDIS_BOUND
    assert isinstance(answer, redis_library.TimeoutError) or (answer["code"] == 1 and "TimeoutError" in answer["msg"])
    assert live_rows(norvane_clickhouse_reader, norvane_account.id) == []  # the lock failed first: nothing written
    answer = trader.fun_redis_position()["msg"]  # Redis answers again (this account has no positions)
    assert "TimeoutError" not in answer and "ConnectionError" not in answer


@pytest.mark.parametrize("how", ["down", "frozen"])
def test_risk_service_unreachable_is_a_clear_error(norvane_stack, norvane_outage, velmora, how):
    trader = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"])
    with norvane_outage("risk", how=how):
        began = time.monotonic()
        with pytest.raises(velmora.RiskServiceUnavailable, match=f"{re.escape(norvane_stack.risk_host)}:10911 unavailable"):
            trader.fun_read_deal()
        elapsed = time.monotonic() - began
    assert elapsed < RISK_BOUND
    assert trader.fun_read_deal()["code"] == 0


@pytest.mark.parametrize("call", [
    lambda trader: trader.fun_read_signal(DAY, DAY),
    lambda trader: trader.fun_delete_signal(DAY, "call_auction", "09:00:00"),
    lambda trader: trader.fun_update_TWAP_info(TWAP),
    lambda trader: trader.fun_update_sts(False),
    lambda trader: trader.fun_back_to_default_split_mode(),
    lambda trader: Norvane.Norvane.factors_value("net", "20250829", "20250829"),
], ids=["read", "deletion", "TWAP settings", "trading flag", "split-mode log", "factor reader"])
def test_a_frozen_clickhouse_fails_a_call_within_its_bound(norvane_account, norvane_outage, call):
    trader = Norvane.Norvane(*norvane_account.args)
    with norvane_outage("clickhouse", how="frozen"):
        began = time.monotonic()
        try:
            answer = call(trader)
        except Exception as error:  # noqa: BLE001 - a raised error or an error record: both are answers
            answer = error
        elapsed = time.monotonic() - began
    assert elapsed < CLICKHOUSE_BOUND + 3
    assert isinstance(answer, Exception) or answer["code"] != 0


def test_a_long_query_outlasts_the_silence_bound_and_a_late_error_is_raised(norvane_stack):
    trader = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"])
    began = time.monotonic()
    rows = trader.client.query("SELECT number, sleepEachRow(0.5) FROM numbers(40)"
                               " SETTINGS max_block_size = 1").result_rows
    assert time.monotonic() - began > CLICKHOUSE_BOUND  # the gateway's progress headers kept it alive
    assert [row[0] for row in rows] == list(range(40))
    # An error after the progress headers: a status 200 with the error's code, raised by the client.
    with pytest.raises(Exception, match="throwIf"):
        trader.client.query("SELECT number, sleepEachRow(0.5), throwIf(number = 14) FROM numbers(20)"
                            " SETTINGS max_block_size = 1")


class LateFailure:
    """A client of clickhouse-connect before 0.8.4 meeting a server that failed after its progress
    headers: `command` returns the error text as the statement's result."""

    def __init__(self, client):
        self.client = client

    def __getattr__(self, name):
        return getattr(self.client, name)

    def command(self, *args, **kwargs):
        return "Code: 241. DB::Exception: Memory limit (total) exceeded. (MEMORY_LIMIT_EXCEEDED)"


@pytest.mark.parametrize("call", [
    lambda trader: trader.fun_update_TWAP_info(TWAP),
    lambda trader: trader.fun_update_sts(False),
    lambda trader: trader.fun_update_signal(signals(3)),
], ids=["TWAP settings", "trading flag", "upload"])
def test_a_failure_a_client_returns_as_a_result_is_raised(norvane_account, call):
    trader = Norvane.Norvane(*norvane_account.args)
    trader.client = LateFailure(trader.client)
    try:
        answer = call(trader)
    except Exception as error:  # noqa: BLE001 - a raised error or an error record: both are answers
        answer = {"code": type(error).__name__, "msg": str(error)}
    assert answer["code"] != 0 and "MEMORY_LIMIT_EXCEEDED" in answer["msg"]
