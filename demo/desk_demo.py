"""A desk script on the local stack: open the seeded real account and show what it holds.

Run it through `./dev demo`, which starts and seeds the stack first.
"""
import Norvane
from sandbox.seed import DEMO


def main():
    print(f"== account object for {DEMO['real_account']} (env test)")
    account = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"], "test")
    print(f"   login={account.login} connect_tag={account.connect_tag}"
          f" usable={account.login + account.connect_tag == 0}")
    print(f"   copy account: if_copy={account.if_copy} copy_account_id={getattr(account, 'copy_account_id', None)}")
    print(f"   redis: {account.redis_conn.connection_pool.connection_kwargs['host']}"
          f"  copy redis: {account.copy_redis_conn.connection_pool.connection_kwargs['host']}")

    print("== the same account with a wrong key")
    refused = Norvane.Norvane(DEMO["real_account"], "not-the-key", DEMO["user_id"])
    print(f"   login={refused.login} (refused by every guarded method)")


def show(label, record, rows=3):
    """One line for a reader's record, then its first rows."""
    data = record.get("data")
    size = f", {len(data)} rows" if isinstance(data, list) else ""
    print(f"   {label}: code={record['code']} msg={record['msg']!r}{size}")
    if isinstance(data, dict):
        print(f"      {data}")
    for row in (data or [])[:rows] if isinstance(data, list) else []:
        print(f"      {row}")


def history_readers():
    """Orders, deals, positions and equity: current from the risk platform, stored by range."""
    start, end = (day.replace("-", "") for day in (DEMO["trading_days"][0], DEMO["trading_days"][-1]))
    real = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"])
    print(f"== trading records of {DEMO['real_account']}: today's from the risk platform")
    show("orders", real.fun_read_order(), rows=1)
    show("deals", real.fun_read_deal(), rows=1)
    show("positions", real.fun_read_position(), rows=1)
    show("funds", real.fun_read_equity())
    print(f"== stored history {start}..{end}")
    show("orders", real.fun_read_order(start, end), rows=2)
    deals = real.fun_read_deal(start, end)
    show("deals (both stored tables, nothing removed)", deals, rows=0)
    ids = [row["trade_id"] for row in deals["data"]]
    print(f"      trade ids: {sorted(ids)}")
    show("positions", real.fun_read_position(start, end), rows=2)
    show("equity (latest snapshot of each day)", real.fun_read_equity(start, end))
    show("one date only", real.fun_read_order(start))

    simulated = Norvane.Norvane(DEMO["sim_account"], DEMO["sim_acquire_info_key"], DEMO["user_id"])
    print(f"== simulated account {DEMO['sim_account']}")
    show("orders", simulated.fun_read_order(start, end))
    show("deals", simulated.fun_read_deal(start, end), rows=2)
    show("positions", simulated.fun_read_position(start, end), rows=2)
    show("equity (daily values; update_time is a placeholder)", simulated.fun_read_equity(start, end))
    show("no dates", simulated.fun_read_deal())

    locked = Norvane.Norvane(DEMO["risk_locked_account"], DEMO["risk_locked_acquire_info_key"], DEMO["user_id"])
    print(f"== {DEMO['risk_locked_account']}, refused by the risk platform")
    show("orders", locked.fun_read_order())


if __name__ == "__main__":
    main()
    history_readers()
