"""Live positions, deals, last trade and margin use, read from the test Redis of the local stack."""
import re

import pytest

import Norvane

DAY = "20250829"


@pytest.fixture
def account(account_object):
    """A usable account object of the test's own, registered with market value 750000."""
    return account_object(prefix="t", market_value=750000.0)


def store(redis, method, account_id, text):
    """Puts `text` where `method` reads it (for the deals, after one good deal)."""
    if method == "fun_redis_position":
        redis.set(account_id, text)
    elif method == "fun_redis_deal":
        redis.rpush(f"{account_id}_{DAY}", "{'trade_id': 'good'}", text)
    else:
        redis.hset("balance_warning", account_id, text)


def call(account, method):
    return account.fun_redis_deal(DAY) if method == "fun_redis_deal" else getattr(account, method)()


EVALUATING = ["fun_redis_position", "fun_redis_deal", "fun_margin_used"]


def test_positions_come_back_as_the_value_the_text_denotes(account, redis):
    redis.set(account.account_id, "{'rb2510': {'long': 3, 'short': 0}, 'm2601': (1, -2.5, None, True, 'x')}")
    assert account.fun_redis_position() == {
        "code": 0, "data": {"rb2510": {"long": 3, "short": 0}, "m2601": (1, -2.5, None, True, "x")}}
    redis.set(account.account_id, "{}")
    assert account.fun_redis_position() == {"code": 0, "data": {}}


def test_missing_positions_key_is_a_type_error(account):
    assert account.fun_redis_position() == {
        "code": 1, "msg": "TypeError('stored text must be str, not NoneType')"}


def test_deals_keep_the_list_order_and_an_int_day_reads_the_same_key(account, redis):
    deals = [f"{{'trade_id': 'T{i}', 'volume': {i}}}" for i in range(5)]
    redis.rpush(f"{account.account_id}_{DAY}", *deals)
    expected = {"code": 0, "data": [{"trade_id": f"T{i}", "volume": i} for i in range(5)]}
    assert account.fun_redis_deal(DAY) == expected
    assert account.fun_redis_deal(int(DAY)) == expected
    assert account.fun_redis_deal("20250830") == {"code": 0, "data": []}


@pytest.mark.parametrize("method", EVALUATING)
@pytest.mark.parametrize("hostile", [
    "__import__('pathlib').Path(MARKER).touch()",
    "{'a': __import__('os').system('touch ' + MARKER)}",
    "[c for c in ().__class__.__base__.__subclasses__()]",
    "{'positions': redis_conn}",
    "Norvane",
])
def test_stored_code_is_never_run(account, redis, tmp_path, method, hostile):
    marker = tmp_path / "ran"
    store(redis, method, account.account_id, hostile.replace("MARKER", repr(str(marker))))
    answer = call(account, method)
    assert answer["code"] == 1 and list(answer) == ["code", "msg"]
    # The interpreter's own text: from 3.14 on it shows the node, and its quotes change with it.
    assert re.match(r"""ValueError\(['"]malformed node or string""", answer["msg"])
    assert not marker.exists()


@pytest.mark.parametrize("method", EVALUATING)
def test_the_literal_reader_is_looked_up_in_the_module_at_each_call(account, redis, monkeypatch, method):
    read = []
    monkeypatch.setattr(Norvane, "_literal_eval", lambda text: read.append(text) or {"read": text})
    store(redis, method, account.account_id, "{'stored': 1}")
    assert call(account, method)["code"] == 0
    assert read[-1] == "{'stored': 1}"


@pytest.mark.parametrize("method", EVALUATING)
@pytest.mark.parametrize("broken, errors", [
    ("{'a': 1", ("SyntaxError(",)),
    ("[" * 300 + "]" * 300, ("SyntaxError('too many nested parentheses'",)),
    # Too deep for the parser: which error it raises depends on the interpreter's version.
    ("-" * 100000 + "1", ("MemoryError(", "RecursionError(", "SyntaxError(")),
])
def test_texts_that_are_no_expression_fail_the_whole_call(account, redis, method, broken, errors):
    store(redis, method, account.account_id, broken)
    answer = call(account, method)
    assert answer["code"] == 1 and answer["msg"].startswith(errors)


def test_last_trade_is_returned_as_stored_even_when_it_looks_like_a_dict(account, redis):
    redis.hset("deal_warning", account.account_id, "{'price': 776.0}")
    assert account.fun_last_trade() == {"code": 0, "data": "{'price': 776.0}"}


@pytest.mark.parametrize("method", ["fun_last_trade", "fun_margin_used"])
def test_an_account_without_a_warning_field_gets_the_key_error(account, method):
    assert getattr(account, method)() == {"code": 1, "msg": f"KeyError('{account.account_id}')"}


@pytest.mark.parametrize("entry, expected", [
    ("{'balance': 1001234.5, 'shares': 3}", {"balance": 1001234.5, "shares": 750000.0}),
    ("{}", {"shares": 750000.0}),
])
def test_margin_use_carries_the_register_market_value_as_shares(account, redis, entry, expected):
    redis.hset("balance_warning", account.account_id, entry)
    assert account.fun_margin_used() == {"code": 0, "data": expected}


@pytest.mark.parametrize("entry, flag, error", [
    ("{}", "F", "IndexError('list index out of range')"),  # a disabled account has no "T" row
    ("[1, 2]", "T", "TypeError('list indices must be integers or slices, not str')"),
])
def test_margin_use_failures(norvane_stack, register, new_id, redis, entry, flag, error):
    account_id = new_id()
    register(account_id, "key", trade_flag=flag)
    account = Norvane.Norvane(account_id, "key", "test_user")
    redis.hset("balance_warning", account_id, entry)
    assert account.fun_margin_used() == {"code": 1, "msg": error}


class SilentRedis:
    def ping(self):
        return False

    def __getattr__(self, name):
        raise AssertionError(f"{name} after a silent ping")


@pytest.mark.parametrize("method", ["fun_redis_position", "fun_redis_deal", "fun_last_trade",
                                    "fun_margin_used", "fun_back_to_default_split_mode"])
def test_a_silent_redis_stops_the_method(account, method):
    account.redis_conn = SilentRedis()
    assert call(account, method) == {"code": 1, "msg": "redis.ping return False"}


@pytest.mark.parametrize("method, args", [
    ("fun_redis_position", ()), ("fun_redis_deal", (DAY,)), ("fun_last_trade", ()),
    ("fun_margin_used", ()), ("fun_update_TWAP_info", ({"commodity": ["ag"]},)),
    ("fun_read_split_doc", ()), ("fun_search_split_mode", ("nonsense",)),
    ("fun_back_to_default_split_mode", ()), ("fun_set_split_mode", ("", -1)),
])
def test_a_refused_object_touches_nothing(account, method, args):
    account.login = 4003
    account.redis_conn = account.client = None
    assert getattr(account, method)(*args) == {"code": 1, "msg": "类初始化失败"}


def test_the_seeded_real_account_reads_its_live_keys(norvane_stack):
    from norvane_sandbox.seed import DEMO
    account = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"])
    assert account.fun_redis_position()["data"]["rb2510"] == {"long": 3, "short": 0}
    assert [deal["trade_id"] for deal in account.fun_redis_deal(DEMO["deals_key"].split("_")[1])["data"]] == \
        ["T20250829-0001", "T20250829-0002"]
    assert account.fun_last_trade()["data"].startswith("2025-08-29 09:05:13 i2601")
    assert account.fun_margin_used()["data"] == {
        "balance": 1001234.5, "margin": 98760.0, "available": 902474.5, "margin_ratio": 0.0986,
        "shares": DEMO["market_value"]}
