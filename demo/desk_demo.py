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


if __name__ == "__main__":
    main()
