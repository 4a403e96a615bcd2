"""A desk script on the local stack: open the seeded real account and show what it holds.

Run it through `./dev demo`, which starts and seeds the stack first.
"""
import pandas as pd

import Norvane
from norvane_sandbox.seed import DEMO

SIGNAL_DAY = "20991230"  # a day of the demo's own; seeding the stack clears the signal table


def show_signals(account, clean=True):
    view = "clean" if clean else "full"
    rows = account.fun_read_signal(SIGNAL_DAY, SIGNAL_DAY, clean=clean)["data"]
    print(f"   {view} view: " + ", ".join(
        f"{row['contract']} {row['direction']} {row['position']:g}" for row in rows))


def signals_demo(account):
    first, last = DEMO["signal_days"][0], DEMO["signal_days"][-1]
    stored = account.fun_read_signal(first, last)["data"]
    print(f"== seeded signals {first}..{last}: " + ", ".join(
        f"{row['trading_day']} {row['contract']} {row['position']:g}" for row in stored))
    print(f"== trading signals for {SIGNAL_DAY}")
    targets = pd.DataFrame({
        "trading_day": [SIGNAL_DAY] * 3, "contract": ["rb2605", "i2605", "cu2605"],
        "position": [12, 4, 1], "direction": ["L", "S", "L"],
        "order_typ": ["call_auction"] * 3, "trade_time": ["D"] * 3})
    print("   upload:", account.fun_update_signal(targets, use_redis=True))
    print("   same table again:", account.fun_update_signal(targets, use_redis=True))
    show_signals(account)
    revised = targets[targets.contract != "cu2605"].assign(position=[15, 2])
    print("   revised upload (cu2605 dropped):", account.fun_update_signal(revised, use_redis=True))
    show_signals(account)
    show_signals(account, clean=False)
    fields = sorted(account.redis_conn.hkeys(SIGNAL_DAY))
    print(f"   signal hash {SIGNAL_DAY}: {', '.join(fields)}")
    print("   rejected (no order_typ):", account.fun_update_signal(targets.drop(columns="order_typ")))
    print("   delete i2605:", account.fun_delete_signal(SIGNAL_DAY, "call_auction", "D", ["i2605"]))
    show_signals(account)


def main():
    print(f"== account object for {DEMO['real_account']} (env test)")
    account = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"], "test")
    print(f"   login={account.login} connect_tag={account.connect_tag}"
          f" usable={account.login + account.connect_tag == 0}")
    print(f"   copy account: if_copy={account.if_copy} copy_account_id={getattr(account, 'copy_account_id', None)}")
    print(f"   redis: {account.redis_conn.connection_pool.connection_kwargs['host']}"
          f"  copy redis: {account.copy_redis_conn.connection_pool.connection_kwargs['host']}")

    signals_demo(account)

    print("== the same account with a wrong key")
    refused = Norvane.Norvane(DEMO["real_account"], "not-the-key", DEMO["user_id"])
    print(f"   login={refused.login} (refused by every guarded method)")

    live_views_and_splitting(account)
    history_readers()
    research_and_administration()


def live_views_and_splitting(account):
    """What the execution desk checks during the session, and a temporary switch of split mode."""
    day = DEMO["live_trading_day"].replace("-", "")
    print("== live views (kept in Redis by the desk's own writers)")
    print(f"   positions: {account.fun_redis_position()['data']}")
    for deal in account.fun_redis_deal(day)["data"]:
        print(f"   deal {deal['trade_id']}: {deal['direction']} {deal['volume']} {deal['instrument_id']} @ {deal['price']}")
    print(f"   last trade: {account.fun_last_trade()['data']}")
    margin = account.fun_margin_used()["data"]
    print(f"   margin {margin['margin']} of balance {margin['balance']}, capital (shares) {margin['shares']}")

    print("== TWAP settings")
    settings = [{"commodity": "rb", "if_twap": 1, "time_gap": 30, "volume": 5},
                {"commodity": "ag", "if_twap": 1, "time_gap": 15, "volume": 2.5},
                {"commodity": "cu", "if_twap": 2, "time_gap": 10, "volume": 1}]  # if_twap 2: skipped
    print(f"   {account.fun_update_TWAP_info(settings)}")

    print("== split modes")
    print("   " + account.fun_read_split_doc()["msg"].splitlines()[0].strip())
    for row in account.fun_search_split_mode("available")["data"]:
        print(f"   mode {row['拆单方式ID']}: {row['报单价格']}, {row['总时长（分钟）']} min, every {row['报单时间间隔（秒）']} s")
    own = account.fun_search_split_mode("current")
    print(f"   now: {own['data'][0]} (change in effect: {own['set_mode_info'] or 'none'})")
    mode = DEMO["split_modes"][0]
    print(f"   {account.fun_set_split_mode(mode, 1.5)}")
    switched = account.fun_search_split_mode("current")
    print(f"   now: {switched['data'][0]}")
    print(f"   change in effect: {switched['set_mode_info']}")
    print(f"   {account.fun_set_split_mode(mode, 24)}")
    print(f"   back to default: {account.fun_back_to_default_split_mode()}")
    print(f"   now: {account.fun_search_split_mode('current')['data'][0]}")


def show(label, record, rows=3, order=None):
    """One line for a reader's record, then its first rows (sorted by `order` when given: a
    statement over two tables returns them in no fixed order)."""
    data = record.get("data")
    if order is not None and isinstance(data, list):
        data = sorted(data, key=order)
    size = f", {len(data)} rows" if isinstance(data, list) else ""
    print(f"   {label}: code={record['code']} msg={record['msg']!r}{size}")
    if isinstance(data, dict):
        print(f"      {data}")
    for row in (data or [])[:rows] if isinstance(data, list) else []:
        print(f"      {row}")


def by_day_and_source(row):
    return row["day"], row["vendor"], row["instrument_id"]


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
    show("positions", real.fun_read_position(start, end), rows=2, order=by_day_and_source)
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


def research_and_administration():
    """What a research desk and an account administrator do with their account objects."""
    print(f"== research on account {DEMO['real_account']}")
    account = Norvane.Norvane(DEMO["real_account"], DEMO["acquire_info_key"], DEMO["user_id"], "test")

    print("== risk configuration in force (by the database server's clock)")
    for category in (DEMO["min_open_category"], DEMO["max_open_category"]):
        print(f"   {category}: {account.fun_read_info(category)['data']}")

    print("== factor tables (static: no account object needed)")
    first, last = "20250827", "20250829"
    every = Norvane.Norvane.factors_value("net", first, last)["data"]
    working = Norvane.Norvane.factors_value_lhjy("net", first, last)["data"]
    print(f"   net values {first}..{last}: {len(every)} rows, {every['factor'].nunique()} factors;"
          f" the ten working factors: {len(working)} rows")
    latest = working[working["date"] == last].set_index("factor")["net_value"]
    print("   latest net value per working factor:")
    for factor, value in latest.items():
        print(f"     {factor:<22} {value:.3f}")
    print(f"   bad arguments: {Norvane.Norvane.factors_value('value', '2025-08-27', last)}")
    print(f"   2025-08-29 00:00 UTC as a date: {Norvane.Norvane.unix_to_datetime(1756425600)}")

    print("== post-trade P&L per product and commodity (trade database)")
    start, end = DEMO["return_days"]
    table = account.post_trade_analysis(start, end)["data"]
    print("   " + table.sort_values(["product_name", "commodity"]).to_string(index=False).replace("\n", "\n   "))
    sectors = Norvane.Norvane.mysql_248("select commodity, sector_CN from trade.commodity_info order by commodity")
    print(f"   commodity register: {len(sectors)} rows, {sectors['commodity'].nunique()} commodities")

    # The switch writes the account register; it is shown on the seeded prod account, whose new
    # register rows keep the table's default env ("prod").
    print(f"== trading flag of account {DEMO['other_account']}: disable, then enable again")
    other = Norvane.Norvane(DEMO["other_account"], DEMO["other_acquire_info_key"], DEMO["other_user_id"], "test")
    print(f"   {other.fun_update_sts(False)['msg'].strip()}")
    print(f"   {other.fun_update_sts(True)['msg'].strip()}")
    print(f"   flag 'T' as text is rejected: {other.fun_update_sts('T')}")


if __name__ == "__main__":
    main()
