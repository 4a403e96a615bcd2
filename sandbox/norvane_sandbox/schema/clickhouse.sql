-- Tables the Norvane module reads and writes, as they exist on the desk's ClickHouse.
-- One statement per ';'. Every statement is safe to re-run.
-- Every table keeps its small parts packed into one file (min_bytes_for_full_part_storage): a
-- one-row insert then writes a file rather than a directory of files, several times faster on
-- the stack's disk; results are the same. The tables whose rows the module updates in place
-- (retire, deletion, the trading flag) keep block numbers and offsets, so that their
-- ALTER TABLE ... UPDATE is a lightweight update rather than a rewrite of every part; the
-- MODIFY SETTING statements bring tables of earlier stacks to the same.

CREATE DATABASE IF NOT EXISTS factors;
CREATE DATABASE IF NOT EXISTS strategy;
CREATE DATABASE IF NOT EXISTS trade;
CREATE DATABASE IF NOT EXISTS simulate;
CREATE DATABASE IF NOT EXISTS other;

-- Accounts in zipper form: a row is valid from zip_begindate until zip_enddate;
-- the open row ends at '2500-12-31 00:00:00'.
CREATE TABLE IF NOT EXISTS factors.t_account_info (
    account_id String,
    account_key String,
    market_value Float64,
    strategy String,
    trade_flag String,
    acquire_info_key String,
    user_id String,
    zip_begindate String,
    zip_enddate String,
    env String DEFAULT 'prod'
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600,
    enable_block_number_column = 1, enable_block_offset_column = 1;
ALTER TABLE factors.t_account_info MODIFY SETTING enable_block_number_column = 1, enable_block_offset_column = 1;

-- Real account -> copy account links; is_valid 0 marks a withdrawn link.
CREATE TABLE IF NOT EXISTS factors.t_assetacc_match (
    account_id String,
    copy_account_id String,
    is_valid Int8
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;

CREATE TABLE IF NOT EXISTS factors.risk_config (
    category String,
    name String,
    min_amt Float64,
    is_valid Int8,
    zip_begindate String,
    zip_enddate String
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;

CREATE TABLE IF NOT EXISTS factors.t_order_dtl (
    trading_day String,
    account_id String,
    contract String,
    position Float64,
    direction String,
    signal_date String,
    order_typ String,
    trade_time String,
    feature Int64,
    user_id String,
    create_time String,
    update_time String,
    data_source String,
    update_id Nullable(String),
    delete_tag Nullable(Int8)
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600,
    enable_block_number_column = 1, enable_block_offset_column = 1;
ALTER TABLE factors.t_order_dtl MODIFY SETTING enable_block_number_column = 1, enable_block_offset_column = 1;

CREATE TABLE IF NOT EXISTS factors.TWAP_config (
    commodity String,
    if_twap Int8,
    time_gap Float64,
    volume Float64,
    account_id String,
    update_time String
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;

-- Execution parameters per user and environment.
CREATE TABLE IF NOT EXISTS strategy.param_user_info (
    user_id String,
    env String,
    trade_price String,
    twap Int32,
    sum_twap Int32,
    twap_time_gap Int32,
    cancel_cmd_time Int32,
    split_volume_max Int32,
    split_volume_min Int32
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;

-- Per-account overrides (null = inherit from the user row); ids beginning "4321" are split modes.
CREATE TABLE IF NOT EXISTS strategy.param_account_info (
    account_id String,
    trade_price Nullable(String),
    twap Nullable(Int32),
    sum_twap Nullable(Int32),
    twap_time_gap Nullable(Int32),
    cancel_cmd_time Nullable(Int32),
    split_volume_max Nullable(Int32),
    split_volume_min Nullable(Int32)
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;

CREATE TABLE IF NOT EXISTS strategy.param_modify_log (
    account_id String,
    split_mode String,
    ts String,
    effective_hour Float64
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;

CREATE TABLE IF NOT EXISTS trade.is_corderdetail (
    day Date,
    trading_day Date,
    trading_time String,
    instrument_id String,
    entrust_direction String,
    price Float64,
    entrust_volume Int64,
    deal_volume Int64,
    exchange_id String,
    entrust_serial_no String,
    entrust_status String,
    account_id String
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;

CREATE TABLE IF NOT EXISTS trade.is_cdealdetail (
    day Date,
    trading_day Date,
    trading_time String,
    instrument_id String,
    entrust_direction String,
    price Float64,
    volume Int64,
    commission Float64,
    exchange_id String,
    product String,
    vendor String,
    product_code String,
    entrust_serial_no String,
    account_id String,
    trade_id String
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;

-- Same layout as trade.is_cdealdetail: the second source of the same records.
CREATE TABLE IF NOT EXISTS trade.idata_cdealdetail AS trade.is_cdealdetail;

CREATE TABLE IF NOT EXISTS trade.is_cpositionstatics (
    day Date,
    instrument_id String,
    direction String,
    open_price Float64,
    average_price Float64,
    position Int64,
    exchange_id String,
    account_id String,
    market_value Float64,
    vendor String,
    product_code String,
    product String
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;

-- Same layout as trade.is_cpositionstatics: the second source of the same records.
CREATE TABLE IF NOT EXISTS trade.idata_cpositionstatics AS trade.is_cpositionstatics;

CREATE TABLE IF NOT EXISTS trade.futures_account_daily_snapshot (
    account_id String,
    trading_day Date,
    create_time DateTime,
    balance Float64
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;

CREATE TABLE IF NOT EXISTS simulate.ctp_dealdetail (
    trading_day Date,
    day Date,
    account_id String,
    instrument_id String,
    direction String,
    offset_flag String,
    price Float64,
    volume Int64,
    trade_id String,
    trading_time String
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;

CREATE TABLE IF NOT EXISTS simulate.ctp_positionstatics (
    day Date,
    account_id String,
    instrument_id String,
    direction String,
    position Int64,
    open_price Float64,
    market_value Float64
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;

-- trading_day as eight digits, "%Y%m%d".
CREATE TABLE IF NOT EXISTS simulate.ctp_product_trend_values (
    account_id String,
    trading_day String,
    close_deposit Float64
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;

-- Factor tables: date as eight digits, "%Y%m%d".
CREATE TABLE IF NOT EXISTS other.factor_value_new (
    date String,
    factor String,
    commodity String,
    value Float64
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;

CREATE TABLE IF NOT EXISTS other.factor_weight_new (
    date String,
    factor String,
    commodity String,
    weight Float64
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;

CREATE TABLE IF NOT EXISTS other.factor_net_new (
    date String,
    factor String,
    net_value Float64
) ENGINE = MergeTree ORDER BY tuple() SETTINGS min_bytes_for_full_part_storage = 104857600;
