"""Signal uploads on the local stack, as a desk makes them: use_redis=True and a linked copy
account.

    .venv/bin/python bench/signal_upload.py [--rows 500 5000] [--repeats 5]

For each row count, prints the median and the worst wall time of an upload, per upload the
ClickHouse statements and the Redis round trips (the account's Redis and the copy account's),
counted on the clients the account object holds: one counted call is one request on the wire, and
per kind of round trip (a statement by its first word, a Redis command by its name) the median,
the 99th percentile and the worst wall time: what the upload lock's expiry must cover, since each
statement may wait half of it.
Start and seed the stack first (`./dev stack start`, `./dev stack seed`).
"""
from __future__ import annotations

import argparse
import random
import statistics
import time
from collections import Counter, defaultdict

import pandas as pd

import Norvane
from norvane_sandbox.clients import clickhouse_client, redis_client
from norvane_sandbox.pytest_plugin import DeskAccount, register_account


class Counted:
    """Forwards to a client, counts its calls by method name and keeps each call's wall time by
    kind (a statement by its first word)."""

    def __init__(self, target, calls: Counter, times: defaultdict):
        self._target, self._calls, self._times = target, calls, times

    def __getattr__(self, name):
        value = getattr(self._target, name)
        if not callable(value):
            return value

        def counted(*args, **kwargs):
            self._calls[name] += 1
            start = time.perf_counter()
            try:
                return value(*args, **kwargs)
            finally:
                kind = name if name != "command" else str(args[0]).split()[0].lower()
                self._times[kind].append(time.perf_counter() - start)
        return counted

    def __setattr__(self, name, value):
        if name.startswith("_"):
            object.__setattr__(self, name, value)
        else:
            setattr(self._target, name, value)


def signals(count: int, day: str, shift: float) -> pd.DataFrame:
    return pd.DataFrame({
        "trading_day": [day] * count,
        "contract": [f"c{i:05d}" for i in range(count)],
        "position": [float(i % 17) + shift for i in range(count)],
        "direction": ["L", "S"] * (count // 2) + ["L"] * (count % 2),
        "order_typ": ["intraday_trading"] * count,
        "trade_time": ["D"] * count,
        "feature": [i % 2 for i in range(count)],
    })


def desk_account(number: int) -> Norvane.Norvane:
    tag = f"{time.time_ns() % 10**9:09d}{number}"
    account = DeskAccount(f"8b{tag}", f"key-{tag}", "bench", copy_id=f"9b{tag}")
    writer = clickhouse_client()
    try:
        register_account(writer, account)
    finally:
        writer.close()
    return Norvane.Norvane(*account.args)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, nargs="+", default=[500, 5000])
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()

    # A trading day of the bench's own, far ahead: its hash holds only the bench's fields, and is
    # removed at the end.
    day = f"2{random.randrange(10**6, 10**7)}"
    for number, rows in enumerate(args.rows):
        trader = desk_account(number)
        assert trader.if_copy, "the bench account has no copy account"
        statements, own, copy, times = Counter(), Counter(), Counter(), defaultdict(list)
        trader.client = Counted(trader.client, statements, times)
        trader.redis_conn = Counted(trader.redis_conn, own, times)
        trader.copy_redis_conn = Counted(trader.copy_redis_conn, copy, times)
        walls = []
        for repeat in range(args.repeats):
            table = signals(rows, day, shift=repeat * 0.5)
            start = time.perf_counter()
            answer = trader.fun_update_signal(table, use_redis=True)
            walls.append(time.perf_counter() - start)
            assert answer["code"] == 0 and not answer["msg"].startswith("和上次一致"), answer

        def per_upload(calls: Counter) -> str:
            total = sum(calls.values()) / args.repeats
            detail = ", ".join(f"{name} {count / args.repeats:g}" for name, count in sorted(calls.items()))
            return f"{total:g} ({detail})"

        print(f"{rows} rows, {args.repeats} uploads: median {statistics.median(walls):.3f} s,"
              f" worst {max(walls):.3f} s (each: {', '.join(f'{wall:.3f}' for wall in walls)})")
        print(f"  ClickHouse statements per upload: {per_upload(statements)}")
        print(f"  Redis round trips per upload: account {per_upload(own)}; copy account {per_upload(copy)}")
        for kind, spent in sorted(times.items()):
            spent = sorted(spent)
            p99 = spent[min(len(spent) - 1, int(len(spent) * 0.99))]
            print(f"  {kind:8} {len(spent):4} calls: median {statistics.median(spent) * 1000:7.1f} ms,"
                  f" p99 {p99 * 1000:7.1f} ms, worst {spent[-1] * 1000:7.1f} ms")
    # The bench takes its rows away again (a desk's table is seeded small).
    redis_client("redis-test").delete(day)
    writer = clickhouse_client()
    try:
        writer.command(f"ALTER TABLE factors.t_order_dtl DELETE WHERE trading_day = '{day}'")
    finally:
        writer.close()


if __name__ == "__main__":
    main()
