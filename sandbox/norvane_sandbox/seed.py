"""Demo data for the local stack: one real account with its copy account, one simulated
account, a real account the risk platform refuses, their history, parameters and factors,
plus the live keys in Redis.

The rows live in readable files under sandbox/seed/: one CSV per ClickHouse table
(named <database>.<table>.csv), one per table of the MariaDB trade database under
seed/mariadb/ (an empty field is NULL) and redis.json.

Two ways to load them:
- `seed()` (the command `norvane-sandbox seed`) replaces the data: it empties each seeded table
  and rewrites each seeded Redis key, so running it again gives the same data.
- `seed_once()` (every test session) seeds each service only when it does not hold this version
  of the data yet, marked in the service itself, and otherwise writes and empties nothing, so
  sessions side by side never disturb each other's rows.
"""
from __future__ import annotations

import json
from pathlib import Path

from .config import PACKAGE_DIR, RISK_PASSWORD, Endpoints, endpoints

SEED_DIR = PACKAGE_DIR / "seed"
CLICKHOUSE_SEED_DIR = SEED_DIR / "clickhouse"
MARIADB_SEED_DIR = SEED_DIR / "mariadb"
REDIS_SEED_FILE = SEED_DIR / "redis.json"
# Redis servers that carry the live keys; the other two start empty.
SEEDED_REDIS = ("redis-test", "redis-prod")

DEMO = {
    "real_account": "88001234",
    "real_account_key": "ak-88001234",
    "acquire_info_key": "kA7-demo-key",
    "closed_acquire_info_key": "kA7-old-key",
    "copy_account": "88005678",
    "copy_acquire_info_key": "kC9-copy-key",
    "withdrawn_copy_account": "88004321",
    "sim_account": "sim_demo_01",
    "sim_acquire_info_key": "kS3-demo-key",
    "other_account": "88009999",
    "user_id": "demo_user",
    "env": "test",
    "strategy": "cta_demo",
    "trade_flag": "T",
    "market_value": 1000000.0,
    "open_zip_enddate": "2500-12-31 00:00:00",
    "trading_days": ("2025-08-27", "2025-08-28", "2025-08-29"),
    "live_trading_day": "2025-08-29",
    "signal_days": ("20250828", "20250829"),
    "split_modes": ("4321001", "4321002"),
    "min_open_category": "单笔最小开仓量",
    "risk_uid": "88001234",
    # A registered real account whose login the risk platform refuses.
    "risk_locked_account": "88003579",
    "risk_locked_acquire_info_key": "kL2-demo-key",
    "risk_password": RISK_PASSWORD,
    "deals_key": "88001234_20250829",
    "factors": ("Factor_Momentum_Long", "Factor_Warehouse", "Factor_Skew", "Factor_Inventory",
                "Factor_Momentum_Mid", "Factor_Profit", "Factor_RuleBased_Long", "Factor_Basis_TS",
                "Factor_CSMom_Long", "Factor_Basis_Mom"),
    "extra_factors": ("Factor_Carry", "Factor_Volatility"),
    # Research and administration: risk configuration, the MariaDB trade database.
    "max_open_category": "单笔最大开仓量",
    "other_acquire_info_key": "kZ1-other-key",
    "other_user_id": "other_user",
    "products": ("北辰CTA一号", "北辰CTA二号"),      # both registered for the real account
    "seven_char_contract": "rb2510C",                # left out of the post-trade sums
    "twice_listed_commodity": "i",                   # two rows in trade.commodity_info
    "return_days": ("20250827", "20250829"),         # first and last day of the demo returns
}


def clickhouse_seed_files() -> dict[str, Path]:
    """Qualified table name -> its CSV file."""
    return {path.stem: path for path in sorted(CLICKHOUSE_SEED_DIR.glob("*.csv"))}


def mariadb_seed_files() -> dict[str, Path]:
    """Qualified table name -> its CSV file."""
    return {path.stem: path for path in sorted(MARIADB_SEED_DIR.glob("*.csv"))}


def redis_seed() -> dict:
    return json.loads(REDIS_SEED_FILE.read_text(encoding="utf-8"))


def seed_clickhouse(where: Endpoints | None = None) -> dict[str, int]:
    """Replace the rows of every seeded table. Returns table -> rows written."""
    from .clients import clickhouse_client

    client = clickhouse_client(where=where)
    written = {}
    try:
        for table, path in clickhouse_seed_files().items():
            client.command(f"TRUNCATE TABLE {table}")
            summary = client.raw_insert(table, insert_block=path.read_bytes(), fmt="CSVWithNames")
            written[table] = summary.written_rows
    finally:
        client.close()
    return written


def seed_mariadb(where: Endpoints | None = None) -> dict[str, int]:
    """Replace the rows of every seeded table of the trade database. Returns table -> rows."""
    import csv

    from .mariadb_server import connect

    connection = connect(where or endpoints(), autocommit=True)
    written = {}
    try:
        with connection.cursor() as cursor:
            for table, path in mariadb_seed_files().items():
                with open(path, encoding="utf-8", newline="") as source:
                    reader = csv.reader(source)
                    columns = next(reader)
                    rows = [[value if value != "" else None for value in row] for row in reader]
                cursor.execute(f"TRUNCATE TABLE {table}")
                cursor.executemany(f"INSERT INTO {table} ({', '.join(columns)}) "
                                   f"VALUES ({', '.join(['%s'] * len(columns))})", rows)
                written[table] = len(rows)
    finally:
        connection.close()
    return written


def seed_redis(where: Endpoints | None = None, version: str | None = None) -> dict[str, int]:
    """Rewrite the seeded keys on the test and prod Redis (and mark them with `version`).
    Returns server -> keys written."""
    from .clients import redis_client

    data = redis_seed()
    written = {}
    for name in SEEDED_REDIS:
        connection = redis_client(name, where)
        try:
            pipe = connection.pipeline(transaction=True)
            for key, text in data["strings"].items():
                pipe.set(key, text)
            for key, items in data["lists"].items():
                pipe.delete(key)
                pipe.rpush(key, *items)
            for key, fields in data["hashes"].items():
                pipe.delete(key)
                pipe.hset(key, mapping=fields)
            if version is not None:
                pipe.set(REDIS_VERSION_KEY, version)
            pipe.execute()
        finally:
            connection.close()
        written[name] = sum(len(data[kind]) for kind in ("strings", "lists", "hashes"))
    return written


# Where each service keeps the version of the demo data it holds.
VERSION_TABLE = "other.sandbox_seed"          # ClickHouse
MARIADB_VERSION_TABLE = "trade.sandbox_seed"  # MariaDB
REDIS_VERSION_KEY = "norvane-sandbox:seed"    # each seeded Redis
_CREATE_VERSION_TABLE = f"CREATE TABLE IF NOT EXISTS {VERSION_TABLE} (version String) ENGINE = MergeTree ORDER BY tuple()"


def seed_version() -> str:
    """A digest of every seed file: a change to the demo data is a new version."""
    import hashlib  # here rather than at load: the pytest plugin loads this module in every session

    digest = hashlib.sha256()
    for path in sorted(SEED_DIR.rglob("*")):
        if path.is_file():
            digest.update(path.relative_to(SEED_DIR).as_posix().encode() + b"\0" + path.read_bytes())
    return digest.hexdigest()[:16]


def _clickhouse_version(where: Endpoints) -> str | None:
    from .clients import clickhouse_client

    client = clickhouse_client(where=where)
    try:
        client.command(_CREATE_VERSION_TABLE)
        rows = client.query(f"SELECT version FROM {VERSION_TABLE}").result_rows
        return rows[0][0] if len(rows) == 1 else None
    finally:
        client.close()


def _mark_clickhouse(where: Endpoints, version: str) -> None:
    from .clients import clickhouse_client

    client = clickhouse_client(where=where)
    try:
        client.command(_CREATE_VERSION_TABLE)
        client.command(f"TRUNCATE TABLE {VERSION_TABLE}")
        client.command(f"INSERT INTO {VERSION_TABLE} VALUES (%(version)s)", parameters={"version": version})
    finally:
        client.close()


def _mariadb_version(where: Endpoints, mark: str | None = None) -> str | None:
    """The version the trade database holds; with `mark`, it is set to `mark` first."""
    from .mariadb_server import connect

    connection = connect(where, autocommit=True)
    try:
        with connection.cursor() as cursor:
            cursor.execute(f"CREATE TABLE IF NOT EXISTS {MARIADB_VERSION_TABLE} (version VARCHAR(64) NOT NULL)")
            if mark is not None:
                cursor.execute(f"DELETE FROM {MARIADB_VERSION_TABLE}")
                cursor.execute(f"INSERT INTO {MARIADB_VERSION_TABLE} VALUES (%s)", (mark,))
            cursor.execute(f"SELECT version FROM {MARIADB_VERSION_TABLE}")
            rows = cursor.fetchall()
            return rows[0][0] if len(rows) == 1 else None
    finally:
        connection.close()


def _redis_versions(where: Endpoints) -> list[str | None]:
    from .clients import redis_client

    versions = []
    for name in SEEDED_REDIS:
        connection = redis_client(name, where)
        try:
            versions.append(connection.get(REDIS_VERSION_KEY))
        finally:
            connection.close()
    return versions


def seed_once(where: Endpoints | None = None) -> list[str]:
    """Seed each service (ClickHouse, MariaDB, the Redis servers) that does not hold this version
    of the demo data yet; the others are left as they are. Returns the services seeded now."""
    where = where or endpoints()
    version = seed_version()
    seeded = []
    if _clickhouse_version(where) != version:
        seed_clickhouse(where)
        _mark_clickhouse(where, version)
        seeded.append("clickhouse")
    if _mariadb_version(where) != version:
        seed_mariadb(where)
        _mariadb_version(where, mark=version)
        seeded.append("mariadb")
    if any(found != version for found in _redis_versions(where)):
        seed_redis(where, version)
        seeded.append("redis")
    return seeded


def seed(where: Endpoints | None = None) -> dict[str, dict[str, int]]:
    """Replace the demo data of the running stack (ClickHouse through the gateway, MariaDB, Redis)."""
    where = where or endpoints()
    version = seed_version()
    written = {"clickhouse": seed_clickhouse(where), "mariadb": seed_mariadb(where),
               "redis": seed_redis(where, version)}
    _mark_clickhouse(where, version)
    _mariadb_version(where, mark=version)
    return written
