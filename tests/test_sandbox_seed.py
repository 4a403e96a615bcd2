"""The demo data: what readers rely on is present, and seeding twice gives the same data."""
import pytest

from norvane_sandbox.seed import DEMO, clickhouse_seed_files, seed_once

OPEN = DEMO["open_zip_enddate"]


def test_a_session_seeds_only_what_is_missing(norvane_stack, norvane_clickhouse_writer):
    # The stack is seeded (its session fixture ran): seeding again writes and empties nothing,
    # so the rows other sessions added stay.
    assert seed_once() == []
    for table, path in clickhouse_seed_files().items():
        if table.startswith("other."):  # tables no test writes to
            expected = len(path.read_text(encoding="utf-8").splitlines()) - 1
            assert norvane_clickhouse_writer.command(f"SELECT count() FROM {table}") == expected, table


@pytest.mark.parametrize("account, key", [
    (DEMO["real_account"], DEMO["acquire_info_key"]),
    (DEMO["copy_account"], DEMO["copy_acquire_info_key"]),
    (DEMO["sim_account"], DEMO["sim_acquire_info_key"]),
    (DEMO["risk_locked_account"], DEMO["risk_locked_acquire_info_key"]),
])
def test_each_demo_account_has_one_open_row(norvane_clickhouse_writer, account, key):
    rows = norvane_clickhouse_writer.query(
        "SELECT acquire_info_key, user_id, env FROM factors.t_account_info "
        "WHERE account_id = {a:String} AND zip_enddate = {e:String}", parameters={"a": account, "e": OPEN}).result_rows
    assert rows == [(key, DEMO["user_id"], DEMO["env"])]


@pytest.mark.parametrize("sql, expected", [
    ("SELECT copy_account_id, is_valid FROM factors.t_assetacc_match WHERE account_id = '88001234' ORDER BY is_valid",
     [(DEMO["withdrawn_copy_account"], 0), (DEMO["copy_account"], 1)]),
    ("SELECT acquire_info_key FROM factors.t_account_info WHERE account_id = '88001234' AND zip_enddate != '2500-12-31 00:00:00'",
     [(DEMO["closed_acquire_info_key"],)]),
    (f"SELECT account_id FROM strategy.param_account_info WHERE account_id IN {DEMO['split_modes']} ORDER BY account_id",
     [(mode,) for mode in DEMO["split_modes"]]),
    ("SELECT env FROM strategy.param_user_info WHERE user_id = 'demo_user' ORDER BY env", [("prod",), ("test",)]),
    ("SELECT countIf(zip_enddate = '2500-12-31 00:00:00') > 0, countIf(zip_enddate != '2500-12-31 00:00:00')"
     " FROM factors.risk_config WHERE category = '单笔最小开仓量'", [(True, 1)]),
    ("SELECT count() FROM trade.is_cdealdetail AS a INNER JOIN trade.idata_cdealdetail AS b USING trade_id", [(1,)]),
    ("SELECT groupUniqArray(trading_day) FROM (SELECT toString(trading_day) AS trading_day FROM trade.is_corderdetail"
     " WHERE account_id = '88001234' ORDER BY trading_day)", None),
    ("SELECT uniqExact(factor) FROM other.factor_value_new", [(12,)]),
])
def test_rows_the_readers_need(norvane_clickhouse_writer, sql, expected):
    rows = norvane_clickhouse_writer.query(sql).result_rows
    if expected is None:  # order history spans every demo trading day
        assert sorted(rows[0][0]) == list(DEMO["trading_days"])
    else:
        assert rows == expected


def test_every_named_factor_is_seeded(norvane_clickhouse_writer):
    for table in ("other.factor_value_new", "other.factor_weight_new", "other.factor_net_new"):
        factors = {row[0] for row in norvane_clickhouse_writer.query(f"SELECT DISTINCT factor FROM {table}").result_rows}
        assert set(DEMO["factors"]) | set(DEMO["extra_factors"]) == factors, table
