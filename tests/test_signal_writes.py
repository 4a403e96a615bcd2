"""What the writing methods leave on the stack, byte for byte, and what it costs in round trips."""
import contextlib
import json
import subprocess
import sys
import threading
import time
from collections import Counter
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

import Norvane
import uploader
from norvane_sandbox.clients import redis_client

DAY = "20991203"
STORED = Path(__file__).with_name("data") / "stored_writes.json"


def mixed(values):
    """A column that keeps each value's own type (numpy scalars, ints and floats side by side)."""
    return pd.Series(values, dtype=object)


def desk_day(trader, clock):
    """A day of a desk's writes: an upload, a revision, a continuous-holding addition, TWAP
    settings and the trading flag switched off and on."""
    clock("2099-12-03 09:30:00")
    trader.fun_update_signal(pd.DataFrame({
        "trading_day": [DAY] * 5,
        "contract": ["rb2601", "螺纹2601", "a'b", "c\\d", "k5"],
        "position": mixed([1.5, 0, 123456789.125, 1e-07, np.int64(3)]),
        "direction": ["L", "S", "L", "S", "L"],
        "signal_date": ["早盘", "", "x'y", "", "2099-12-02"],
        "order_typ": ["call_auction", "intraday_trading", "before_close", "call_auction", "call_auction"],
        "trade_time": ["D", "N", "", "D", ""],
        "feature": mixed([0, 1, np.int64(0), 1, 0]),
        "ignored": ["z"] * 5}), use_redis=True)
    clock("2099-12-03 09:31:00")
    trader.fun_update_signal(pd.DataFrame({
        "trading_day": [DAY] * 3, "contract": ["rb2601", "螺纹2601", "c\\d"],
        "position": mixed([np.float64(2.25), 7, 1e21]), "direction": ["S", "S", "L"],
        "order_typ": ["call_auction"] * 3, "feature": mixed([0.0, 1.0, 0.0])}), use_redis=True)
    clock("2099-12-03 09:32:00")
    trader.fun_update_signal(pd.DataFrame({
        "trading_day": [float(DAY)] * 2, "contract": ["k8", "k9"], "position": [4.0, 0.1],
        "direction": ["L", "S"], "order_typ": ["before_close"] * 2, "feature": [1, 0]}),
        continuous_holding=True)
    trader.fun_update_TWAP_info(pd.DataFrame({
        "commodity": ["ag", "Rb", "cu"], "if_twap": [1, 0, 2], "time_gap": mixed([30, 0.5, 1]),
        "volume": mixed([5, np.float64(2.25), 1]), "extra": [1, 2, 3]}))
    clock("2099-12-03 09:33:00")
    trader.fun_update_sts(False)
    clock("2099-12-03 09:34:00")
    trader.fun_update_sts(True)


def stored_state(norvane_clickhouse_writer, trader):
    """Every row and hash field the account and its copy account hold, ids replaced by names."""
    ids = {trader.account_id: "<account>", trader.copy_account_id: "<copy>"}

    def named(text):
        for account_id, name in ids.items():
            text = text.replace(account_id, name)
        return text

    def rows(table, where):
        return sorted(named(norvane_clickhouse_writer.raw_query(
            f"SELECT * FROM {table} WHERE {where} FORMAT TabSeparated").decode()).splitlines())

    accounts = ", ".join(f"'{account_id}'" for account_id in ids)
    fields = redis_client("redis-test").hgetall(DAY)
    return {
        "signals": rows("factors.t_order_dtl", f"account_id in ({accounts})"),
        "twap": rows("factors.TWAP_config", f"account_id in ({accounts})"),
        "register": rows("factors.t_account_info", f"account_id in ({accounts})"),
        "hash": sorted(named(f"{name} = {value}") for name, value in fields.items()
                       if name.split("_")[0] in ids),
    }


def test_a_desk_day_stores_exactly_the_recorded_rows_and_fields(account_object, norvane_clickhouse_writer, clock):
    trader = account_object(copy=True, market_value=750000.5)
    desk_day(trader, clock)
    # The file is the reviewed oracle, edited by hand when a stored byte is meant to change.
    assert stored_state(norvane_clickhouse_writer, trader) == json.loads(STORED.read_text())


# ---- round trips and the upload lock ------------------------------------------------------------------------

def test_an_upload_costs_the_same_round_trips_for_10_and_1000_rows(norvane_new_account, recording):
    def revision_calls(rows):
        trader = Norvane.Norvane(*norvane_new_account(copy=True).args)
        trader.fun_update_signal(uploader.table("c", rows), use_redis=True)
        calls = []
        for name in ("client", "redis_conn", "copy_redis_conn"):
            setattr(trader, name, recording(getattr(trader, name), calls))
        trader.fun_update_signal(uploader.table("c", rows - 1), use_redis=True)  # one field goes stale
        return [call[0] for call in calls]

    few, many = Counter(revision_calls(10)), Counter(revision_calls(1000))
    assert few == many and few["command"] == 4 and few["hset"] == 4


def run_uploader(account, prefix, rows, start, *extra):
    return subprocess.Popen([sys.executable, uploader.__file__, *account.args[:3], prefix, str(rows),
                             str(start), *extra], stdout=subprocess.PIPE, text=True)


def day_of(norvane_clickhouse_writer, account_id):
    """The upload day's live rows and hash fields of an account, each as {contract: position}."""
    rows = norvane_clickhouse_writer.query(
        "SELECT contract, position FROM factors.t_order_dtl WHERE account_id = {id:String}"
        " AND trading_day = {day:String} AND delete_tag IS NULL",
        parameters={"id": account_id, "day": uploader.DAY}).result_rows
    live = dict(rows)
    assert len(live) == len(rows), "a contract is live twice"
    fields = {name.split("_", 1)[1]: json.loads(record)["position"]
              for name, record in redis_client("redis-test").hgetall(uploader.DAY).items()
              if name.startswith(f"{account_id}_")}
    return live, fields


def table_of(prefix, rows):
    return {f"{prefix}{i:03d}": float(i) for i in range(rows)}


def test_uploads_that_meet_leave_the_day_holding_one_of_them_whole(norvane_new_account, norvane_clickhouse_writer):
    account = norvane_new_account(copy=True)
    start = time.time() + 3  # both have logged in by then
    jobs = [run_uploader(account, prefix, 50, start) for prefix in ("a", "b")]
    answers = [json.loads(job.communicate(timeout=60)[0].splitlines()[-1]) for job in jobs]
    assert [answer.get("code") for answer in answers] == [0, 0], answers
    live, fields = day_of(norvane_clickhouse_writer, account.id)
    assert live == fields and live in (table_of("a", 50), table_of("b", 50))
    assert day_of(norvane_clickhouse_writer, account.copy_id) == (live, fields)


def test_an_uploader_killed_mid_upload_holds_the_day_for_at_most_its_lock_expiry(norvane_new_account, norvane_clickhouse_writer,
                                                                          recording):
    account = norvane_new_account()
    job = run_uploader(account, "k", 20, 0, "hold")
    for line in job.stdout:
        if line.strip() == "holding":  # lock taken, hash written, the first statement under way
            break
    job.kill()
    job.wait()
    trader = Norvane.Norvane(*account.args)
    tries = []  # when the upload asked for the lock
    trader.redis_conn = recording(trader.redis_conn, before=lambda name, *args: name == "set" and
                                  tries.append(time.monotonic()))
    began = time.monotonic()
    assert trader.fun_update_signal(uploader.table("s", 5), use_redis=True)["code"] == 0
    assert len(tries) > 1 and tries[-1] - began < 2 + 0.5
    assert day_of(norvane_clickhouse_writer, account.id) == (table_of("s", 5), table_of("s", 5))


def test_an_upload_that_does_not_get_the_lock_raises_and_writes_nothing(norvane_new_account, norvane_clickhouse_writer,
                                                                         norvane_redis_writer, monkeypatch):
    account = norvane_new_account()
    trader = Norvane.Norvane(*account.args)
    lock = f"norvane:upload:{uploader.DAY}:{account.id}"
    norvane_redis_writer.set(lock, "another job", px=10000)
    monkeypatch.setattr(Norvane, "_upload_wait_seconds", 0.3)
    with pytest.raises(TimeoutError, match=f"account {account.id}, trading day {uploader.DAY}: the day.s upload lock stayed taken"):
        trader.fun_update_signal(uploader.table("s", 5), use_redis=True)
    assert day_of(norvane_clickhouse_writer, account.id) == ({}, {})
    assert norvane_redis_writer.get(lock) == "another job" and trader.update_df.empty


@pytest.mark.parametrize("frozen_at", ["the account's retire", "the copy account's retire"])
def test_a_clickhouse_stall_longer_than_the_lock_lets_no_second_upload_in(
        norvane_new_account, norvane_clickhouse_writer, norvane_outage, recording, monkeypatch, frozen_at):
    # The first upload's statement meets a frozen ClickHouse; a second upload comes while it is
    # under way, and the database answers again only after the first upload's lock would have
    # lapsed. The first gives its statement up within half the expiry and keeps the lock to its
    # expiry; the second then stores the day alone, and its success is true.
    monkeypatch.setattr(Norvane, "_upload_expiry_seconds", 4)
    account = norvane_new_account(copy=True)
    first, second = Norvane.Norvane(*account.args), Norvane.Norvane(*account.args)
    assert first.fun_update_signal(uploader.table("p", 5), use_redis=True)["code"] == 0
    frozen, stall, answers, renewals = threading.Event(), contextlib.ExitStack(), {}, []

    def freeze(name, *args):
        if name == "eval" and len(args) == 5:  # a renewal (script, 1, key, token, expiry): before a write
            renewals.append(args[2])
            if len(renewals) == 4:  # two hash passes and the cleanup done: the retire comes next
                stall.enter_context(norvane_outage("clickhouse", how="frozen"))
                frozen.set()

    def upload(name, trader, prefix):
        try:
            answers[name] = trader.fun_update_signal(uploader.table(prefix, 5), use_redis=True)
        except Exception as error:  # noqa: BLE001 - what the desk's job would see
            answers[name] = error

    lock_redis = "redis_conn" if frozen_at == "the account's retire" else "copy_redis_conn"
    setattr(first, lock_redis, recording(getattr(first, lock_redis), before=freeze))
    jobs = [threading.Thread(target=upload, args=("first", first, "a"))]
    jobs[0].start()
    assert frozen.wait(30)
    time.sleep(3.5)  # the first has given its statement up (2 s) and still holds the day
    jobs.append(threading.Thread(target=upload, args=("second", second, "b")))
    jobs[1].start()
    time.sleep(1.0)  # past the first upload's expiry
    stall.close()
    for job in jobs:
        job.join(60)
    assert isinstance(answers["first"], Exception) and answers["second"]["code"] == 0, answers
    assert day_of(norvane_clickhouse_writer, account.id) == (table_of("b", 5), table_of("b", 5))
    assert day_of(norvane_clickhouse_writer, account.copy_id) == (table_of("b", 5), table_of("b", 5))


@pytest.mark.parametrize("second_account_replicated", ["before its own copy step", "after it"])
def test_another_accounts_copy_step_within_an_upload_writes_its_own_copy_account(
        norvane_new_account, norvane_clickhouse_writer, second_account_replicated):
    # A desk's override replicates a second account's table from within the first account's copy
    # step; each copy account gets its own account's rows, whatever the order.
    first, second = (Norvane.Norvane(*norvane_new_account(copy=True).args) for _ in range(2))
    replicate_first = first.fun_replicate_save

    def replicate_both(tmp_mat, continuous_holding):
        if second_account_replicated == "after it":
            replicate_first(tmp_mat, continuous_holding)
        second.fun_replicate_save(second_table, False)
        if second_account_replicated != "after it":
            replicate_first(tmp_mat, continuous_holding)
        return 0

    first.fun_replicate_save = replicate_both
    second_table = uploader.table("b", 3).assign(account_id=second.account_id, user_id="u", create_time="t",
                                                 update_time="t", data_source="clickhouse", signal_date="",
                                                 trade_time="D", feature=0)
    assert first.fun_update_signal(uploader.table("a", 4), use_redis=True)["code"] == 0
    assert day_of(norvane_clickhouse_writer, first.account_id) == (table_of("a", 4),) * 2
    assert day_of(norvane_clickhouse_writer, first.copy_account_id) == (table_of("a", 4),) * 2
    assert day_of(norvane_clickhouse_writer, second.copy_account_id) == (table_of("b", 3),) * 2
    assert day_of(norvane_clickhouse_writer, second.account_id) == ({}, {})


@pytest.mark.parametrize("expiry, stored", [(0.005, False), (0.999, False), (1, True)])
def test_a_lock_expiry_too_short_for_a_round_trip_is_refused_before_any_write(
        norvane_new_account, norvane_clickhouse_writer, monkeypatch, expiry, stored):
    # bench/signal_upload.py: a statement takes up to about 55 ms on a busy machine; 1 s
    # (0.5 s per statement) is the shortest expiry taken.
    monkeypatch.setattr(Norvane, "_upload_expiry_seconds", expiry)
    account = norvane_new_account(copy=True)
    trader = Norvane.Norvane(*account.args)
    if stored:
        assert trader.fun_update_signal(uploader.table("s", 5), use_redis=True)["code"] == 0
    else:
        with pytest.raises(ValueError, match=fr"fun_update_signal: attribute Norvane\._upload_expiry_seconds: must be "
                                             fr"a number of seconds from 1 to 86400, not {expiry}$"):
            trader.fun_update_signal(uploader.table("s", 5), use_redis=True)
    for account_id in (account.id, account.copy_id):
        assert day_of(norvane_clickhouse_writer, account_id) == ((table_of("s", 5),) * 2 if stored else ({}, {}))
