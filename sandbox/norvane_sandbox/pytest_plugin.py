"""Pytest fixtures for testing desk scripts against the local stack.

pytest loads this plugin in every suite of an environment where norvane-sandbox is installed
(entry point `pytest11`); nothing starts until a test asks for one of these fixtures.

    stack               session: starts the stack (if it is not running) and loads the demo data;
                        yields the services' addresses (norvane_sandbox.Endpoints). Stops the
                        stack at the end only if this session started it.
    account             a fresh account registered for this test alone (its own id, so its own
                        rows): `Norvane.Norvane(*account.args)` logs in. `new_account()` makes
                        more, `new_account(copy=True)` one with a linked copy account.
    clickhouse_writer   clickhouse_connect client of the read-write account
    clickhouse_reader   clickhouse_connect client of the read-only account
    redis_writer        redis client of the test environment's Redis (text answers);
                        norvane_sandbox.clients.redis_client(name) reaches the others
    mysql_writer        pymysql connection to the trade database as the stack's administrator
    outage              `with outage("clickhouse"): ...` makes one service unreachable for the
                        block and brings it back, answering, afterwards, whatever the block did
"""
from __future__ import annotations

import contextlib
import uuid
from dataclasses import dataclass

import pytest

from . import stack as stack_control
from .clients import clickhouse_client, mysql_client, redis_client
from .config import MYSQL_ADMIN, READER, WRITER, endpoints
from .seed import seed

# zip_enddate of an account that is still open.
OPEN_END = "2500-12-31 00:00:00"


@dataclass(frozen=True)
class DeskAccount:
    """A registered account: what `Norvane.Norvane` takes to log in."""
    id: str
    key: str
    user: str
    env: str = "test"
    copy_id: str | None = None

    @property
    def args(self) -> tuple[str, str, str, str]:
        return self.id, self.key, self.user, self.env


def register_account(client, account: DeskAccount, *, strategy: str = "test", trade_flag: str = "T",
                     market_value: float = 500000.0) -> None:
    """Adds `account` to the account register (and links its copy account, if it has one)."""
    client.command(
        "INSERT INTO factors.t_account_info (account_id, account_key, market_value, strategy,"
        " trade_flag, acquire_info_key, user_id, zip_begindate, zip_enddate, env) VALUES"
        " (%(id)s, %(account_key)s, %(market_value)s, %(strategy)s, %(trade_flag)s, %(key)s,"
        " %(user)s, '2020-01-01 00:00:00', %(end)s, %(env)s)",
        parameters={"id": account.id, "account_key": f"ak-{account.id}", "market_value": market_value,
                    "strategy": strategy, "trade_flag": trade_flag, "key": account.key,
                    "user": account.user, "end": OPEN_END, "env": account.env})
    if account.copy_id is not None:
        client.command("INSERT INTO factors.t_assetacc_match (account_id, copy_account_id, is_valid)"
                       " VALUES (%(id)s, %(copy)s, 1)", parameters={"id": account.id, "copy": account.copy_id})


@pytest.fixture(scope="session")
def stack():
    already_running = stack_control.is_running()
    stack_control.start()
    seed()
    yield endpoints()
    if not already_running:
        stack_control.stop()


@pytest.fixture(scope="session")
def clickhouse_writer(stack):
    client = clickhouse_client(WRITER, stack)
    yield client
    client.close()


@pytest.fixture(scope="session")
def clickhouse_reader(stack):
    client = clickhouse_client(READER, stack)
    yield client
    client.close()


@pytest.fixture
def redis_writer(stack):
    connection = redis_client("redis-test", stack)
    yield connection
    connection.close()


@pytest.fixture(scope="session")
def mysql_writer(stack):
    connection = mysql_client(MYSQL_ADMIN, stack, autocommit=True)
    yield connection
    connection.close()


@pytest.fixture
def new_account(clickhouse_writer):
    """new_account(copy=False, user="desk_user", env="test") registers a fresh account."""
    def make(copy: bool = False, user: str = "desk_user", env: str = "test") -> DeskAccount:
        number = uuid.uuid4().hex[:12]
        account = DeskAccount(f"8{number}", f"key-{number}", user, env,
                              copy_id=f"9{number}" if copy else None)
        register_account(clickhouse_writer, account)
        return account
    return make


@pytest.fixture
def account(new_account):
    return new_account()


@pytest.fixture
def outage(stack):
    """outage(service, how="down"): for the block, "down" stops the service (connections are
    refused), "frozen" pauses it (connections hang until the client's time-out). Afterwards the
    service runs and answers again."""
    @contextlib.contextmanager
    def make(service: str, how: str = "down"):
        if how not in ("down", "frozen"):
            raise ValueError(f"how must be 'down' or 'frozen', not {how!r}")
        if how == "down":
            stack_control.stop([service])
        else:
            stack_control.pause(service)
        try:
            yield
        finally:
            if how == "down":
                stack_control.start()
            else:
                stack_control.resume(service)
    return make
