"""Fixtures shared by the account tests. The local stack and its clients come from the
norvane-sandbox pytest plugin (`norvane_stack`, `norvane_clickhouse_writer`, `norvane_outage`, ...);
here: register and link rows under ids of the test's own (through the plugin's helpers), the risk
platform library, and a settable clock."""
from __future__ import annotations

import datetime as real_datetime
import types
import uuid

import pytest

from doubles import Recording
from norvane_sandbox.pytest_plugin import (OPEN_END, REGISTERED_FROM, DeskAccount, link_copy_account,
                                           register_account)


@pytest.fixture
def recording():
    """The Recording class: recording(client) or recording(client, calls, before=...)."""
    return Recording


@pytest.fixture
def redis(norvane_redis_writer):
    """The test environment's Redis (also the copy-account Redis)."""
    return norvane_redis_writer


@pytest.fixture(scope="session")
def velmora():
    import Velmora
    return Velmora


@pytest.fixture
def new_id():
    """Account ids of the test's own, so that tests never see each other's rows."""
    def make(prefix: str = "t") -> str:
        return f"{prefix}{uuid.uuid4().hex[:12]}"
    return make


@pytest.fixture
def register(norvane_clickhouse_writer):
    """Adds a row to the account register, through the stack's own helper (bound parameters)."""
    def add(account_id, key, *, user_id="test_user", begin=REGISTERED_FROM, end=OPEN_END,
            trade_flag="T", env="test", market_value=500000.0):
        register_account(norvane_clickhouse_writer, DeskAccount(account_id, key, user_id, env),
                         trade_flag=trade_flag, market_value=market_value, begin=begin, end=end)
    return add


@pytest.fixture
def link(norvane_clickhouse_writer):
    """Adds a row to the copy-account link table."""
    return lambda account_id, copy_account_id, is_valid=1: link_copy_account(
        norvane_clickhouse_writer, account_id, copy_account_id, is_valid)


@pytest.fixture
def account_object(norvane_stack, register, link, new_id):
    """A logged-in account object of the test's own: account_object(prefix="8", key="key",
    user="test_user", copy=False, account_id=None, **register_row). prefix "8" gives a real
    account, any other a simulated one; copy=True links a copy account. Registered rows make it
    usable unless `register_row` says otherwise."""
    import Norvane

    def make(prefix="8", key="key", user="test_user", copy=False, account_id=None, **row):
        account_id = account_id or new_id(prefix)
        register(account_id, key, **row)
        if copy:
            link(account_id, new_id("8"))
        return Norvane.Norvane(account_id, key, user)
    return make


@pytest.fixture
def clock(monkeypatch):
    """Sets the local clock the module reads: clock("2025-08-29 09:30:00")."""
    import Norvane

    def set_to(text: str):
        moment = real_datetime.datetime.strptime(text, "%Y-%m-%d %H:%M:%S")

        class FixedDatetime(real_datetime.datetime):
            @classmethod
            def now(cls, tz=None):
                return moment

        monkeypatch.setattr(Norvane, "datetime",
                            types.SimpleNamespace(datetime=FixedDatetime, date=real_datetime.date,
                                                  timezone=real_datetime.timezone))
    return set_to
