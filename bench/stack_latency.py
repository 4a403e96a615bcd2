"""Latency of the local stack's ClickHouse gateway through the official client, and of a signal
upload end to end.

Prints the median of a small query (`client.query("SELECT 1")`) and of a one-row INSERT by
`client.command`, over --samples calls each, and the median wall time of a --rows signal upload
with use_redis=True over --uploads uploads. Start the stack first (`./dev stack start`); run
with `.venv/bin/python bench/stack_latency.py`.
"""
from __future__ import annotations

import argparse
import statistics
import time
import uuid

import pandas as pd

import Norvane
from norvane_sandbox.clients import clickhouse_client
from norvane_sandbox.pytest_plugin import DeskAccount, register_account


def median_ms(call, samples: int) -> float:
    call()  # connection and session set up outside the measurement
    times = []
    for _ in range(samples):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times) * 1000


def signals(count: int, shift: float) -> pd.DataFrame:
    return pd.DataFrame({"trading_day": ["20991231"] * count,
                         "contract": [f"c{i:04d}" for i in range(count)],
                         "position": [float(i % 17) + shift for i in range(count)],
                         "direction": ["L"] * count, "order_typ": ["intraday_trading"] * count})


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--samples", type=int, default=40)
    parser.add_argument("--rows", type=int, default=500)
    parser.add_argument("--uploads", type=int, default=5)
    args = parser.parse_args()

    client = clickhouse_client()
    table = f"other.bench_{uuid.uuid4().hex[:8]}"
    # Like the stack's own tables (same engine and storage settings).
    client.command(f"CREATE TABLE {table} AS factors.TWAP_config")
    try:
        query = median_ms(lambda: client.query("SELECT 1"), args.samples)
        insert = median_ms(lambda: client.command(
            f"INSERT INTO {table} VALUES ('rb', 1, 30.0, 5.0, '8bench', '2099-12-31 09:00:00')"), args.samples)
    finally:
        client.command(f"DROP TABLE IF EXISTS {table}")

    number = uuid.uuid4().hex[:11]
    account = DeskAccount(f"8b{number}", f"key-{number}", "bench")
    register_account(client, account)
    trader = Norvane.Norvane(*account.args)
    walls = []
    for upload in range(args.uploads):
        start = time.perf_counter()
        answer = trader.fun_update_signal(signals(args.rows, upload * 0.5), use_redis=True)
        walls.append(time.perf_counter() - start)
        assert answer["code"] == 0 and not answer["msg"].startswith("和上次一致"), answer
    client.close()

    print(f"client.query('SELECT 1')        median {query:7.2f} ms over {args.samples} (target <= 2 ms)")
    print(f"one-row INSERT (client.command) median {insert:7.2f} ms over {args.samples} (target <= 2 ms)")
    print(f"{args.rows}-signal upload, use_redis  median {statistics.median(walls):7.3f} s over "
          f"{args.uploads} (target <= 1.0 s)")


if __name__ == "__main__":
    main()
