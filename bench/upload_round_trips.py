"""How long each round trip of an upload takes on the local stack: what the upload lock's expiry
must cover (each statement may wait half of it, each renewal and hash pass one Redis command).

    .venv/bin/python bench/upload_round_trips.py [--rows 10 1000] [--repeats 30]

For each row count, prints per kind of round trip (the lock's renewals and its taking and giving
back, the hash passes, the retire statement, the insert) the median, the 99th percentile and the
worst wall time, and the worst of the whole write phase from the lock's taking to its giving back.
Start the stack first (`./dev stack start`).
"""
from __future__ import annotations

import argparse
import random
import statistics
import time
from collections import defaultdict

from norvane_sandbox.clients import clickhouse_client, redis_client
from signal_upload import desk_account, signals


class Timed:
    """Forwards to a client and keeps the wall time of each call, by method name (a statement by
    its first word)."""

    def __init__(self, target, times):
        self._target, self._times = target, times

    def __getattr__(self, name):
        value = getattr(self._target, name)
        if not callable(value):
            return value

        def timed(*args, **kwargs):
            start = time.perf_counter()
            try:
                return value(*args, **kwargs)
            finally:
                kind = name if name != "command" else str(args[0]).split()[0].lower()
                self._times[kind].append(time.perf_counter() - start)
        return timed

    def __setattr__(self, name, value):
        if name.startswith("_"):
            object.__setattr__(self, name, value)
        else:
            setattr(self._target, name, value)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, nargs="+", default=[10, 1000])
    parser.add_argument("--repeats", type=int, default=30)
    args = parser.parse_args()

    day = f"2{random.randrange(10**6, 10**7)}"
    for number, rows in enumerate(args.rows):
        trader = desk_account(number)
        times = defaultdict(list)
        trader.client = Timed(trader.client, times)
        trader.redis_conn = Timed(trader.redis_conn, times)
        trader.copy_redis_conn = Timed(trader.copy_redis_conn, times)
        walls = []
        for repeat in range(args.repeats):
            start = time.perf_counter()
            answer = trader.fun_update_signal(signals(rows, day, shift=repeat * 0.5), use_redis=True)
            walls.append(time.perf_counter() - start)
            assert answer["code"] == 0, answer
        print(f"{rows} rows, {args.repeats} uploads (each with its copy account): "
              f"whole upload median {statistics.median(walls) * 1000:.1f} ms, worst {max(walls) * 1000:.1f} ms")
        for kind, spent in sorted(times.items()):
            spent = sorted(spent)
            p99 = spent[min(len(spent) - 1, int(len(spent) * 0.99))]
            print(f"  {kind:8} {len(spent):4} calls: median {statistics.median(spent) * 1000:7.1f} ms,"
                  f" p99 {p99 * 1000:7.1f} ms, worst {spent[-1] * 1000:7.1f} ms")
    redis_client("redis-test").delete(day)
    writer = clickhouse_client()
    try:
        writer.command(f"ALTER TABLE factors.t_order_dtl DELETE WHERE trading_day = '{day}'")
    finally:
        writer.close()


if __name__ == "__main__":
    main()
