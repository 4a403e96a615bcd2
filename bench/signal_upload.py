"""Upload of 500 signals with use_redis=True to the local stack, repeated.

Prints the wall time per upload and the share of it spent outside the ClickHouse and Redis
client calls, i.e. in the module's own work (checks, normalisation, comparison, statement text).
Start the stack first (`./dev stack start`); run with `.venv/bin/python bench/signal_upload.py`.
"""
from __future__ import annotations

import argparse
import time
import uuid

import pandas as pd

import Norvane
from norvane_sandbox.clients import clickhouse_client


class Timed:
    """Forwards to a client and adds the time spent in its calls to a shared total."""

    def __init__(self, target, total: list[float], names: tuple[str, ...]):
        self._target, self._total, self._names = target, total, names

    def __getattr__(self, name):
        value = getattr(self._target, name)
        if name not in self._names:
            return value

        def timed(*args, **kwargs):
            start = time.perf_counter()
            try:
                return value(*args, **kwargs)
            finally:
                self._total[0] += time.perf_counter() - start
        return timed


def signals(count: int, day: str, shift: float) -> pd.DataFrame:
    return pd.DataFrame({
        "trading_day": [day] * count,
        "contract": [f"c{i:04d}" for i in range(count)],
        "position": [float(i % 17) + shift for i in range(count)],
        "direction": ["L", "S"] * (count // 2) + ["L"] * (count % 2),
        "order_typ": ["intraday_trading"] * count,
        "trade_time": ["D"] * count,
        "feature": [i % 2 for i in range(count)],
    })


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=500)
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()

    account_id = "8b" + uuid.uuid4().hex[:10]
    clickhouse_client().command(
        "INSERT INTO factors.t_account_info (account_id, account_key, market_value, strategy,"
        " trade_flag, acquire_info_key, user_id, zip_begindate, zip_enddate, env) VALUES"
        f" ('{account_id}', 'ak', 1.0, 'bench', 'T', 'bench-key', 'bench', '2020-01-01 00:00:00',"
        " '2500-12-31 00:00:00', 'test')")
    account = Norvane.Norvane(account_id, "bench-key", "bench")
    inside = [0.0]
    account.client = Timed(account.client, inside, ("command", "query"))
    account.redis_conn = Timed(account.redis_conn, inside, ("hset", "hkeys", "hdel"))

    walls, shares = [], []
    for repeat in range(args.repeats):
        table = signals(args.rows, "20991231", shift=repeat * 0.5)
        inside[0] = 0.0
        start = time.perf_counter()
        answer = account.fun_update_signal(table, use_redis=True)
        wall = time.perf_counter() - start
        assert answer["code"] == 0 and not answer["msg"].startswith("和上次一致"), answer
        walls.append(wall)
        shares.append((wall - inside[0]) / wall)
        print(f"upload {repeat + 1}: wall {wall * 1000:8.1f} ms   client calls"
              f" {inside[0] * 1000:8.1f} ms   module's own {(wall - inside[0]) * 1000:6.1f} ms"
              f" ({shares[-1]:.2%})")
    print(f"rows per upload: {args.rows}, repeats: {args.repeats}")
    print(f"mean wall per upload: {sum(walls) / len(walls) * 1000:.1f} ms")
    print(f"module's own share: mean {sum(shares) / len(shares):.2%}, max {max(shares):.2%}"
          " (target <= 5%)")


if __name__ == "__main__":
    main()
