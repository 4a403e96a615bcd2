"""Trading signals on the local stack: upload, replication, reading, deletion and the signal hash."""
import decimal
import json

import numpy as np
import pandas as pd
import pytest
import redis as redis_library

import Norvane
from doubles import StoreRecorder, sql, statements
from hostile import HostileFloat, HostileInt
from norvane_sandbox.clients import redis_client

DAY = "20991203"
WRONG_FORMAT = {"code": 2, "msg": "必填字段未定义/格式有误, 请修改后重新执行"}


def signals(contracts, day=DAY, **columns):
    """A signal table of the given contracts, with overridable columns."""
    table = {"trading_day": [day] * len(contracts), "contract": list(contracts),
             "position": [float(i + 1) for i in range(len(contracts))],
             "direction": ["L"] * len(contracts), "order_typ": ["call_auction"] * len(contracts)}
    table.update(columns)
    return pd.DataFrame(table)


@pytest.fixture
def account(account_object):
    """A logged-in account object of the test's own: account(copy=True) links a copy account."""
    return lambda copy=False, account_id=None: account_object(user="quant_a", copy=copy, account_id=account_id)


@pytest.fixture
def stored(norvane_clickhouse_writer):
    """The signal table's rows of an account, as (contract, position, feature, delete_tag, ...)."""
    def rows(account_id, columns="contract, position, feature, delete_tag"):
        return sorted(norvane_clickhouse_writer.query(
            f"select {columns} from factors.t_order_dtl where account_id = '{account_id}'"
        ).result_set, key=repr)
    return rows


def stamp_of(record):
    return record["msg"][-26:]


def hash_of(account_id, day=DAY, redis_name="redis-test"):
    fields = redis_client(redis_name).hgetall(day)
    return {name: json.loads(value) for name, value in fields.items()
            if name.startswith(f"{account_id}_")}


@pytest.mark.parametrize("input_data, msg", [
    ([], "输入数据缺少 trading_day 列输入数据缺少 contract 列输入数据缺少 position 列"
         "输入数据缺少 direction 列输入数据缺少 order_typ 列"),
    ({"trading_day": [DAY], "contract": ["rb2601"], "position": [1]},
     "输入数据缺少 direction 列输入数据缺少 order_typ 列"),
    (signals([]), "输入数据为空, 请修改后重新执行"),
    (signals(["rb2601", "rb2601"], order_typ=["call_auction", "before_close"]),
     "输入数据有重复数据, 请修改后重新执行"),
    (signals(["rb2601", "cu2601"]).assign(trading_day=[DAY, "20991204"]),
     "输入数据中的日期有不同值, 目前只支持单次上传单一日期......"),
], ids=["no columns", "two missing", "no rows", "duplicate pair", "two days"])
def test_rejected_uploads_write_nothing(account, stored, input_data, msg):
    trader = account(copy=True)
    assert trader.fun_update_signal(input_data, use_redis=True) == {"code": 2, "msg": msg}
    assert stored(trader.account_id) == [] and hash_of(trader.account_id) == {}
    assert trader.update_df.empty


def test_validity_filter_drops_rows_outside_the_allowed_values_and_fills_defaults(account, stored):
    trader = account()
    table = signals(["ok0", "lower", "feat2", "tt", "neg", "typ"],
                    position=[0, 1, 1, 1, -1, 1], direction=["S", "l", "L", "L", "L", "L"],
                    order_typ=["before_close"] * 5 + ["market"])
    table["feature"] = [1, 0, 2, 0, 0, 0]
    table["trade_time"] = ["N", "D", "", "X", "", ""]
    table["ignored"] = "x"
    answer = trader.fun_update_signal(table)
    assert answer["msg"] == "输入6, 有效1 " + stamp_of(answer)
    assert stored(trader.account_id, "contract, position, direction, trade_time, feature,"
                  " signal_date, data_source, user_id") == \
        [("ok0", 0.0, "S", "N", 1, "", "clickhouse", "quant_a")]
    assert list(table.columns)[-1] == "ignored"  # the caller's table is left as it was

    defaults = account()
    defaults.fun_update_signal(signals(["rb2601"]))
    assert stored(defaults.account_id, "signal_date, trade_time, feature") == [("", "", 0)]


def test_no_valid_row_raises_and_writes_nothing(account, stored):
    trader = account()
    with pytest.raises(ValueError, match="没有有效行"):
        trader.fun_update_signal(signals(["rb2601"], direction=["X"]))
    assert stored(trader.account_id) == []


def test_text_position_raises(account):
    with pytest.raises(TypeError):
        account().fun_update_signal(signals(["rb2601"], position=["1"]))


def test_the_rows_of_a_day_go_live_retired_and_deleted(account, stored, norvane_clickhouse_writer):
    trader = account(copy=True)
    copy_id = trader.copy_account_id
    first = trader.fun_update_signal(signals(["k1", "k2", "k3"]), use_redis=True)
    assert set(hash_of(trader.account_id)) == {f"{trader.account_id}_{k}" for k in ("k1", "k2", "k3")}

    second = trader.fun_update_signal(signals(["k1", "k2"], position=[5.0, 6.0]), use_redis=True)
    assert second["msg"] == "输入2, 有效2 " + stamp_of(second)
    assert stored(trader.account_id, "contract, position, delete_tag, create_time, update_time") == sorted([
        ("k1", 1.0, 2, stamp_of(first), stamp_of(second)),
        ("k2", 2.0, 2, stamp_of(first), stamp_of(second)),
        ("k3", 3.0, 2, stamp_of(first), stamp_of(second)),
        ("k1", 5.0, None, stamp_of(second), stamp_of(second)),
        ("k2", 6.0, None, stamp_of(second), stamp_of(second))], key=repr)
    # The copy account's retired rows keep the update_time they were stored with.
    assert stored(copy_id, "contract, delete_tag, update_time") == sorted([
        ("k1", 2, stamp_of(first)), ("k2", 2, stamp_of(first)), ("k3", 2, stamp_of(first)),
        ("k1", None, stamp_of(second)), ("k2", None, stamp_of(second))], key=repr)
    own = hash_of(trader.account_id)
    assert {name: record["position"] for name, record in own.items()} == \
        {f"{trader.account_id}_k1": 5.0, f"{trader.account_id}_k2": 6.0}
    assert set(hash_of(copy_id)) == {f"{copy_id}_k1", f"{copy_id}_k2"}

    third = trader.fun_update_signal(signals(["k3"], feature=[1]), continuous_holding=True)
    assert [row for row in stored(trader.account_id, "contract, feature, delete_tag")
            if row[2] is None] == [("k1", 0, None), ("k2", 0, None), ("k3", 21, None)]
    assert hash_of(copy_id)[f"{copy_id}_k3"]["feature"] == 21
    assert f"{trader.account_id}_k3" not in hash_of(trader.account_id)  # use_redis was off

    clean = trader.fun_read_signal(DAY, DAY)["data"]
    assert [(row["contract"], row["position"], row["create_time"]) for row in clean] == [
        ("k1", 5.0, stamp_of(second)), ("k2", 6.0, stamp_of(second)), ("k3", 1.0, stamp_of(third))]
    assert list(clean[0]) == ["trading_day", "account_id", "contract", "position", "direction",
                              "signal_date", "create_time", "trade_time", "user_id"]
    assert len(trader.fun_read_signal(DAY, DAY, clean=False)["data"]) == 6

    deleted = trader.fun_delete_signal(DAY, "call_auction", "", ["k1"])
    assert deleted == {"code": 0, "msg": "删除1 " + stamp_of(deleted)}
    assert norvane_clickhouse_writer.query(
        "select update_id, update_time from factors.t_order_dtl"
        f" where account_id = '{trader.account_id}' and delete_tag = 1").result_set == \
        [("quant_a", stamp_of(deleted))]
    assert [row["contract"] for row in trader.fun_read_signal(DAY, DAY)["data"]] == ["k2", "k3"]
    assert "k1" not in [row["contract"] for row in trader.fun_read_signal(DAY, DAY, False)["data"]
                        if row["create_time"] == stamp_of(second)]
    again = trader.fun_delete_signal(DAY, "call_auction", "", ["k1"])
    assert again["msg"] == "删除0 " + stamp_of(again)
    assert f"{trader.account_id}_k1" in hash_of(trader.account_id)  # deletion leaves the hash


def test_stale_field_cleanup_touches_only_the_accounts_own_fields(account, new_id):
    trader = account()
    underscored = account(account_id=trader.account_id + "_x")
    neighbour = redis_client("redis-test")
    neighbour.hset(DAY, f"{trader.account_id}9_k2", "other account, longer id")
    neighbour.hset(DAY, f"{new_id('8')}_k2", "other account, same contract")
    for owner in (underscored, trader):
        owner.fun_update_signal(signals(["k1", "k2"]), use_redis=True)
    for owner in (trader, underscored):
        owner.fun_update_signal(signals(["k1"]), use_redis=True)
    # The field "<id>_x_k2" begins with the trader's id and "_", but its record names the
    # account "<id>_x": the trader's cleanup leaves it, and that account's own removes it.
    assert set(hash_of(trader.account_id)) == {f"{trader.account_id}_k1", f"{underscored.account_id}_k1"}
    assert neighbour.hget(DAY, f"{trader.account_id}9_k2") == "other account, longer id"


def test_hash_record_is_the_exact_json_text(account):
    trader = account()
    answer = trader.fun_update_signal(
        signals(["螺纹2601"], signal_date=["早盘"], position=[2]), use_redis=True)
    text = redis_client("redis-test").hget(DAY, f"{trader.account_id}_螺纹2601")
    assert text == (
        f'{{"trading_day": "{DAY}", "account_id": "{trader.account_id}", '
        r'"contract": "\u87ba\u7eb92601", "position": 2, "direction": "L", '
        r'"signal_date": "\u65e9\u76d8", "order_typ": "call_auction", '
        f'"update_time": "{stamp_of(answer)}", "trade_time": "", "user_id": "quant_a", "feature": 0}}')


@pytest.mark.parametrize("change, stored_again", [
    (lambda t: t, False),
    (lambda t: t.iloc[::-1], False),
    (lambda t: t.assign(feature=[0.0, 0.0]), True),
    (lambda t: t.assign(position=[1.0, 3.0]), True),
], ids=["same", "rows reordered", "feature as decimals", "new position"])
def test_an_upload_equal_to_the_last_one_is_answered_without_writing(
        account, stored, change, stored_again):
    trader = account()
    first = signals(["k1", "k2"]).assign(feature=[0, 0])
    trader.fun_update_signal(first)
    answer = trader.fun_update_signal(change(first))
    assert answer["msg"].startswith("和上次一致, 输入2, 有效2 ") is not stored_again
    assert len(stored(trader.account_id)) == (4 if stored_again else 2)


@pytest.mark.parametrize("flags", [{"use_redis": True}, {"continuous_holding": True}])
def test_switching_a_flag_stores_the_same_table_again(account, stored, flags):
    trader = account()
    trader.fun_update_signal(signals(["k1"]))
    assert trader.fun_update_signal(signals(["k1"]), **flags)["code"] == 0
    assert len(stored(trader.account_id)) == 2


HOSTILE = ["a'b", "c\\", "x'); DROP TABLE factors.orders; --", "/* c */ d", "e\\'); --",
           "f\n-- g"]


def test_hostile_texts_are_stored_as_values_and_never_run(account, stored, norvane_clickhouse_writer):
    trader = account(copy=True)
    table = signals(HOSTILE, signal_date=HOSTILE)
    assert trader.fun_update_signal(table, use_redis=True)["code"] == 0
    assert sorted(stored(trader.account_id, "contract, signal_date")) == sorted((h, h) for h in HOSTILE)
    assert sorted(row["contract"] for row in trader.fun_read_signal(DAY, DAY)["data"]) == sorted(HOSTILE)
    assert set(hash_of(trader.account_id)) == {f"{trader.account_id}_{h}" for h in HOSTILE}
    assert trader.fun_delete_signal(DAY, "call_auction", "", HOSTILE[:3])["msg"].startswith("删除3 ")
    assert len(stored(trader.copy_account_id)) == len(HOSTILE)
    assert norvane_clickhouse_writer.command("EXISTS TABLE factors.t_order_dtl") == 1


def first_insert_fails():
    """A recording's step that fails the first INSERT as a lost connection would."""
    failed = []

    def step(name, statement, *args):
        if name == "command" and statement.startswith("INSERT") and not failed:
            failed.append(statement)
            raise ConnectionError("connection to the database lost")
    return step


def copy_insert_fails(copy_id):
    """A recording's step that fails the copy account's INSERT."""
    def step(name, statement, *args):
        if name == "command" and statement.startswith("INSERT") and f"'{copy_id}'" in statement:
            raise ConnectionError("connection to the database lost")
    return step


def test_a_failed_upload_repeated_through_the_same_object_is_stored(account, stored, recording):
    trader = account()
    real_client = trader.client
    trader.client = recording(real_client, before=first_insert_fails())
    with pytest.raises(ConnectionError):
        trader.fun_update_signal(signals(["k1", "k2"]))
    assert trader.update_df.empty
    answer = trader.fun_update_signal(signals(["k1", "k2"]))
    assert answer["msg"].startswith("输入2, 有效2 ")
    assert [row["contract"] for row in trader.fun_read_signal(DAY, DAY)["data"]] == ["k1", "k2"]


def recording_account(log, copy=True):
    trader = Norvane.Norvane.__new__(Norvane.Norvane)
    vars(trader).update(login=0, connect_tag=0, account_id="8100", user_id="quant_a",
                        client=log, redis_conn=log, copy_redis_conn=log, if_copy=copy,
                        update_df=pd.DataFrame())
    if copy:
        trader.copy_account_id = "8200"
    return trader


LOCK_CALLS = ("set", "renew", "give back")


def test_statements_and_their_order(clock):
    clock("2099-12-03 09:30:00")
    stamp = "2099-12-03 09:30:00.000000"
    log = StoreRecorder()
    trader = recording_account(log)
    table = signals(["k1"], position=[3]).assign(feature=[1])
    assert trader.fun_update_signal(table, use_redis=True) == {"code": 0, "msg": f"输入1, 有效1 {stamp}"}
    columns = ('"trading_day", "contract", "position", "direction", "signal_date", "order_typ",'
               ' "trade_time", "feature", "account_id", "user_id", "create_time", "update_time",'
               ' "data_source"')

    def record(account_id, feature):
        return (f'{{"trading_day": "{DAY}", "account_id": "{account_id}", "contract": "k1", '
                f'"position": 3, "direction": "L", "signal_date": "", "order_typ": "call_auction", '
                f'"update_time": "{stamp}", "trade_time": "", "user_id": "quant_a", "feature": {feature}}}')

    def insert(account_id):
        return ("command", f"INSERT into factors.t_order_dtl ({columns}) values ('{DAY}', 'k1', 3,"
                f" 'L', '', 'call_auction', '', 1, '{account_id}', 'quant_a', '{stamp}', '{stamp}',"
                " 'redis');")

    assert statements([call for call in log.calls if call[0] not in LOCK_CALLS]) == statements([
        ("hset", DAY, {"8100_k1": record("8100", 21)}),
        ("hset", DAY, {"8100_k1": record("8100", 1)}),
        ("hkeys", DAY),
        ("hmget", DAY, ["8100_k9"]),
        ("hdel", DAY, "8100_k9"),
        ("command", f"ALTER TABLE factors.t_order_dtl UPDATE delete_tag = 2 , update_time = '{stamp}'"
                    f" WHERE trading_day='{DAY}' and account_id == '8100' and delete_tag is null"),
        insert("8100"),
        ("hset", DAY, {"8200_k1": record("8200", 21)}),
        ("hset", DAY, {"8200_k1": record("8200", 1)}),
        ("hkeys", DAY),
        ("command", f"ALTER TABLE factors.t_order_dtl UPDATE delete_tag = 2 WHERE trading_day='{DAY}'"
                    " and account_id == '8200' and delete_tag is null"),
        insert("8200"),
    ])
    # The account's lock, the copy account's held within it and given back first; every write
    # sent right after renewing the locks it is held within.
    locks = [call[:2] for call in log.calls if call[0] in ("set", "give back")]
    own, copy = f"norvane:upload:{DAY}:8100", f"norvane:upload:{DAY}:8200"
    assert locks == [("set", own), ("set", copy), ("give back", copy), ("give back", own)]
    assert all(log.calls[at - 1][0] == "renew" for at, call in enumerate(log.calls) if call[0] in ("hset", "command"))


def test_continuous_holding_writes_one_pass_and_retires_nothing(clock):
    log = StoreRecorder()
    recording_account(log, copy=False).fun_update_signal(signals(["k1"]), use_redis=True,
                                                         continuous_holding=True)
    assert [call[0] for call in log.calls] == ["set", "renew", "hset", "renew", "command", "give back"]
    assert '"feature": 20' in log.calls[2][2]["8100_k1"] and log.calls[4][1].startswith("INSERT")
    assert recording_account(StoreRecorder(), copy=False).fun_replicate_save(signals(["k1"]), False) == 0


@pytest.mark.parametrize("args, kwargs", [
    ((), {}),
    ((DAY,), {}),
    ((DAY, "call_auction", "", ("k1",)), {}),
    ((), {"order_typ": "call_auction", "contract": ["k1"]}),
    ((DAY, "call_auction", "", "k1"), {}),
], ids=["no arguments", "no order type", "tuple of contracts", "no day", "text contract"])
def test_delete_rejects_missing_day_or_order_type_and_non_list_contracts(args, kwargs):
    log = StoreRecorder(count=1)
    assert recording_account(log).fun_delete_signal(*args, **kwargs) == WRONG_FORMAT
    assert log.calls == []


def test_delete_statements(clock):
    clock("2099-12-03 09:30:00")
    stamp = "2099-12-03 09:30:00.000000"
    log = StoreRecorder(count=2)
    answer = recording_account(log).fun_delete_signal(20991203, "before_close", "N", ["k1", "k'2"])
    assert answer == {"code": 0, "msg": f"删除2 {stamp}"}
    clause = "and contract in ('k1', 'k\\'2')"
    assert statements(log.calls) == statements([
        ("query", "select count(*) n from factors.t_order_dtl where trading_day='20991203' and trade_time == 'N'"
                  f" and order_typ == 'before_close' and account_id == '8100' and delete_tag is null {clause}"),
        ("command", "ALTER TABLE factors.t_order_dtl UPDATE update_id = 'quant_a', update_time ="
                    f" '{stamp}', delete_tag = 1 WHERE trading_day='20991203' and trade_time == 'N'"
                    f" and order_typ == 'before_close' and account_id == '8100' and delete_tag is null {clause}")])
    nothing = StoreRecorder(count=0)
    assert recording_account(nothing).fun_delete_signal(DAY, "before_close")["msg"] == f"删除0 {stamp}"
    assert [call[0] for call in nothing.calls] == ["query"]
    assert sql(nothing.calls[0][1]).endswith("delete_tag is null")


def test_delete_matches_trade_time_exactly(account, stored):
    trader = account()
    trader.fun_update_signal(signals(["k1", "k2", "k3"]).assign(trade_time=["", "D", "N"]))
    assert trader.fun_delete_signal(DAY, "call_auction", "", None)["msg"].startswith("删除1 ")
    assert stored(trader.account_id, "contract, delete_tag") == [("k1", 1), ("k2", None), ("k3", None)]
    assert trader.fun_delete_signal(int(DAY), "call_auction", "D", [])["msg"].startswith("删除1 ")


@pytest.mark.parametrize("start, end, answer", [
    ("2099-12-03", DAY, WRONG_FORMAT),
    (DAY, "209912", WRONG_FORMAT),
    ("20991204", DAY, {"code": 0, "msg": "success", "data": []}),
    ("notadate", "notadat2", {"code": 0, "msg": "success", "data": []}),
])
def test_read_checks_only_the_length_of_the_days(account, start, end, answer):
    trader = account()
    trader.fun_update_signal(signals(["k1"]))
    assert trader.fun_read_signal(start, end) == answer


def test_read_with_a_numeric_day_raises(account):
    with pytest.raises(TypeError):
        account().fun_read_signal(20991203, DAY)


@pytest.mark.parametrize("call", [
    lambda a: a.fun_update_signal(signals(["k1"])),
    lambda a: a.fun_delete_signal(DAY, "call_auction"),
    lambda a: a.fun_read_signal(DAY, DAY),
])
def test_signal_methods_refuse_an_unusable_object(call):
    log = StoreRecorder()
    trader = recording_account(log)
    trader.login = 4003
    assert call(trader) == {"code": 1, "msg": "类初始化失败"}
    assert log.calls == []


# ---- nothing half-written -----------------------------------------------------------------------

def day_state(trader):
    """Everything the day holds for the account and its copy account: rows and hash fields."""
    def rows(account_id):
        return sorted(clickhouse_rows(account_id), key=repr)
    copy_id = trader.copy_account_id
    return rows(trader.account_id), rows(copy_id), hash_of(trader.account_id), hash_of(copy_id)


def clickhouse_rows(account_id):
    from norvane_sandbox.clients import clickhouse_client
    client = clickhouse_client()
    try:
        return client.query("select contract, position, signal_date, delete_tag, update_time"
                            f" from factors.t_order_dtl where account_id = '{account_id}'").result_set
    finally:
        client.close()


@pytest.mark.parametrize("bad_row, error", [
    ({"signal_date": "\ud800"}, UnicodeEncodeError),       # no UTF-8 form: the statement
    ({"contract": "k\udfff"}, UnicodeEncodeError),          # the hash field and the statement
    ({"signal_date": decimal.Decimal("1")}, TypeError),     # no JSON form: the hash record
], ids=["surrogate signal_date", "surrogate contract", "decimal signal_date"])
def test_a_value_that_cannot_be_written_in_a_later_row_writes_nothing(account, bad_row, error):
    trader = account(copy=True)
    trader.fun_update_signal(signals(["k1", "k2"]), use_redis=True)
    before, remembered = day_state(trader), trader.update_df
    revised = signals(["k1", "k3"], signal_date=["ok", "ok"]).astype(object)
    for column, value in bad_row.items():
        revised.at[1, column] = value
    with pytest.raises(error):
        trader.fun_update_signal(revised, use_redis=True)
    assert day_state(trader) == before
    assert trader.update_df is remembered


class FailingCopyRedis:
    """The copy-account Redis, down: every command fails as a lost connection does."""

    def __getattr__(self, name):
        def fail(*args, **kwargs):
            raise redis_library.ConnectionError("Connection refused")
        return fail


@pytest.mark.parametrize("failure", ["copy Redis down", "copy insert fails"])
def test_an_upload_whose_copy_failed_is_stored_again_in_full(account, stored, failure, recording):
    trader = account(copy=True)
    copy_id, copy_redis, client = trader.copy_account_id, trader.copy_redis_conn, trader.client
    if failure == "copy Redis down":
        trader.copy_redis_conn = FailingCopyRedis()
    else:
        trader.client = recording(client, before=copy_insert_fails(copy_id))
    table = signals(["k1", "k2"])
    with pytest.raises((ConnectionError, redis_library.ConnectionError)):
        trader.fun_update_signal(table, use_redis=True)
    assert trader.update_df.empty  # not remembered: the repeat is not "unchanged"

    trader.copy_redis_conn, trader.client = copy_redis, client
    repeat = trader.fun_update_signal(table, use_redis=True)
    assert repeat["msg"] == "输入2, 有效2 " + stamp_of(repeat)
    live = [row for row in stored(copy_id, "contract, delete_tag, update_time") if row[1] is None]
    assert live == [("k1", None, stamp_of(repeat)), ("k2", None, stamp_of(repeat))]
    assert [row["contract"] for row in trader.fun_read_signal(DAY, DAY)["data"]] == ["k1", "k2"]
    assert set(hash_of(copy_id)) == {f"{copy_id}_k1", f"{copy_id}_k2"}
    assert trader.fun_update_signal(table, use_redis=True)["msg"].startswith("和上次一致")


def test_numbers_are_written_from_their_value(account, stored):
    trader = account(copy=True)
    table = signals(["k1", "k2"]).astype(object)
    table["position"] = [HostileInt(7), HostileFloat(2.5)]
    table["feature"] = [HostileInt(1), HostileInt(0)]
    trader.fun_update_signal(table, use_redis=True)
    expected = [("k1", 7.0, 1, None), ("k2", 2.5, 0, None)]
    assert stored(trader.account_id) == expected and stored(trader.copy_account_id) == expected
    assert {k: (r["position"], r["feature"]) for k, r in hash_of(trader.account_id).items()} == \
        {f"{trader.account_id}_k1": (7, 1), f"{trader.account_id}_k2": (2.5, 0)}

    # A contract list holding such an integer matches contract '7' of the day, nothing else.
    other = account()
    other.fun_update_signal(signals(["zz"], day="20991204"))
    answer = trader.fun_delete_signal(DAY, "call_auction", "", [HostileInt(7)])
    assert answer["msg"].startswith("删除0 ")
    assert stored(other.account_id, "contract, delete_tag") == [("zz", None)]
    assert [row[3] for row in stored(trader.account_id)] == [None, None]


@pytest.mark.parametrize("day", [20991203, 20991203.0, np.int64(20991203), np.float64(20991203.0)],
                         ids=["int", "float", "numpy int", "numpy float"])
def test_a_numeric_trading_day_is_one_text_everywhere(account, stored, day):
    trader = account(copy=True)
    trader.fun_update_signal(signals(["k1", "k2"], day=day), use_redis=True)
    second = trader.fun_update_signal(signals(["k1"], day=day, position=[9.0]), use_redis=True)
    for account_id in (trader.account_id, trader.copy_account_id):
        assert stored(account_id, "trading_day, contract, position, delete_tag") == [
            (DAY, "k1", 1.0, 2), (DAY, "k1", 9.0, None), (DAY, "k2", 2.0, 2)]
        assert set(hash_of(account_id)) == {f"{account_id}_k1"}
        assert hash_of(account_id)[f"{account_id}_k1"]["trading_day"] == DAY
    assert trader.fun_delete_signal(day, "call_auction", "", None)["msg"].startswith("删除1 ")
    assert second["code"] == 0


@pytest.mark.parametrize("call", [
    lambda t: t.fun_delete_signal(DAY, "call\ud800"),
    lambda t: t.fun_delete_signal(DAY, "call_auction", "", ["k\ud800"]),
    lambda t: t.fun_update_signal(signals(["k\ud800"])),
], ids=["delete, order type", "delete, contract", "upload, contract"])
def test_text_without_a_utf8_form_is_a_unicode_encode_error(call):
    log = StoreRecorder(count=1)
    with pytest.raises(UnicodeEncodeError, match="surrogates not allowed"):
        call(recording_account(log))
    assert log.calls == []
