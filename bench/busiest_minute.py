"""A desk's busiest minute on the local stack: N desk jobs, each its own process and its own
account with a copy account, uploading at the same moment, as the jobs before the auction do.

    .venv/bin/python bench/busiest_minute.py [--accounts 20] [--uploads 2] [--rows 500]

Prints the wall time from the common start to the last upload's end, the median and the slowest
upload, and whether every account's day (and its copy account's) holds its last upload whole:
live rows and hash fields alike. Start and seed the stack first (`./dev stack start`). The bench
takes its rows and hash fields away again.
"""
from __future__ import annotations

import argparse
import json
import multiprocessing
import random
import statistics
import time

import pandas as pd

from norvane_sandbox.clients import clickhouse_client, redis_client
from norvane_sandbox.pytest_plugin import DeskAccount, register_account


def table(day: str, rows: int, upload: int) -> pd.DataFrame:
    return pd.DataFrame({"trading_day": [day] * rows, "contract": [f"c{i:04d}" for i in range(rows)],
                         "position": [float(i % 17 + upload) for i in range(rows)], "direction": ["L"] * rows,
                         "order_typ": ["call_auction"] * rows})


def desk_job(args) -> tuple[list[float], float, float]:
    """One desk job: logs in, waits for the common start, uploads. Returns the upload times in
    seconds, and when (seconds since the epoch) it was ready and when it ended."""
    account_args, day, rows, uploads, start = args
    import Norvane

    trader = Norvane.Norvane(*account_args)
    tables = [table(day, rows, upload) for upload in range(uploads)]
    ready = time.time()
    time.sleep(max(0.0, start - ready))
    times = []
    for signals in tables:
        began = time.perf_counter()
        answer = trader.fun_update_signal(signals, use_redis=True)
        times.append(time.perf_counter() - began)
        assert answer["code"] == 0, answer
    return times, ready, time.time()


def day_of(writer, hash_fields: dict[str, str], account_id: str, day: str) -> tuple[dict, dict]:
    rows = writer.query("SELECT contract, position FROM factors.t_order_dtl WHERE account_id = {id:String}"
                        " AND trading_day = {day:String} AND delete_tag IS NULL",
                        parameters={"id": account_id, "day": day}).result_rows
    live = dict(rows) if len(dict(rows)) == len(rows) else {"a contract is live twice": 0}
    fields = {name.split("_", 1)[1]: json.loads(record)["position"]
              for name, record in hash_fields.items() if name.startswith(f"{account_id}_")}
    return live, fields


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--accounts", type=int, default=20)
    parser.add_argument("--uploads", type=int, default=2)
    parser.add_argument("--rows", type=int, default=500)
    args = parser.parse_args()

    day = f"2{random.randrange(10**6, 10**7)}"  # a day of the bench's own, removed at the end
    tag = f"{time.time_ns() % 10**8:08d}"
    accounts = [DeskAccount(f"8m{tag}{n:02d}", f"key-{tag}{n}", "bench", copy_id=f"9m{tag}{n:02d}")
                for n in range(args.accounts)]
    writer = clickhouse_client()
    try:
        for account in accounts:
            register_account(writer, account)
        start = time.time() + 5 + args.accounts * 0.5  # every job has logged in by then
        with multiprocessing.get_context("spawn").Pool(args.accounts) as pool:
            jobs = pool.map(desk_job, [(account.args, day, args.rows, args.uploads, start) for account in accounts])
        late = sum(ready > start for _, ready, _ in jobs)
        wall = max(end for _, _, end in jobs) - start
        expected = {row.contract: row.position for row in table(day, args.rows, args.uploads - 1).itertuples()}
        hash_fields = redis_client("redis-test").hgetall(day)
        wrong = [account_id for account in accounts for account_id in (account.id, account.copy_id)
                 if day_of(writer, hash_fields, account_id, day) != (expected, expected)]
    finally:
        redis_client("redis-test").delete(day)
        writer.command(f"ALTER TABLE factors.t_order_dtl DELETE WHERE trading_day = '{day}'")
        writer.close()
    every = [seconds for times, _, _ in jobs for seconds in times]
    if late:
        print(f"{late} jobs logged in after the start: the wall time includes their start-up")
    print(f"{args.accounts} accounts x {args.uploads} uploads of {args.rows} rows (each with its copy account):"
          f" wall {wall:.2f} s, upload median {statistics.median(every):.3f} s, slowest {max(every):.3f} s")
    print("every day right" if not wrong else f"days not right: {wrong}")


if __name__ == "__main__":
    main()
