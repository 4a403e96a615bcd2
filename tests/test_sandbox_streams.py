"""Clients that leave a result part-way never harm the gateway's engine, and a result of many
blocks reaches the client whole in every format the gateway serves."""
import asyncio
import base64
import json
import re
import socket
import struct

import pytest

from norvane_sandbox import WRITER
from norvane_sandbox.clients import clickhouse_client
from norvane_sandbox.gateway.errors import EngineError

LARGE = "SELECT number, repeat('x', 1000) AS s FROM numbers(200000) SETTINGS max_block_size = 1000"


def reset_mid_result(norvane_stack):
    body = LARGE.encode()
    credentials = base64.b64encode(f"{WRITER.user}:{WRITER.password}".encode()).decode()
    with socket.create_connection((norvane_stack.clickhouse_host, norvane_stack.clickhouse_port)) as connection:
        connection.sendall(f"POST / HTTP/1.1\r\nHost: x\r\nAuthorization: Basic {credentials}\r\n"
                           f"Content-Length: {len(body)}\r\n\r\n".encode() + body)
        assert connection.recv(65536).startswith(b"HTTP/1.1 200")
        connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))


def leaves_after_first_block(norvane_stack):
    client = clickhouse_client(WRITER, norvane_stack)
    with client.query_row_block_stream(LARGE) as stream:
        next(iter(stream))
    client.close()


def leaves_an_arrow_stream(norvane_stack):
    pytest.importorskip("pyarrow")
    client = clickhouse_client(WRITER, norvane_stack)
    with client.query_arrow_stream(LARGE) as stream:
        next(iter(stream))
    client.close()


def times_out_mid_result(norvane_stack):
    client = clickhouse_client(WRITER, norvane_stack, send_receive_timeout=1)
    with pytest.raises(Exception, match="(?i)timed? ?out"):
        client.query("SELECT sleepEachRow(0.2), number FROM numbers(50)"
                     " SETTINGS max_block_size = 1, function_sleep_max_microseconds_per_block = 0")
    client.close()


def asynchronously(leave):
    """`leave(client)` run on clickhouse_connect's aiohttp client (skipped where it has none)."""
    def run(norvane_stack):
        pytest.importorskip("aiohttp")
        import clickhouse_connect
        from clickhouse_connect.driver import asyncclient
        if not hasattr(asyncclient, "aiohttp"):
            pytest.skip("this clickhouse-connect's async client is not the aiohttp one")

        async def main():
            client = await clickhouse_connect.get_async_client(
                host=norvane_stack.clickhouse_host, port=norvane_stack.clickhouse_port, username=WRITER.user,
                password=WRITER.password)
            try:
                await leave(client)
            finally:
                await client.close()
        asyncio.run(main())
    run.__name__ = f"async_{leave.__name__}"
    return run


async def leaves_after_its_first_block(client):
    stream = await client.query_row_block_stream(LARGE)
    async with stream:
        async for _ in stream:
            break


async def cancels_its_stream(client):
    async def read():
        stream = await client.query_row_block_stream(LARGE)
        async with stream:
            async for _ in stream:
                await asyncio.sleep(0.01)
    task = asyncio.create_task(read())
    await asyncio.sleep(0.3)
    task.cancel()
    with pytest.raises(asyncio.CancelledError):
        await task


async def asks_for_a_type_native_cannot_carry(client):
    with pytest.raises(Exception, match="Code: 48"):
        await client.query("SELECT 1::Variant(String, UInt32) AS v FROM numbers(100000)")


@pytest.mark.parametrize("leave", [
    reset_mid_result, leaves_after_first_block, leaves_an_arrow_stream, times_out_mid_result,
    asynchronously(leaves_after_its_first_block), asynchronously(cancels_its_stream),
    asynchronously(asks_for_a_type_native_cannot_carry)], ids=lambda leave: leave.__name__)
def test_a_client_leaving_a_result_leaves_the_engine_serving(norvane_stack, leave):
    leave(norvane_stack)
    other = clickhouse_client(WRITER, norvane_stack)
    assert other.command("SELECT 42") == 42
    other.close()


FORMATS = ["Native", "TabSeparated", "TabSeparatedWithNames", "CSV", "CSVWithNames", "JSON",
           "JSONEachRow", "JSONCompact", "JSONCompactEachRow", "Arrow", "ArrowStream", "Parquet",
           "RowBinary", "Values", "XML"]


@pytest.mark.parametrize("output_format", FORMATS)
def test_a_result_of_many_blocks_is_whole_in_every_format(norvane_clickhouse_writer, output_format):
    chdb = pytest.importorskip("chdb")
    sql = ("SELECT number, toString(number) AS s FROM system.numbers LIMIT 500"
           f" SETTINGS max_block_size = 50 FORMAT {output_format}")
    served, own = norvane_clickhouse_writer.raw_query(sql), chdb.query(sql, output_format).bytes()
    # The statistics a result carries in these formats hold its own elapsed time.
    if output_format in ("JSON", "JSONCompact"):
        served, own = ({k: v for k, v in json.loads(text).items() if k != "statistics"} for text in (served, own))
    elif output_format == "XML":
        served, own = (re.sub(rb"<statistics>.*</statistics>", b"", text, flags=re.S) for text in (served, own))
    assert served == own


def test_a_failed_engine_is_answered_clearly_until_the_gateway_restarts():
    pytest.importorskip("chdb")  # the gateway's own environment (the matrix legs have the clients only)
    from werkzeug.test import Client

    from norvane_sandbox.gateway.http import Gateway

    class FailedEngine:
        timezone = "Etc/UTC"

        def run(self, *args):
            raise EngineError("Code: 236. DB::Exception: The server is shutting down due to a fatal error. (ABORTED)")

    stops = []
    gateway = Client(Gateway(FailedEngine(), on_engine_failure=lambda: stops.append(1)))
    for _ in range(2):
        response = gateway.post("/", data=b"SELECT 1", headers={"X-ClickHouse-User": WRITER.user,
                                                                "X-ClickHouse-Key": WRITER.password})
        assert response.status_code == 503 and response.headers["X-ClickHouse-Exception-Code"] == "236"
        assert b"engine failed" in response.data and b"norvane-sandbox start" in response.data
    assert stops == [1]
