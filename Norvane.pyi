"""Account object of the futures desk: one per trading account."""
from typing import Any

class Norvane:
    env: Any
    login: int
    client: Any
    connect_tag: int
    account_id: Any
    acquire_key: Any
    user_id: Any
    redis_conn: Any
    update_times: int
    update_df: Any
    if_copy: bool
    copy_redis_conn: Any
    copy_account_id: Any

    def __init__(self, account_id: Any, acquire_key: Any, user_id: Any, env: Any = "test") -> None:
        """Open the account's connections, verify it and look up its copy account."""
    @staticmethod
    def unix_to_datetime(unix_timestamp: Any) -> str:
        """A Unix time stamp as its UTC date "%Y-%m-%d"."""
    def fun_clickhouse_connect(self) -> None:
        """Open the ClickHouse client; sets client and connect_tag."""
    def fun_login(self) -> Any:
        """Verify the account against the account register and ping Redis."""
    def fun_check_replicate(self) -> None:
        """Look up the copy account linked to this account."""
    def contract_format(self) -> None:
        """Does nothing; returns None."""
    def fun_update_sts(self, trade_flag: Any = True) -> dict:
        """Switch the account's trading flag."""
    def fun_read_info(self, info: Any = "单笔最小开仓量") -> dict:
        """Read one category of the risk configuration as {name: min_amt}."""
    @staticmethod
    def factors_value(typ: Any = "", start_date: Any = "", end_date: Any = "") -> dict:
        """Read a factor table (value, weight or net) over a date range."""
    @staticmethod
    def mysql_248(sql: Any) -> Any:
        """Run one statement on the trade database into a DataFrame."""
    def post_trade_analysis(self, start_date: Any, end_date: Any, typ: Any = "commodity") -> dict:
        """The account's profit and loss per product and commodity over a date range."""
    @staticmethod
    def factors_value_lhjy(typ: Any = "", start_date: Any = "", end_date: Any = "") -> dict:
        """Read a factor table over a date range for the ten working factors."""
