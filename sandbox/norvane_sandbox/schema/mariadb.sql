-- Tables of the trade database on the MariaDB server that the post-trade analysis reads.
-- One statement per ';'. Every statement is safe to re-run.

-- Daily returns per account and contract; trade.daily_return_fz has the same layout (a second
-- book of the same kind of records).
CREATE TABLE IF NOT EXISTS trade.daily_return (
    trading_day DATE NOT NULL,
    contract VARCHAR(32) NOT NULL,
    commodity VARCHAR(16) NOT NULL,
    assetacc VARCHAR(32) NOT NULL,
    prefee_return_l DOUBLE NOT NULL DEFAULT 0,
    prefee_return_s DOUBLE NOT NULL DEFAULT 0,
    commission_l DOUBLE NOT NULL DEFAULT 0,
    commission_s DOUBLE NOT NULL DEFAULT 0,
    KEY by_day (trading_day, assetacc)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4;

CREATE TABLE IF NOT EXISTS trade.daily_return_fz LIKE trade.daily_return;

-- Commodity reference data; nothing keeps a commodity from being listed twice.
CREATE TABLE IF NOT EXISTS trade.commodity_info (
    commodity VARCHAR(16) NOT NULL,
    sector_CN VARCHAR(32),
    multiplier DOUBLE
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4;

-- Products and their accounts: assetacc_save names the account the returns are stored under,
-- assetacc_sum the account they are summed under (NULL: the account itself).
CREATE TABLE IF NOT EXISTS trade.t_assetacc_info (
    product_name VARCHAR(64) NOT NULL,
    assetacc VARCHAR(32) NOT NULL,
    assetacc_sum VARCHAR(32),
    assetacc_save VARCHAR(32)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4;
