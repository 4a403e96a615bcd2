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

    live_views_and_splitting(account)


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


if __name__ == "__main__":
    main()
