"""Pytest fixtures for testing desk scripts against the local stack.

pytest loads this plugin in every session of an environment where norvane-sandbox is installed
(entry point `pytest11`). Loading it imports the standard library and pytest only: the client
libraries, the stack's control and the engine are imported by the fixtures that need them, and
nothing starts until a test asks for one. Every fixture name carries the prefix `norvane_`, so
none shadows a desk's own `stack` or `account`.

    norvane_stack               session: starts the stack (if it is not running) and seeds the demo
                                data where it is missing; yields this session's addresses of the
                                services (norvane_sandbox.Endpoints), which the NORVANE_*_HOST
                                variables name while the session runs. Sessions side by side
                                (pytest-xdist workers, two suites) share the stack's servers, each
                                through proxies of its own; the last one to end stops the stack if
                                one of them started it.
    norvane_account             a fresh account registered for this test alone (its own id, so its
                                own rows): `Norvane.Norvane(*norvane_account.args)` logs in.
    norvane_new_account         `norvane_new_account(copy=True, user=..., env=...)` registers more;
                                `copy=True` links a copy account (`.copy_id`).
    norvane_clickhouse_writer   clickhouse_connect client of the read-write account
    norvane_clickhouse_reader   clickhouse_connect client of the read-only account
    norvane_redis_writer        redis client of the test environment's Redis (text answers);
                                norvane_sandbox.clients.redis_client(name, norvane_stack)
                                reaches the others
    norvane_mysql_writer        pymysql connection to the trade database as the stack's administrator
    norvane_outage              `with norvane_outage("clickhouse"): ...` makes one service
                                unreachable for this session for the block (other sessions keep
                                it) and brings it back, answering, afterwards
"""
from __future__ import annotations

import contextlib
import os
import uuid
from dataclasses import dataclass
from pathlib import Path

import pytest

# zip_enddate of an account that is still open.
OPEN_END = "2500-12-31 00:00:00"
# zip_begindate of the accounts the fixtures register.
REGISTERED_FROM = "2020-01-01 00:00:00"


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
                     market_value: float = 500000.0, begin: str = REGISTERED_FROM,
                     end: str = OPEN_END) -> None:
    """Adds `account` to the account register, valid from `begin` to `end` (and links its copy
    account, if it has one). Values go in as bound parameters."""
    client.command(
        "INSERT INTO factors.t_account_info (account_id, account_key, market_value, strategy,"
        " trade_flag, acquire_info_key, user_id, zip_begindate, zip_enddate, env) VALUES"
        " (%(id)s, %(account_key)s, %(market_value)s, %(strategy)s, %(trade_flag)s, %(key)s,"
        " %(user)s, %(begin)s, %(end)s, %(env)s)",
        parameters={"id": account.id, "account_key": f"ak-{account.id}", "market_value": market_value,
                    "strategy": strategy, "trade_flag": trade_flag, "key": account.key,
                    "user": account.user, "begin": begin, "end": end, "env": account.env})
    if account.copy_id is not None:
        link_copy_account(client, account.id, account.copy_id)


def link_copy_account(client, account_id: str, copy_id: str, is_valid: int = 1) -> None:
    """Adds a row to the copy-account link table."""
    client.command("INSERT INTO factors.t_assetacc_match (account_id, copy_account_id, is_valid)"
                   " VALUES (%(id)s, %(copy)s, %(valid)s)",
                   parameters={"id": account_id, "copy": copy_id, "valid": is_valid})


# ---- sessions side by side --------------------------------------------------------------------

# Bound on waiting for the sessions directory while another session starts or stops the stack
# (a start waits at most 60 s for each of its seven services, then seeds).
SESSIONS_LOCK_TIMEOUT = 600


@contextlib.contextmanager
def _sessions(state: Path):
    """The sessions directory of the state directory, held exclusively for the block: one lease
    per running session (`<pid>.lease`, locked for the session's life) and `started`, present
    when a session started the stack."""
    from filelock import FileLock

    directory = state / "sessions"
    directory.mkdir(parents=True, exist_ok=True)
    with FileLock(str(directory / "lock"), timeout=SESSIONS_LOCK_TIMEOUT):
        yield directory


def _other_sessions(directory: Path, own: Path) -> list[Path]:
    """Leases of running sessions other than this one. A lease whose lock can be taken belongs to
    a session that ended without leaving (the lock went with its process); it is removed."""
    from filelock import FileLock, Timeout

    others = []
    for lease in directory.glob("*.lease"):
        if lease == own:
            continue
        probe = FileLock(str(lease))
        try:
            probe.acquire(timeout=0)
        except Timeout:
            others.append(lease)
            continue
        lease.unlink(missing_ok=True)
        probe.release()
    return others


@pytest.fixture(scope="session")
def _norvane_shared_stack():
    """The stack the sessions share: started if it is not running, seeded where it is missing;
    the last session to leave stops it if a session started it."""
    from filelock import FileLock

    from . import stack as control
    from .config import endpoints, state_dir
    from .seed import seed_once

    state = state_dir()
    lease = None
    try:
        with _sessions(state) as directory:
            if not control.is_running():
                control.start()
                (directory / "started").touch()
            seed_once()
            lease = FileLock(str(directory / f"{os.getpid()}.lease"))
            lease.acquire(timeout=SESSIONS_LOCK_TIMEOUT)
        yield endpoints()
    finally:
        # Also after a failure.
        with _sessions(state) as directory:
            if lease is not None:
                Path(lease.lock_file).unlink(missing_ok=True)
                lease.release()
            own = directory / f"{os.getpid()}.lease"
            if not _other_sessions(directory, own) and (directory / "started").exists():
                control.stop()
                (directory / "started").unlink(missing_ok=True)


@pytest.fixture(scope="session")
def _norvane_session(_norvane_shared_stack):
    """This session's proxies in front of the shared stack; while the session runs, the
    NORVANE_*_HOST variables name them (the stack's own hosts stay in
    NORVANE_SANDBOX_STACK_HOSTS)."""
    from .config import STACK_HOSTS_VARIABLE, host_variables, stack_hosts_setting
    from .session_proxies import SessionProxies

    proxies = SessionProxies(_norvane_shared_stack)
    changed = {**host_variables(proxies.endpoints),
               STACK_HOSTS_VARIABLE: stack_hosts_setting(_norvane_shared_stack)}
    before = {name: os.environ.get(name) for name in changed}
    os.environ.update(changed)
    try:
        yield proxies
    finally:
        for name, value in before.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value
        proxies.close()


@pytest.fixture(scope="session")
def norvane_stack(_norvane_session):
    return _norvane_session.endpoints


@pytest.fixture(scope="session")
def norvane_clickhouse_writer(norvane_stack):
    from .clients import clickhouse_client
    from .config import WRITER

    client = clickhouse_client(WRITER, norvane_stack)
    yield client
    client.close()


@pytest.fixture(scope="session")
def norvane_clickhouse_reader(norvane_stack):
    from .clients import clickhouse_client
    from .config import READER

    client = clickhouse_client(READER, norvane_stack)
    yield client
    client.close()


@pytest.fixture
def norvane_redis_writer(norvane_stack):
    from .clients import redis_client

    connection = redis_client("redis-test", norvane_stack)
    yield connection
    connection.close()


@pytest.fixture(scope="session")
def norvane_mysql_writer(norvane_stack):
    from .clients import mysql_client
    from .config import MYSQL_ADMIN

    connection = mysql_client(MYSQL_ADMIN, norvane_stack, autocommit=True)
    yield connection
    connection.close()


@pytest.fixture
def norvane_new_account(norvane_clickhouse_writer):
    """norvane_new_account(copy=False, user="desk_user", env="test") registers a fresh account."""
    def make(copy: bool = False, user: str = "desk_user", env: str = "test") -> DeskAccount:
        number = uuid.uuid4().hex[:12]
        account = DeskAccount(f"8{number}", f"key-{number}", user, env,
                              copy_id=f"9{number}" if copy else None)
        register_account(norvane_clickhouse_writer, account)
        return account
    return make


@pytest.fixture
def norvane_account(norvane_new_account):
    return norvane_new_account()


@pytest.fixture
def norvane_outage(_norvane_session):
    """norvane_outage(service, how="down"): for the block, "down" makes this session's connections
    to the service refused (open ones are closed), "frozen" makes them hang until the client's
    time-out (accepted, never answered). Other sessions keep the service; afterwards it answers
    this session again."""
    from . import stack as control

    @contextlib.contextmanager
    def make(service: str, how: str = "down"):
        if how not in ("down", "frozen"):
            raise ValueError(f"how must be 'down' or 'frozen', not {how!r}")
        name = control.service(service).name
        if how == "down":
            _norvane_session.down(name)
        else:
            _norvane_session.freeze(name)
        try:
            yield
        finally:
            _norvane_session.restore(name)
    return make
