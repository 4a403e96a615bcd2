"""What a test session's own proxies cost: opening and closing them, and a round trip through them
against one straight to the shared server (median of many, each client's connection kept open).
Needs the local stack running (./dev stack start). Prints figures; asserts nothing.

    .venv/bin/python bench/session_proxies.py [ROUND_TRIPS]
"""
from __future__ import annotations

import statistics
import sys
import time

from norvane_sandbox.clients import clickhouse_client, mysql_client, redis_client
from norvane_sandbox.config import endpoints
from norvane_sandbox.session_proxies import SessionProxies


def median_ms(call, count: int) -> float:
    call()  # the connection opens outside the timing
    times = []
    for _ in range(count):
        began = time.perf_counter()
        call()
        times.append(time.perf_counter() - began)
    return 1000 * statistics.median(times)


def main() -> None:
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 500
    shared = endpoints()
    opens, closes = [], []
    for _ in range(10):
        began = time.perf_counter()
        proxies = SessionProxies(shared)
        opens.append(time.perf_counter() - began)
        began = time.perf_counter()
        proxies.close()
        closes.append(time.perf_counter() - began)
    print(f"a session's proxies (7 listeners): open {1000 * statistics.median(opens):.2f} ms, "
          f"close {1000 * statistics.median(closes):.2f} ms (median of 10)")

    proxies = SessionProxies(shared)
    try:
        print(f"{'round trip (median of ' + str(count) + ')':<34} {'direct':>9} {'proxy':>9}")
        kinds = {
            "Redis PING": lambda where: (redis_client("redis-test", where), lambda c: c.ping()),
            "ClickHouse SELECT 1 (HTTP)": lambda where: (clickhouse_client(where=where),
                                                         lambda c: c.command("SELECT 1")),
            "MariaDB SELECT 1": lambda where: (mysql_client(where=where),
                                               lambda c: c.cursor().execute("SELECT 1")),
        }
        for name, make in kinds.items():
            figures = []
            for where in (shared, proxies.endpoints):
                client, call = make(where)
                figures.append(median_ms(lambda: call(client), count))
                client.close()
            print(f"{name:<34} {figures[0]:>7.3f}ms {figures[1]:>7.3f}ms")
    finally:
        proxies.close()


if __name__ == "__main__":
    main()
