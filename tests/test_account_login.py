"""Creating account objects against the local stack: connection, login, copy-account lookup."""
import os
import types

import pandas as pd
import pytest
import redis as redis_library

import Norvane
from norvane_sandbox.seed import DEMO

CONNECTED = "{'code': 0, 'msg': 'connect to database'}"
LOGGED_IN = "----------连接数据库成功, 可进行查询， 当前版本更新于20250829----------"
WRONG_INPUT = "-----------连接成功但是入参有误------------"
PING_SILENT = "Redis 连接失败：ping 无响应"


def printed(capsys):
    return capsys.readouterr().out.splitlines()


def test_seeded_account_connects_logs_in_and_finds_its_copy_account(norvane_stack, capsys):
    account = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"])
    assert printed(capsys) == [CONNECTED, LOGGED_IN]
    assert list(vars(account)) == [
        "env", "login", "client", "connect_tag", "account_id", "acquire_key", "user_id",
        "redis_conn", "update_times", "update_df", "if_copy", "copy_redis_conn", "copy_account_id"]
    assert (account.env, account.login, account.connect_tag, account.update_times) == ("test", 0, 0, 0)
    assert (account.account_id, account.acquire_key, account.user_id) == \
        (DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"])
    assert isinstance(account.update_df, pd.DataFrame) and account.update_df.empty
    assert account.if_copy is True
    assert account.copy_account_id == DEMO["copy_account"]


@pytest.mark.parametrize("case", ["wrong key", "no such account", "only a closed row",
                                  "quote in the key", "another account's key"])
def test_wrong_identifiers_leave_a_refused_object(norvane_stack, register, new_id, capsys, case):
    account_id, other = new_id(), new_id()
    register(account_id, "right-key")
    register(other, "other-key")
    register(account_id, "old-key", begin="2020-01-01 00:00:00", end="2021-01-01 00:00:00")
    key = {"wrong key": "wrong-key", "no such account": "right-key",
           "only a closed row": "old-key", "quote in the key": "x' or '1'='1",
           "another account's key": "other-key"}[case]
    if case == "no such account":
        account_id = new_id()
    account = Norvane.Norvane(account_id, key, "test_user")
    assert printed(capsys) == [CONNECTED, WRONG_INPUT]
    assert (account.login, account.connect_tag) == (4003, 0)
    assert account.client is not None


@pytest.mark.parametrize("begin, end, usable", [
    ("2025-08-29 09:30:00", "2500-12-31 00:00:00", True),   # valid from this very second
    ("2025-08-29 09:00:00", "2025-08-29 09:30:00", False),  # no longer valid at this second
    ("2025-08-29 09:00:00", "2025-08-29 09:30:01", True),
    ("2025-08-29 09:30:01", "2500-12-31 00:00:00", False),  # not yet valid
])
def test_validity_interval_includes_its_start_and_excludes_its_end(
        norvane_stack, register, new_id, clock, capsys, begin, end, usable):
    account_id = new_id()
    register(account_id, "key", begin=begin, end=end)
    clock("2025-08-29 09:30:00")
    account = Norvane.Norvane(account_id, "key", "test_user")
    assert account.login == (0 if usable else 4003)
    assert printed(capsys)[-1] == (LOGGED_IN if usable else WRONG_INPUT)


def test_numeric_identifiers_are_matched_by_their_digits(norvane_stack, register, new_id):
    digits = str(int(new_id("9")[1:], 16))[:12]
    register(digits, "123456")
    account = Norvane.Norvane(int(digits), 123456, "test_user")
    assert account.login == 0
    assert account.account_id == digits  # the identity is kept as plain text


class TestCopyAccountLookup:
    def test_without_a_valid_link_nothing_is_set(self, norvane_stack, register, link, new_id):
        account_id = new_id()
        register(account_id, "key")
        link(account_id, new_id(), is_valid=0)
        account = Norvane.Norvane(account_id, "key", "test_user")
        assert account.if_copy is False
        with pytest.raises(AttributeError):
            account.copy_account_id

    def test_with_two_valid_links_the_first_row_returned_counts(self, norvane_stack, register, new_id, norvane_clickhouse_writer):
        account_id = new_id()
        register(account_id, "key")
        # One insert keeps both links in one part, so the engine returns them in this order.
        norvane_clickhouse_writer.command("INSERT INTO factors.t_assetacc_match (account_id, copy_account_id, is_valid)"
                           f" VALUES ('{account_id}', 'copy-a', 1), ('{account_id}', 'copy-b', 1)")
        account = Norvane.Norvane(account_id, "key", "test_user")
        assert (account.if_copy, account.copy_account_id) == (True, "copy-a")

    def test_a_later_lookup_can_add_a_link_but_never_removes_one(self, norvane_stack, register, link, new_id, norvane_clickhouse_writer):
        account_id, copy_id = new_id(), new_id()
        register(account_id, "key")
        account = Norvane.Norvane(account_id, "key", "test_user")
        link(account_id, copy_id)
        assert account.fun_check_replicate() is None
        assert (account.if_copy, account.copy_account_id) == (True, copy_id)
        norvane_clickhouse_writer.command("ALTER TABLE factors.t_assetacc_match UPDATE is_valid = 0"
                           f" WHERE account_id = '{account_id}'")
        account.fun_check_replicate()
        assert (account.if_copy, account.copy_account_id) == (True, copy_id)


class SilentRedis(redis_library.Redis):
    """A Redis connection whose ping answers False."""
    def ping(self, **kwargs):
        return False


@pytest.mark.parametrize("registered", [True, False])
def test_a_silent_redis_is_reported_and_wrong_identifiers_still_refused(
        norvane_stack, register, new_id, monkeypatch, capsys, registered):
    account_id = new_id()
    if registered:
        register(account_id, "key")
    monkeypatch.setattr(Norvane, "redis", types.SimpleNamespace(Redis=SilentRedis))
    account = Norvane.Norvane(account_id, "key", "test_user")
    if registered:
        assert printed(capsys) == [CONNECTED, PING_SILENT]
        assert account.login == 0
    else:
        assert printed(capsys) == [CONNECTED, PING_SILENT, WRONG_INPUT]
        assert account.login == 4003
    assert account.fun_login() == 0


def test_unreachable_clickhouse_is_printed_and_the_constructor_raises(norvane_stack, monkeypatch, capsys):
    monkeypatch.setenv("NORVANE_DB_HOST", "127.0.0.9")  # nothing listens there
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'query'"):
        Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], "demo_user")
    [line] = printed(capsys)
    assert line.startswith("{'code': 4003, 'msg': ") and "OperationalError(" in line


def test_reconnect_keeps_the_client_on_failure_and_replaces_it_on_success(norvane_stack, monkeypatch, capsys):
    account = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"])
    account.login = 4003
    first = account.client
    capsys.readouterr()

    monkeypatch.setenv("NORVANE_DB_HOST", "127.0.0.9")
    assert account.fun_clickhouse_connect() is None
    assert (account.connect_tag, account.client) == (4003, first)
    assert printed(capsys)[0].startswith("{'code': 4003, 'msg': ")

    monkeypatch.undo()
    account.fun_clickhouse_connect()
    assert printed(capsys) == [CONNECTED]
    assert account.connect_tag == 0 and account.client is not first
    assert account.login == 4003


def test_interrupts_are_not_swallowed_by_the_connect_step(monkeypatch):
    def interrupted(**_):
        raise KeyboardInterrupt
    monkeypatch.setattr(Norvane, "clickhouse_connect", types.SimpleNamespace(get_client=interrupted))
    with pytest.raises(KeyboardInterrupt):
        Norvane.Norvane("a", "k", "u")
