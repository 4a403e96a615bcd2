"""The gateway's Native rewriter against real engine output, read back by clickhouse_connect's own
Native reader the way a client at protocol revision 54405 reads a server's answer."""
from __future__ import annotations

import datetime

import pytest

chdb = pytest.importorskip("chdb")

from clickhouse_connect.driver.ctypes import RespBuffCls  # noqa: E402
from clickhouse_connect.driver.query import QueryContext  # noqa: E402
from clickhouse_connect.driver.transform import NativeTransform  # noqa: E402

from norvane_sandbox.gateway.native import BLOCK_INFO, NativeRewriter, UnsupportedNativeType  # noqa: E402


class _Chunks:
    """The transport side of a ResponseBuffer: an iterator of byte chunks."""

    def __init__(self, data: bytes):
        self.gen = iter([data])

    def close(self, ex=None):
        pass


def _decode(data: bytes, block_info: bool):
    context = QueryContext(use_none=True)
    context.block_info = block_info
    result = NativeTransform.parse_response(RespBuffCls(_Chunks(data)), context)
    return result.column_names, [t.name for t in result.column_types], result.result_rows


def _engine(sql: str) -> bytes:
    return chdb.query(sql, "Native").bytes()


def _rewrite(data: bytes, resolve_types=None, piece: int = 0) -> bytes:
    rewriter = NativeRewriter(resolve_types)
    pieces = [data[i:i + piece] for i in range(0, len(data), piece)] if piece else [data]
    return b"".join(rewriter.feed(p) for p in pieces) + rewriter.finish()


QUERIES = {
    "blocks": "SELECT number, toString(number) AS s FROM numbers(10) SETTINGS max_block_size=3",
    "numbers": "SELECT toInt8(-1) a, toUInt16(2) b, toInt128(-3) c, toUInt256(4) d, toBFloat16(1.5) e,"
               " toFloat32(2.5) f, true g, toDecimal32(1.5, 2) h, 1.25::Decimal(40, 3) i,"
               " 1.5::Decimal(20, 2) j, toDecimal64(2.5, 4) k",
    "temporal": "SELECT toDate('2024-01-02') a, toDate32('1900-01-02') b,"
                " toDateTime64('2024-01-02 03:04:05.678', 3, 'Asia/Shanghai') c,"
                " toDateTime('2024-01-02 03:04:05', 'UTC') d, toIntervalDay(3) e,"
                " CAST(toDateTime(0, 'Asia/Shanghai') AS Nullable(DateTime('Asia/Shanghai'))) f",
    "ids_and_odd": "SELECT toUUID('61f0c404-5cb3-11e7-907b-a6006ad3dba0') u, toIPv4('1.2.3.4') i4,"
               " toIPv6('::1') i6, toFixedString('ab', 5) fs, NULL n, [] e, repeat('x', 300) long",
    "enum": "SELECT CAST(number % 3 AS Enum8('a,(b' = 0, 'x\\'y' = 1, 'c)' = 2)) e,"
            " CAST(1000 * (number % 2) AS Enum16('p' = 0, 'q' = 1000)) f FROM numbers(4)",
    "array_nullable": "SELECT if(number % 2, [NULL, toString(number)], []) a FROM numbers(4)",
    "map_array": "SELECT map('a', [1, 2], 'b', [])::Map(String, Array(Int32)) m",
    "lowcard_nullable": "SELECT CAST(if(number % 3 = 0, NULL, toString(number % 4))"
                        " AS LowCardinality(Nullable(String))) l FROM numbers(9) SETTINGS max_block_size=4",
    "lowcard_wide": "SELECT toLowCardinality(toString(number)) l, toLowCardinality(toFixedString("
                    "toString(number % 10), 2)) f FROM numbers(300)",
    "lowcard_nested": "SELECT if(number < 2, [], [toLowCardinality(toString(number))]) a,"
                      " (toLowCardinality('x'), number, toLowCardinality('y')) t,"
                      " map(toLowCardinality('k'), toLowCardinality('v')) m FROM numbers(4)",
    "named_tuple": "SELECT CAST((1, [NULL, 2], map('a', (1, 'b'))) AS Tuple(x Int8, `y z` Array(Nullable(Int8)),"
                   " m Map(String, Tuple(p Int8, q String)))) t, tuple() e",
    "domains": "SELECT CAST(1 AS SimpleAggregateFunction(sum, UInt64)) s, (1.0, 2.0)::Point p,"
               " [[(1.0, 2.0)]]::Polygon pg, [(1.0, 2.0)]::LineString ls",
}


# Too long to feed byte by byte: more than 65536 keys make the indexes UInt32.
LARGE = {"lowcard_uint32": "SELECT toLowCardinality(toString(number)) l FROM numbers(70000)"
                   " SETTINGS max_block_size=100000"}


@pytest.mark.parametrize("sql", [*QUERIES.values(), *LARGE.values()], ids=[*QUERIES, *LARGE])
def test_rewritten_stream_reads_like_the_engine_output(sql):
    raw = _engine(sql)
    expected = _decode(raw, block_info=False)
    assert expected[2]
    assert _decode(_rewrite(raw), block_info=True) == expected


@pytest.mark.parametrize("sql", QUERIES.values(), ids=QUERIES.keys())
def test_feeding_byte_by_byte_matches_feeding_whole(sql):
    raw = _engine(sql)
    assert _rewrite(raw, piece=1) == _rewrite(raw)


def test_every_block_gets_block_info():
    blocks = _engine("SELECT number FROM numbers(10) SETTINGS max_block_size=3")
    out = _rewrite(blocks)
    assert out.count(BLOCK_INFO) == 4 and len(out) == len(blocks) + 4 * len(BLOCK_INFO)


def test_block_without_rows_has_no_column_data():
    empty = b"\x02\x00\x02lc\x16LowCardinality(String)\x01a\x0eArray(Nothing)"
    later = _engine("SELECT toLowCardinality('x') lc, [] a")
    assert _rewrite(empty + later, piece=1) == BLOCK_INFO + empty + BLOCK_INFO + later


ZONED = ("SELECT toDateTime(1700000000 + number, 'Asia/Shanghai') t, toDateTime(1700000000) plain,"
         " number n FROM numbers(5) SETTINGS max_block_size=2")


def test_resolved_time_zone_reaches_the_client_in_every_block():
    calls = []

    def resolve(names, types):
        calls.append((names, types))
        return ["DateTime('Asia/Shanghai')", "DateTime", "UInt64"]

    out = _rewrite(_engine(ZONED), resolve, piece=7)
    _names, types, rows = _decode(out, block_info=True)
    assert out.count(b"\x19DateTime('Asia/Shanghai')") == 3  # the reader only looks at the first block
    assert calls == [(["t", "plain", "n"], ["DateTime", "DateTime", "UInt64"])]
    assert types == ["DateTime('Asia/Shanghai')", "DateTime", "UInt64"]
    assert len(rows) == 5 and all(row[0].utcoffset() == datetime.timedelta(hours=8) for row in rows)
    assert all(row[1].tzinfo is None for row in rows)


@pytest.mark.parametrize("answer", [
    None,
    ["String", "DateTime64(3, 'UTC')", "DateTime('UTC')"],  # only DateTime('tz') may replace DateTime
    ["DateTime('Asia/Shanghai"],                            # malformed
])
def test_unusable_resolutions_keep_the_reported_types(answer):
    raw = _engine(ZONED)
    assert _rewrite(raw, lambda names, types: answer) == _rewrite(raw)


def test_resolver_is_not_asked_without_plain_datetime_columns():
    def resolve(names, types):
        raise AssertionError("asked")

    _rewrite(_engine("SELECT toDateTime64(0, 3, 'UTC') t, CAST(NULL AS Nullable(DateTime)) n"), resolve)


@pytest.mark.parametrize("sql, type_name", [
    ("SELECT '{\"a\": 1}'::JSON j", "JSON"),
    ("SELECT 1::Dynamic d", "Dynamic"),
    ("SELECT sumState(1) a", "AggregateFunction(sum, UInt8)"),
    ("SELECT map('a', 1::Variant(UInt8, String)) m", "Variant(String, UInt8)"),
])
def test_unsupported_types_are_named(sql, type_name):
    with pytest.raises(UnsupportedNativeType, match=type_name.replace("(", r"\(").replace(")", r"\)")) as err:
        NativeRewriter().feed(_engine(sql))
    assert isinstance(err.value, ValueError) and err.value.type_name == type_name


@pytest.mark.parametrize("cut", [1, 5, 45, -1])
def test_truncated_stream_fails_at_finish(cut):
    raw = _engine("SELECT number, toString(number) s, toLowCardinality(toString(number)) l"
                  " FROM numbers(6) SETTINGS max_block_size=3")
    rewriter = NativeRewriter()
    out = rewriter.feed(raw[:cut])
    assert out in (b"", _rewrite(raw)[:len(out)])
    with pytest.raises(ValueError, match="ended inside a block"):
        rewriter.finish()
