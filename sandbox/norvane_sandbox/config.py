"""Where the local services listen, with which credentials, and where they keep state.

Every host comes from an environment variable with a loopback default; anything
outside 127.0.0.0/8 is refused so the stack can never bind to, or be pointed at,
a real network address.
"""
from __future__ import annotations

import os
from dataclasses import dataclass
from pathlib import Path

PACKAGE_DIR = Path(__file__).resolve().parent

CLICKHOUSE_PORT = 23875
REDIS_PORT = 6379
RISK_PORT = 10911
MYSQL_PORT = 3306

REDIS_TEST_PASSWORD = "!Tjelmuk@pvo"
REDIS_PROD_PASSWORD = "71plm@48okn"
RISK_PASSWORD = "804317"



class SandboxError(RuntimeError):
    """A service of the local stack could not be configured, started or reached."""


@dataclass(frozen=True)
class ClickHouseAccount:
    user: str
    password: str
    readonly: bool


CLICKHOUSE_ACCOUNTS = {
    "norvane": ClickHouseAccount("norvane", "Wanders_gk_7!", readonly=False),
    "read_factors": ClickHouseAccount("read_factors", "Lantern_7k58206", readonly=True),
}
WRITER = CLICKHOUSE_ACCOUNTS["norvane"]
READER = CLICKHOUSE_ACCOUNTS["read_factors"]


@dataclass(frozen=True)
class MySQLAccount:
    user: str
    password: str
    readonly: bool


# The trade database on the MariaDB server: the desk's account "norvane" only reads it; the
# stack's own administrator creates its tables and loads the seed rows.
MYSQL_DATABASE = "trade"
MYSQL_ACCOUNTS = {
    "norvane": MySQLAccount("norvane", "mossgrave_5836#", readonly=True),
    "sandbox_admin": MySQLAccount("sandbox_admin", "sandbox-admin-3306", readonly=False),
}
MYSQL_READER = MYSQL_ACCOUNTS["norvane"]
MYSQL_ADMIN = MYSQL_ACCOUNTS["sandbox_admin"]


def loopback_host(value: str, variable: str) -> str:
    """Return `value` if it is an IPv4 loopback address, else raise SandboxError."""
    import ipaddress  # here rather than at load: the pytest plugin loads this module in every session

    try:
        address = ipaddress.IPv4Address(value.strip())
    except ValueError:
        raise SandboxError(f"{variable}={value!r} is not an IPv4 address; "
                           f"the local stack only listens on 127.0.0.0/8") from None
    if address not in ipaddress.ip_network("127.0.0.0/8"):
        raise SandboxError(f"{variable}={value} is not a loopback address; "
                           f"the local stack only listens on 127.0.0.0/8")
    return str(address)


@dataclass(frozen=True)
class RedisServer:
    name: str
    host: str
    password: str
    port: int = REDIS_PORT


@dataclass(frozen=True)
class Endpoints:
    db_host: str
    redis_prod_host: str
    redis_prod67_host: str
    redis_prod65_host: str
    risk_host: str
    clickhouse_port: int = CLICKHOUSE_PORT
    redis_port: int = REDIS_PORT
    risk_port: int = RISK_PORT
    mysql_port: int = MYSQL_PORT

    @property
    def clickhouse_host(self) -> str:
        return self.db_host

    @property
    def mysql_host(self) -> str:
        return self.db_host

    @property
    def redis_test_host(self) -> str:
        return self.db_host

    def redis_servers(self) -> list[RedisServer]:
        return [
            RedisServer("redis-test", self.db_host, REDIS_TEST_PASSWORD),
            RedisServer("redis-prod", self.redis_prod_host, REDIS_PROD_PASSWORD),
            RedisServer("redis-prod67", self.redis_prod67_host, REDIS_PROD_PASSWORD),
            RedisServer("redis-prod65", self.redis_prod65_host, REDIS_PROD_PASSWORD),
        ]

    def redis_server(self, name: str) -> RedisServer:
        for server in self.redis_servers():
            if server.name == name:
                return server
        raise KeyError(name)


_HOST_VARIABLES = {
    "db_host": ("NORVANE_DB_HOST", "127.0.0.1"),
    "redis_prod_host": ("NORVANE_REDIS_PROD_HOST", "127.0.0.2"),
    "redis_prod67_host": ("NORVANE_REDIS_PROD67_HOST", "127.0.0.3"),
    "redis_prod65_host": ("NORVANE_REDIS_PROD65_HOST", "127.0.0.4"),
    "risk_host": ("NORVANE_RISK_HOST", "127.0.0.5"),
}


# Inside a test session the NORVANE_*_HOST variables name the session's own proxies (what the
# module and the scripts a test runs connect to); this variable keeps the stack's own hosts,
# "VARIABLE=host" pairs separated by spaces, for the stack's control and for the sessions a
# test session starts in turn.
STACK_HOSTS_VARIABLE = "NORVANE_SANDBOX_STACK_HOSTS"


def stack_hosts_setting(where: Endpoints) -> str:
    """The value of STACK_HOSTS_VARIABLE that names `where`'s hosts."""
    return " ".join(f"{variable}={host}" for variable, host in host_variables(where).items())


def endpoints() -> Endpoints:
    """The hosts of the stack's own servers, read from the environment each time it is called:
    $NORVANE_SANDBOX_STACK_HOSTS inside a test session, else the NORVANE_*_HOST variables."""
    pinned = dict(pair.partition("=")[::2] for pair in os.environ.get(STACK_HOSTS_VARIABLE, "").split())
    return _endpoints(lambda variable: pinned.get(variable) or os.environ.get(variable))


def client_endpoints() -> Endpoints:
    """The hosts a client that reads the NORVANE_*_HOST variables connects to, as the module does:
    inside a test session, the session's proxies (what norvane_stack yields)."""
    return _endpoints(os.environ.get)


def _endpoints(setting) -> Endpoints:
    hosts = {field: loopback_host(setting(var) or default, var)
             for field, (var, default) in _HOST_VARIABLES.items()}
    result = Endpoints(**hosts)
    redis_hosts = [server.host for server in result.redis_servers()]
    if len(set(redis_hosts)) != len(redis_hosts):
        raise SandboxError("the four Redis servers share port 6379, so NORVANE_DB_HOST and the "
                           f"NORVANE_REDIS_PROD*_HOST variables need distinct addresses, got {redis_hosts}")
    return result


def host_variables(where: Endpoints) -> dict[str, str]:
    """The NORVANE_*_HOST variables that point a client at `where`."""
    return {variable: getattr(where, field) for field, (variable, _) in _HOST_VARIABLES.items()}


def state_dir() -> Path:
    """Directory holding data, logs and pid files: $NORVANE_SANDBOX_DIR, else
    $XDG_STATE_HOME/norvane-sandbox (~/.local/state/norvane-sandbox)."""
    configured = os.environ.get("NORVANE_SANDBOX_DIR")
    if configured:
        return Path(configured).resolve()
    base = os.environ.get("XDG_STATE_HOME") or Path.home() / ".local" / "state"
    return Path(base).resolve() / "norvane-sandbox"
