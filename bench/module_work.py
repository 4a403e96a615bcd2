"""The module's own work, with no I/O: a signal upload and the equity reader against in-memory
stand-ins of the ClickHouse client and the Redis connections.

    .venv/bin/python bench/module_work.py [--rows 500] [--equity-rows 20000] [--repeats 15]

- upload: `fun_update_signal` of --rows signals with use_redis=True and a linked copy account
  (each repeat a new table, so that none is answered as unchanged);
- equity: `fun_read_equity` over a range whose answer holds --equity-rows rows (simulated days
  and real snapshots, as the stored query returns them).
Prints the median and the best wall time of each, and the calls the stand-ins received per
upload. Needs no running stack.
"""
from __future__ import annotations

import argparse
import datetime as dt
import statistics
import sys
import time
import types
from collections import Counter
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

import pandas as pd  # noqa: E402

import Norvane  # noqa: E402
from signal_upload import signals  # noqa: E402  (the bench's signal table)


class StandIn:
    """A ClickHouse client and a Redis connection in memory: statements are counted and dropped,
    hashes and keys kept in dicts, every call counted by name."""

    def __init__(self, answer=None):
        self.calls: Counter[str] = Counter()
        self.answer = answer
        self.hashes: dict[str, dict[str, str]] = {}
        self.keys: dict[str, str] = {}

    def command(self, statement, *args, **kwargs):
        self.calls["command"] += 1

    def query(self, statement, *args, **kwargs):
        self.calls["query"] += 1
        return self.answer

    def hset(self, name, key=None, value=None, mapping=None, items=None):
        self.calls["hset"] += 1
        fields = self.hashes.setdefault(name, {})
        if key is not None:
            fields[key] = value
        fields.update(mapping or {})
        return 1

    def hkeys(self, name):
        self.calls["hkeys"] += 1
        return list(self.hashes.get(name, {}))

    def hdel(self, name, *keys):
        self.calls["hdel"] += 1
        fields = self.hashes.get(name, {})
        return sum(fields.pop(key, None) is not None for key in keys)

    def set(self, name, value, ex=None, px=None, nx=False, **kwargs):
        self.calls["set"] += 1
        if nx and name in self.keys:
            return None
        self.keys[name] = value
        return True

    def eval(self, script, numkeys, *args):
        # The only script an upload runs: delete (or extend) a key if it still holds the token.
        self.calls["eval"] += 1
        key, token = args[0], args[1]
        if self.keys.get(key) != token:
            return 0
        if "pexpire" not in script.lower():
            del self.keys[key]
        return 1


def account(client, redis, copy_redis):
    trader = Norvane.Norvane.__new__(Norvane.Norvane)
    vars(trader).update(login=0, connect_tag=0, account_id="88001234", user_id="quant_a",
                        acquire_key="key", env="test", client=client, redis_conn=redis,
                        copy_redis_conn=copy_redis, if_copy=True, copy_account_id="99001234",
                        update_df=pd.DataFrame(), update_times=0)
    return trader


def equity_answer(count: int):
    """One row per day and source, as the stored query gives them: a simulated account's daily
    values (the placeholder time) and a real account's last snapshot of each day."""
    first = dt.date(1990, 1, 2)
    rows = []
    for n in range(count):
        day = first + dt.timedelta(days=n // 2)
        if n % 2:
            rows.append(("88001234", day, 1_000_000.0 + n * 0.25, dt.datetime(1970, 1, 1)))
        else:
            rows.append(("88001234", day, 1_000_000.0 + n * 0.5,
                         dt.datetime.combine(day, dt.time(15, n % 60, (n * 7) % 60))))
    return types.SimpleNamespace(result_set=rows,
                                 column_names=["account_id", "trading_day", "balance", "update_time"])


def timed(call, repeats: int) -> list[float]:
    call(-1)  # first call outside the measurement (imports, caches)
    times = []
    for repeat in range(repeats):
        start = time.perf_counter()
        call(repeat)
        times.append(time.perf_counter() - start)
    return times


def report(name: str, times: list[float]) -> None:
    print(f"{name:<34} median {statistics.median(times) * 1000:8.2f} ms"
          f"   best {min(times) * 1000:8.2f} ms")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=500)
    parser.add_argument("--equity-rows", type=int, default=20000)
    parser.add_argument("--repeats", type=int, default=15)
    args = parser.parse_args()

    client, redis, copy_redis = StandIn(), StandIn(), StandIn()
    trader = account(client, redis, copy_redis)

    def upload(repeat):
        answer = trader.fun_update_signal(signals(args.rows, "20991231", shift=repeat + 2.0), use_redis=True)
        assert answer["code"] == 0 and not answer["msg"].startswith("和上次一致"), answer

    report(f"upload, {args.rows} rows, copy account", timed(upload, args.repeats))
    uploads = args.repeats + 1
    for name, stand_in in (("ClickHouse", client), ("Redis", redis), ("copy Redis", copy_redis)):
        per_upload = {call: count / uploads for call, count in sorted(stand_in.calls.items())}
        print(f"  {name} calls per upload: {per_upload}")

    reader = account(StandIn(equity_answer(args.equity_rows)), StandIn(), StandIn())

    def equity(_):
        answer = reader.fun_read_equity("20240101", "20251231")
        assert answer["code"] == 0 and len(answer["data"]) == args.equity_rows, answer

    report(f"equity reader, {args.equity_rows} rows", timed(equity, args.repeats))


if __name__ == "__main__":
    main()
