"""A desk job that uploads one signal table, for the tests of uploads that meet.

    python uploader.py ACCOUNT_ID KEY USER PREFIX ROWS START [hold]

Logs in, waits until the wall clock reads START (seconds since the epoch), uploads ROWS contracts
named PREFIX000, PREFIX001, ... with use_redis=True and prints the answer as JSON. With "hold",
its uploads' locks last 2 s, and it stops at its first ClickHouse statement, printing "holding",
until it is killed.
"""
import json
import sys
import time

import pandas as pd

import Norvane

DAY = "20991205"


class HoldAtFirstStatement:
    def __init__(self, client):
        self.client = client

    def command(self, statement):
        print("holding", flush=True)
        time.sleep(600)


def table(prefix: str, rows: int) -> pd.DataFrame:
    return pd.DataFrame({"trading_day": [DAY] * rows, "contract": [f"{prefix}{i:03d}" for i in range(rows)],
                         "position": [float(i) for i in range(rows)], "direction": ["L"] * rows,
                         "order_typ": ["call_auction"] * rows})


def main(account_id, key, user, prefix, rows, start, hold=None):
    trader = Norvane.Norvane(account_id, key, user)
    if hold:
        Norvane._upload_expiry_seconds = 2
        trader.client = HoldAtFirstStatement(trader.client)
    signals = table(prefix, int(rows))
    time.sleep(max(0.0, float(start) - time.time()))
    try:
        answer = trader.fun_update_signal(signals, use_redis=True)
    except Exception as error:  # noqa: BLE001 - the test reads what the job would have seen
        answer = {"error": repr(error)}
    print(json.dumps(answer, ensure_ascii=False), flush=True)


if __name__ == "__main__":
    main(*sys.argv[1:])
