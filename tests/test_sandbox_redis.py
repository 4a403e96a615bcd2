"""The four Redis servers: each on its own loopback address with its own password."""
import ast

import pytest
import redis
from redis.backoff import NoBackoff
from redis.retry import Retry

from norvane_sandbox.clients import redis_client
from norvane_sandbox.config import REDIS_PROD_PASSWORD, REDIS_TEST_PASSWORD
from norvane_sandbox.seed import DEMO

SERVERS = ["redis-test", "redis-prod", "redis-prod67", "redis-prod65"]


@pytest.mark.parametrize("name", SERVERS)
def test_server_answers_with_its_password_only(norvane_stack, name):
    server = norvane_stack.redis_server(name)
    assert server.password == (REDIS_TEST_PASSWORD if name == "redis-test" else REDIS_PROD_PASSWORD)
    assert redis_client(name, norvane_stack).ping()
    wrong = REDIS_PROD_PASSWORD if name == "redis-test" else REDIS_TEST_PASSWORD
    # redis-py reports the refusal as AuthenticationError, before 4.2 as ResponseError.
    with pytest.raises((redis.AuthenticationError, redis.ResponseError), match="invalid username-password"):
        redis.Redis(host=server.host, port=server.port, password=wrong, socket_timeout=2,
                    retry=Retry(NoBackoff(), 0)).ping()


def test_servers_are_separate_instances(norvane_stack):
    marker = "sandbox:which-server"
    for name in SERVERS:
        redis_client(name, norvane_stack).set(marker, name)
    try:
        assert [redis_client(name, norvane_stack).get(marker) for name in SERVERS] == SERVERS
    finally:
        for name in SERVERS:
            redis_client(name, norvane_stack).delete(marker)


@pytest.mark.parametrize("name", ["redis-test", "redis-prod"])
def test_live_keys_are_seeded_as_python_literals(norvane_stack, name):
    client = redis_client(name, norvane_stack)
    account = DEMO["real_account"]
    positions = ast.literal_eval(client.get(account))
    assert positions["rb2510"] == {"long": 3, "short": 0}
    deals = [ast.literal_eval(text) for text in client.lrange(DEMO["deals_key"], 0, -1)]
    assert {deal["trade_id"] for deal in deals} == {"T20250829-0001", "T20250829-0002"}
    assert "i2601" in client.hget("deal_warning", account)
    assert ast.literal_eval(client.hget("balance_warning", account))["balance"] == 1001234.5
