"""A disabled account keeps a usable object, but the views that read only enabled register rows
(margin use, split parameters) find nothing until the flag is switched back."""
import pytest

import Norvane


@pytest.fixture
def prod_account(norvane_stack, register, new_id):
    """A prod account of the test's own with a balance entry; the switch re-inserts its register
    row with the table's env default, which is "prod"."""
    account_id = new_id("8")
    register(account_id, "key", user_id="demo_user", env="prod", market_value=640000.0)
    account = Norvane.Norvane(account_id, "key", "demo_user", "prod")
    account.redis_conn.hset("balance_warning", account_id, "{'balance': 1.5, 'margin': 0.5}")
    yield account
    account.redis_conn.hdel("balance_warning", account_id)


def views(account):
    margin = account.fun_margin_used()
    split = account.fun_search_split_mode("default")
    return margin, split


def test_switching_the_flag_hides_and_restores_the_enabled_views(prod_account):
    margin, split = views(prod_account)
    assert margin == {"code": 0, "data": {"balance": 1.5, "margin": 0.5, "shares": 640000.0}}
    assert [row["拆单方式ID"] for row in split["data"]] == [prod_account.account_id]

    assert prod_account.fun_update_sts(False)["code"] == 0
    margin, split = views(prod_account)
    assert margin == {"code": 1, "msg": "IndexError('list index out of range')"}
    assert split["code"] == 0 and split["data"] == []
    assert prod_account.login + prod_account.connect_tag == 0  # the object stays usable

    assert prod_account.fun_update_sts(True)["code"] == 0
    margin, split = views(prod_account)
    assert margin["data"]["shares"] == 640000.0
    assert len(split["data"]) == 1
