"""Account object of the futures desk: one per trading account."""
from typing import Any

__version__: str

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
    def fun_replicate_save(self, tmp_mat: Any, continuous_holding: Any) -> int:
        """Store an uploaded signal table once more under the linked copy account."""
    def contract_format(self) -> None:
        """Does nothing; returns None."""
    def fun_update_signal(self, input_data: Any, use_redis: Any = False,
                          continuous_holding: Any = False, simple: Any = False) -> dict:
        """Upload a table of target positions for one trading day (simple is accepted and ignored)."""
    def fun_delete_signal(self, trading_day: Any = "", order_typ: Any = "", trade_time: Any = "",
                          contract: Any = None) -> dict:
        """Mark the live signals of a day, order type and trade time as deleted."""
    def fun_read_signal(self, start_date: Any, end_date: Any, clean: Any = True) -> dict:
        """Read the account's signals of a range of trading days."""
    def fun_read_order(self, start_date: str = "", end_date: str = "") -> dict:
        """Orders: current ones from the risk platform without dates, else those of the range."""
    def fun_read_deal(self, start_date: str = "", end_date: str = "") -> dict:
        """Deals: current ones from the risk platform without dates, else those of the range."""
    def fun_read_position(self, start_date: str = "", end_date: str = "") -> dict:
        """Positions: current ones from the risk platform without dates, else those of the range."""
    def fun_update_sts(self, trade_flag: Any = True) -> dict:
        """Switch the account's trading flag."""
    def fun_redis_position(self) -> dict:
        """The account's live positions, from Redis."""
    def fun_read_equity(self, start_date: str = "", end_date: str = "") -> dict:
        """Equity: current funds from the risk platform without dates, else daily balances."""
    def fun_update_TWAP_info(self, input_data: Any) -> dict:
        """Store per-commodity TWAP settings."""
    def fun_last_trade(self) -> dict:
        """The account's last-trade warning, from Redis."""
    def fun_margin_used(self) -> dict:
        """The account's balance and margin figures with its market value."""
    def fun_read_info(self, info: Any = "单笔最小开仓量") -> dict:
        """Read one category of the risk configuration as {name: min_amt}."""
    def fun_read_split_doc(self) -> dict:
        """Help text on changing split modes."""
    def fun_search_split_mode(self, mode: Any = "current") -> dict:
        """The current, default or available split-mode parameters."""
    def fun_back_to_default_split_mode(self) -> dict:
        """Return the account to its own split parameters."""
    def fun_set_split_mode(self, mode: Any = "", effective_hour: Any = -1) -> dict:
        """Switch the account to a split mode for a number of hours."""
    def fun_redis_deal(self, dte: Any) -> dict:
        """The account's live deals of a trading day, from Redis."""
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
