#pragma once
// The statements behind the split-mode query. Each parameter comes from the chosen row of
// strategy.param_account_info when it has one, else from the user's default for the env class;
// the per-account table is read through a subquery of nullable columns, so that a missing row
// yields nulls and the default applies.

namespace norvane::splitting::queries {

// Every split mode: the rows of strategy.param_account_info whose id begins with "4321".
inline constexpr const char* available = R"(select account_id,
    trade_price,
    twap,
    sum_twap,
    twap_time_gap,
    cancel_cmd_time,
    split_volume_max,
    split_volume_min
from strategy.param_account_info
where account_id like '4321%')";

// The account's parameters: the chosen row of strategy.param_account_info over the user's
// default. {chosen_row} picks the row: the account's own (`own_row`), or during a temporary
// switch the mode's (`mode_row`).
inline constexpr const char* account_parameters = R"(select
    x1.account_id,
    -- 核心逻辑：所有字段均优先取x3，无值则取x2
    coalesce(x3.trade_price, x2.trade_price) as trade_price,
    coalesce(x3.twap, x2.twap) as twap,
    coalesce(x3.sum_twap, x2.sum_twap) as sum_twap,
    coalesce(x3.twap_time_gap, x2.twap_time_gap) as twap_time_gap,
    coalesce(x3.cancel_cmd_time, x2.cancel_cmd_time) as cancel_cmd_time,
    coalesce(x3.split_volume_max, x2.split_volume_max) as split_volume_max,
    coalesce(x3.split_volume_min, x2.split_volume_min) as split_volume_min
FROM factors.t_account_info as x1
INNER JOIN strategy.param_user_info as x2
    ON x1.user_id = x2.user_id and x1.env = x2.env
LEFT JOIN
( select    toNullable(account_id) as account_id,
            toNullable(trade_price) as trade_price,
            toNullable(twap) as twap,
            toNullable(sum_twap) as sum_twap,
            toNullable(twap_time_gap) as twap_time_gap,
            toNullable(cancel_cmd_time) as cancel_cmd_time,
            toNullable(split_volume_max) as split_volume_max,
            toNullable(split_volume_min) as split_volume_min
FROM
strategy.param_account_info) as x3
    ON {chosen_row}
WHERE
    toString(now64()) >= x1.zip_begindate
    AND toString(now64()) <= x1.zip_enddate
    AND x1.trade_flag = 'T'
    AND x1.account_id = {account_id}
    AND x1.env = {env_class})";

inline constexpr const char* own_row = "x1.account_id = x3.account_id";
inline constexpr const char* mode_row = "x3.account_id = {mode_id}";

}  // namespace norvane::splitting::queries
