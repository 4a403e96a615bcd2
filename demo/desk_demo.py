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
    research_and_administration()
