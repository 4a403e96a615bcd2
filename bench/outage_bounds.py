"""How long a desk waits when a server is down (connections refused) or frozen (connections hang),
for each kind of call, on the local stack.

    .venv/bin/python bench/outage_bounds.py [--only redis clickhouse mysql risk long]

For each server and state, prints each call's wall time and what it answered (the error's type, or
the record's code). The README's table of bounds is this script's output beside the bound each
call has by design. Start and seed the stack first (`./dev stack start`, `./dev stack seed`); the
script stops and freezes its services one at a time and brings each back. A frozen ClickHouse
costs each call its 15 s of silence (10 s while a client opens), a frozen MySQL query its read
bound (120 s). Last, a 20 s query through the account object's own client on the live stack: the
server's progress headers keep it alive past the 15 s.
"""
from __future__ import annotations

import argparse
import time

import pandas as pd

import Norvane
from norvane_sandbox import stack
from norvane_sandbox.clients import clickhouse_client
from norvane_sandbox.pytest_plugin import DeskAccount, register_account
from norvane_sandbox.seed import DEMO

DAY = "20991207"
TWAP = {"commodity": ["ag"], "if_twap": [1], "time_gap": [30], "volume": [5]}
LONG_QUERY = "SELECT number, sleepEachRow(0.5) FROM numbers(40) SETTINGS max_block_size = 1"  # 20 s


def desk_account() -> DeskAccount:
    tag = f"{time.time_ns() % 10**9:09d}"
    account = DeskAccount(f"8o{tag}", f"key-{tag}", "bench")
    writer = clickhouse_client()
    try:
        register_account(writer, account)
    finally:
        writer.close()
    return account


def signals(position: float) -> pd.DataFrame:
    return pd.DataFrame({"trading_day": [DAY] * 3, "contract": ["rb2601", "m2601", "IF2512"],
                         "position": [position] * 3, "direction": ["L"] * 3, "order_typ": ["call_auction"] * 3})


def calls(account: DeskAccount, trader: Norvane.Norvane, server: str):
    """The calls that meet `server`, each as (name, function)."""
    uploads = iter(range(1, 10**6))
    upload = ("upload", lambda: trader.fun_update_signal(signals(next(uploads)), use_redis=True))
    return {
        "redis": [("constructor", lambda: Norvane.Norvane(*account.args)), upload,
                  ("live view", trader.fun_redis_position)],
        "clickhouse": [("constructor", lambda: Norvane.Norvane(*account.args)), upload,
                       ("read", lambda: trader.fun_read_signal(DAY, DAY)),
                       ("deletion", lambda: trader.fun_delete_signal(DAY, "call_auction", "09:00:00")),
                       ("TWAP settings", lambda: trader.fun_update_TWAP_info(TWAP)),
                       ("trading flag", lambda: trader.fun_update_sts(True)),
                       ("split-mode log", trader.fun_back_to_default_split_mode),
                       ("factor reader", lambda: Norvane.Norvane.factors_value("net", "20250829", "20250829"))],
        "mysql": [("mysql_248", lambda: Norvane.Norvane.mysql_248("select 1"))],
        "risk": [("real-time read", Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"],
                                                    DEMO["user_id"]).fun_read_deal)],
    }[server]


def outcome(answer) -> str:
    if isinstance(answer, BaseException):
        return type(answer).__name__
    if isinstance(answer, dict):
        return f"code {answer.get('code')}: {str(answer.get('msg', ''))[:40]}"
    return type(answer).__name__


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", nargs="+", default=["redis", "clickhouse", "mysql", "risk", "long"])
    args = parser.parse_args()
    account = desk_account()
    trader = Norvane.Norvane(*account.args)
    print(f"{'server':<11} {'state':<7} {'call':<15} {'waited':>8}  answer")
    for server in args.only:
        if server == "long":
            began = time.monotonic()
            rows = trader.client.query(LONG_QUERY).result_rows
            print(f"{'clickhouse':<11} {'live':<7} {'20 s query':<15} {time.monotonic() - began:7.2f}s  "
                  f"{len(rows)} rows of 40", flush=True)
            continue
        measured = calls(account, trader, server)
        for state in ("down", "frozen"):
            if state == "down":
                stack.stop([server])
            else:
                stack.pause(server)
            try:
                for name, call in measured:
                    began = time.monotonic()
                    try:
                        answer = call()
                    except Exception as error:  # noqa: BLE001 - the answer is what is measured
                        answer = error
                    print(f"{server:<11} {state:<7} {name:<15} {time.monotonic() - began:7.2f}s  {outcome(answer)}",
                          flush=True)
            finally:
                if state == "down":
                    stack.start()
                else:
                    stack.resume(server)
        # The account's upload lock may be held after a write that timed out: let it lapse.
        time.sleep(Norvane._upload_expiry_seconds if server in ("redis", "clickhouse") else 0)


if __name__ == "__main__":
    main()
