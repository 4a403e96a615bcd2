"""Clients for the running stack, configured from the current endpoints."""
from __future__ import annotations

import clickhouse_connect
import redis

from .config import MYSQL_ADMIN, WRITER, ClickHouseAccount, Endpoints, MySQLAccount, endpoints
from .mariadb_server import connect as _mysql_connect
from .redis_servers import client as _redis_client


def clickhouse_client(account: ClickHouseAccount = WRITER, where: Endpoints | None = None, **options):
    """An unmodified clickhouse_connect client logged in to the gateway as `account`."""
    where = where or endpoints()
    return clickhouse_connect.get_client(host=where.clickhouse_host, port=where.clickhouse_port,
                                         username=account.user, password=account.password, **options)


def redis_client(name: str = "redis-test", where: Endpoints | None = None) -> redis.Redis:
    """A client for one of redis-test, redis-prod, redis-prod67, redis-prod65 (text answers)."""
    return _redis_client((where or endpoints()).redis_server(name))


def mysql_client(account: MySQLAccount = MYSQL_ADMIN, where: Endpoints | None = None, **options):
    """A pymysql connection to the trade database of the stack's MariaDB server as `account`."""
    return _mysql_connect(where or endpoints(), account, **options)
