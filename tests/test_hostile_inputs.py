"""What a hostile caller can hand the writing methods and the readers, a case per kind of attack:
each payload ends in a clear error (or its method's record) with the stores unchanged, or is
stored by its plain value; no statement or key ever carries a caller's own text."""
import datetime as real_datetime
import fractions
import json
import sys
import types

import pandas as pd
import pytest

import Norvane
from norvane_sandbox.clients import redis_client

DAY = "20991206"
PAYLOAD = "PAYLOAD"


class Sly(str):
    """A text whose __str__ and __repr__ say something else."""
    def __str__(self):
        return f"x\") SELECT '{PAYLOAD}'"

    __repr__ = __str__


def signals(contracts, **columns):
    table = {"trading_day": [DAY] * len(contracts), "contract": list(contracts),
             "position": [1.0] * len(contracts), "direction": ["L"] * len(contracts),
             "order_typ": ["call_auction"] * len(contracts)}
    table.update(columns)
    return pd.DataFrame(table)


@pytest.fixture
def desk(account_object, norvane_clickhouse_writer, recording):
    """A real account with a copy account, its clients recorded, and what it has stored."""
    trader = account_object(copy=True)
    calls = []
    for name in ("client", "redis_conn", "copy_redis_conn"):
        setattr(trader, name, recording(getattr(trader, name), calls))

    ids = (trader.account_id, trader.copy_account_id)

    def stored():
        rows = {table: sorted(norvane_clickhouse_writer.query(
            f"SELECT * FROM {table} WHERE account_id IN {ids}").result_rows, key=repr)
            for table in ("factors.t_order_dtl", "factors.TWAP_config")}
        fields = {name: value for name, value in redis_client("redis-test").hgetall(DAY).items()
                  if name.startswith(ids)}
        return rows, fields, redis_client("redis-test").hget("split_mode", trader.account_id)

    def refused(call, error, match):
        before = stored()
        with pytest.raises(error, match=match):
            call()
        assert stored() == before

    def live(account_id):
        """The day's live rows and hash fields of an account: {contract: (position, feature)}."""
        rows = norvane_clickhouse_writer.query(
            "SELECT contract, position, feature FROM factors.t_order_dtl WHERE account_id = {id:String}"
            " AND trading_day = {day:String} AND delete_tag IS NULL",
            parameters={"id": account_id, "day": DAY}).result_rows
        fields = {name[len(account_id) + 1:]: (record["position"], record["feature"])
                  for name, record in ((n, json.loads(v)) for n, v in redis_client("redis-test").hgetall(DAY).items())
                  if name.startswith(f"{account_id}_") and record["account_id"] == account_id}
        return {contract: (position, feature) for contract, position, feature in rows}, fields

    yield types.SimpleNamespace(trader=trader, calls=calls, refused=refused, live=live)
    assert PAYLOAD not in repr(calls), "a caller's own text reached a statement or a key"


def caller_names_in_statements(d):
    table = signals(["k1"]).rename(columns={"trading_day": Sly("trading_day")})
    assert d.trader.fun_update_signal(table, use_redis=True)["code"] == 0
    assert d.trader.fun_replicate_save(signals(["k2"]).assign(**{
        'x") SELECT 1 --': [PAYLOAD], "account_id": "", "user_id": "u", "create_time": "t",
        "update_time": "t", "data_source": "clickhouse", "signal_date": "", "trade_time": "",
        "feature": 0}), False) == 0
    twap = pd.DataFrame({Sly("commodity"): ["ag"], "if_twap": [1], "time_gap": [1], "volume": [1]})
    assert d.trader.fun_update_TWAP_info(twap)["code"] == 0
    assert d.live(d.trader.account_id)[0] == {"k1": (1.0, 0)}


def another_accounts_data(d):
    d.refused(lambda: d.trader.fun_update_signal(signals(["k1"], trading_day=["split_mode"]), use_redis=True),
              ValueError, "column trading_day, row 0: a trading day must be eight digits")
    # An identity given as a str subclass is its own characters everywhere, whatever its __str__.
    sly = Norvane.Norvane(Sly(d.trader.account_id), Sly("key"), Sly("test_user"))
    assert type(sly.account_id) is str and sly.login == 0
    sly.client, sly.redis_conn, sly.copy_redis_conn = d.trader.client, d.trader.redis_conn, d.trader.copy_redis_conn
    assert sly.fun_update_signal(signals(["k1"]))["code"] == 0
    # Names built from the account id are its own: account "X" with contract "1_k1" would write
    # the field of account "X_1", and its deals of "1_20250829" would be "X_1"'s of 20250829.
    d.refused(lambda: d.trader.fun_update_signal(signals(["1_k1"]), use_redis=True),
              ValueError, r'column contract, row 0: a contract must not hold "_"')
    for dte in ("1_20250829", "2025082", 20250829.5):
        answer = d.trader.fun_redis_deal(dte)
        assert answer["code"] == 1 and "fun_redis_deal: argument dte: a trading day must be eight digits" in answer["msg"]


def half_written_uploads(d):
    for table, match in [
        (signals(["k1"], feature=[complex(1, 0)]), "没有有效行"),
        (pd.concat([signals(["k1"]), signals(["k1"])[["trading_day"]]], axis=1), "two columns are labelled"),
        (signals(["k1"]).set_axis(pd.MultiIndex.from_tuples([("a", c) for c in signals(["k1"])]), axis=1),
         "several levels"),
    ]:
        d.refused(lambda: d.trader.fun_update_signal(table, use_redis=True), ValueError, match)

    class Fickle:
        asked = 0

        def __bool__(self):
            self.asked += 1
            return self.asked == 1

    class NoTruth:
        def __bool__(self):
            raise RuntimeError("no truth value")

    # The copy account is asked for before the first write: nothing of the account's own is written.
    d.trader.if_copy = NoTruth()
    d.refused(lambda: d.trader.fun_update_signal(signals(["k1"]), use_redis=True), RuntimeError, "no truth value")
    d.trader.if_copy = True
    answer = d.trader.fun_update_signal(signals(["k1"], position=[fractions.Fraction(3, 2)]),
                                        use_redis=True, continuous_holding=Fickle())
    assert answer["code"] == 0
    for account_id in (d.trader.account_id, d.trader.copy_account_id):
        assert d.live(account_id)[0] == {"k1": (1.5, 20)}


def hash_and_rows_disagree(d):
    for column, value, error in [("trading_day", None, TypeError), ("contract", True, TypeError),
                                 ("position", float("inf"), ValueError)]:
        d.refused(lambda: d.trader.fun_update_signal(signals(["k1"], **{column: [value]}), use_redis=True),
                  error, f"column {column}, row 0")
    table = signals(["k1", Sly("k2"), "k3", "k4"], position=pd.Series([2**64, 1.0, float("nan"), 2**53 + 1], dtype=object))
    assert d.trader.fun_update_signal(table, use_redis=True)["msg"].startswith("输入4, 有效3 ")
    rows, fields = d.live(d.trader.account_id)
    assert rows == fields == {"k1": (float(2**64), 0), "k2": (1.0, 0), "k4": (float(2**53), 0)}


def self_changing_result(d):
    class Changing:
        """A value of a date column whose text empties the result it is read from."""
        def __str__(self):
            for row in result.result_set:
                row.clear()
            result.result_set.clear()
            return "2025-08-27"

    result = types.SimpleNamespace(result_set=[[Changing(), Changing(), "x"] for _ in range(3)],
                                   column_names=["trading_day", "day", "instrument_id"])
    d.trader.client = types.SimpleNamespace(query=lambda statement: result)
    answer = d.trader.fun_read_order("20250827", "20250829")
    assert answer["code"] == 0 and len(answer["data"]) == 3


def errors_that_do_not_say_what_is_wrong(d, monkeypatch):
    trader = d.trader
    cases = [
        (lambda: trader.fun_update_signal(signals(["k1"], position=["1"])), TypeError,
         r"fun_update_signal: column position, row 0: must be a number, not '1'"),
        (lambda: trader.fun_update_signal([{"trading_day": DAY}, None]), TypeError,
         "fun_update_signal: argument input_data: cannot be read as a table"),
        (lambda: trader.fun_update_TWAP_info({"commodity": [1.5], "if_twap": [1], "time_gap": [1], "volume": [1]}),
         TypeError, "fun_update_TWAP_info: column commodity, row 0: must be text, not 1.5"),
        (lambda: trader.fun_read_equity(**{"\ud800": 1}), TypeError, "unexpected keyword argument"),
    ]
    for call, error, match in cases:
        d.refused(call, error, match)
    for dates in [(20250827, 20250829), (b"20250827", b"20250829")]:
        assert trader.fun_read_deal(*dates) == {"code": 2, "msg": "日期格式有误, 请修改后重新执行"}

    for name, seconds, shortest in [("_upload_wait_seconds", 0.0001, "0.001"), ("_upload_expiry_seconds", 10**20, "1"),
                                    ("_upload_wait_seconds", float("nan"), "0.001")]:
        with monkeypatch.context() as times:
            times.setattr(Norvane, name, seconds)
            d.refused(lambda: trader.fun_update_signal(signals(["k9"])), ValueError,
                      f"fun_update_signal: attribute Norvane.{name}: must be a number of seconds from {shortest} to 86400")
    for cell in (pd.Series([1.0]), pd.DataFrame({"a": [1.0]}), pd.array([1.0]).to_numpy()):
        d.refused(lambda: trader.fun_update_TWAP_info({"commodity": ["ag"], "if_twap": [1], "time_gap": [cell],
                                                       "volume": [1]}),
                  TypeError, "fun_update_TWAP_info: column time_gap, row 0: must be a number, not a value of type")
        d.refused(lambda: trader.fun_set_split_mode("4321001", cell), TypeError,
                  "fun_set_split_mode: argument effective_hour: must be a number, not a value of type")

    for year in ("2099", 10**30, 0):
        class OddClock(real_datetime.datetime):
            @classmethod
            def now(cls, tz=None):
                return types.SimpleNamespace(strftime=lambda f: "2099-12-06 09:30:00", year=year, month=12, day=6,
                                             hour=9, minute=30, second=0, microsecond=0)

        monkeypatch.setattr(Norvane, "datetime", types.SimpleNamespace(datetime=OddClock))
        answer = trader.fun_back_to_default_split_mode()
        assert answer["code"] == 1 and ("fun_back_to_default_split_mode: attribute Norvane.datetime: the clock's year"
                                        " must be a whole number from 1 to 9999") in answer["msg"]


@pytest.mark.parametrize("hostile", [
    caller_names_in_statements, another_accounts_data, half_written_uploads, hash_and_rows_disagree,
    self_changing_result, errors_that_do_not_say_what_is_wrong])
def test_hostile_input(desk, hostile, monkeypatch):
    if "monkeypatch" in hostile.__code__.co_varnames:
        hostile(desk, monkeypatch)
    else:
        hostile(desk)


class Interrupting:
    """A number whose own __float__ meets Ctrl-C (or an exit)."""
    def __init__(self, error):
        self.error = error

    def __float__(self):
        raise self.error()


class InterruptingDtype(Interrupting):
    """A cell whose `dtype` meets Ctrl-C (or an exit) when looked for."""
    @property
    def dtype(self):
        raise self.error()


def no_method(name):
    return types.SimpleNamespace(**{n: (lambda *a, **k: None) for n in ("set", "eval", "hset", "hkeys", "hmget", "hdel",
                                                                          "command") if n != name})


@pytest.mark.parametrize("attribute, value, error, match", [
    ("client", None, TypeError, "attribute client: is None"),
    ("client", no_method("command"), TypeError, "attribute client: has no method command"),
    ("redis_conn", no_method("hdel"), TypeError, "attribute redis_conn: has no method hdel"),
    ("copy_redis_conn", None, TypeError, "attribute copy_redis_conn: is None"),
    ("copy_account_id", AttributeError, AttributeError, "attribute copy_account_id: is missing"),
    ("if_copy", AttributeError, AttributeError, "attribute if_copy: is missing"),
    ("fun_replicate_save", 0, TypeError, "attribute fun_replicate_save: must be callable, not 0"),
])
def test_an_object_the_upload_cannot_use_refuses_it_before_any_write(desk, attribute, value, error, match):
    assert desk.trader.fun_update_signal(signals(["k1"]), use_redis=True)["code"] == 0
    if value is AttributeError:
        delattr(desk.trader, attribute)
    else:
        setattr(desk.trader, attribute, value)
    desk.refused(lambda: desk.trader.fun_update_signal(signals(["k1"], position=[2.0]), use_redis=True), error,
                 f"fun_update_signal: {match}")


TOO_LONG = 10 ** (sys.get_int_max_str_digits() + 1)


@pytest.mark.parametrize("call, error, match", [
    (lambda t: Norvane.Norvane.fun_read_order(None), TypeError,
     "descriptor 'fun_read_order' for 'Norvane' objects doesn't apply to a 'NoneType' object"),
    (lambda t: Norvane.Norvane.fun_update_signal(self=t, input_data=signals(["k1"])), TypeError,
     r"fun_update_signal\(\) got some positional-only arguments passed as keyword arguments: 'self'"),
    (lambda t: t.fun_update_signal(signals(["k1"], position=pd.Series([TOO_LONG], dtype=object))), ValueError,
     "fun_update_signal: column position, row 0: the number is too large: an int of more than"),
    (lambda t: t.fun_set_split_mode("4321001", TOO_LONG), ValueError,
     "fun_set_split_mode: argument effective_hour: the number is too large: an int of more than"),
    (lambda t: t.fun_set_split_mode(TOO_LONG, 2), ValueError,
     "fun_set_split_mode: argument mode: the number is too large: an int of more than"),
    (lambda t: t.fun_delete_signal(DAY, "call_auction", "", [TOO_LONG]), ValueError,
     "fun_delete_signal: argument contract: the number is too large: an int of more than"),
    ("_upload_wait_seconds", ValueError,
     "fun_update_signal: attribute Norvane._upload_wait_seconds: the number is too large: an int of more than"),
    (lambda t: t.fun_redis_deal(TOO_LONG), None,
     "fun_redis_deal: argument dte: a trading day must be eight digits, not an int of more than"),
])
def test_a_refused_call_names_its_method_and_what_is_wrong(desk, monkeypatch, call, error, match):
    if isinstance(call, str):
        monkeypatch.setattr(Norvane, call, TOO_LONG)
        call = lambda t: t.fun_update_signal(signals(["k1"]))  # noqa: E731
    if error is None:
        answer = call(desk.trader)
        assert answer["code"] == 1 and match in answer["msg"]
    else:
        desk.refused(lambda: call(desk.trader), error, match)


@pytest.mark.parametrize("interrupted", [
    "lock time", "position cell", "cell's dtype", "effective_hour", "the lock given back after a failure"])
@pytest.mark.parametrize("error", [KeyboardInterrupt, SystemExit])
def test_an_interrupt_during_a_conversion_reaches_the_caller(desk, monkeypatch, recording, interrupted, error):
    trader = desk.trader
    value = (InterruptingDtype if interrupted == "cell's dtype" else Interrupting)(error)
    if interrupted == "the lock given back after a failure":
        def fail(name, *args):
            if name == "command":
                raise ConnectionError("refused")
            if name == "eval" and len(args) == 4:  # giving the lock back: (script, 1, key, token)
                raise error()
        trader.client = recording(trader.client, before=fail)
        trader.redis_conn = recording(trader.redis_conn, before=fail)
        with pytest.raises(error):
            trader.fun_update_signal(signals(["k1"]))
        return
    if interrupted == "lock time":
        monkeypatch.setattr(Norvane, "_upload_expiry_seconds", value)
    if interrupted == "effective_hour":
        call = lambda: trader.fun_set_split_mode("4321001", value)  # noqa: E731
    else:
        cell = pd.Series([1.0 if interrupted == "lock time" else value], dtype=object)
        call = lambda: trader.fun_update_signal(signals(["k1"], position=cell))  # noqa: E731
    desk.refused(call, error, None)
