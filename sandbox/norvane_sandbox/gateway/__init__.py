"""The ClickHouse gateway: the ClickHouse HTTP interface in front of the embedded ClickHouse
engine (chdb), run only by the gateway's own process (`python -m norvane_sandbox.gateway --host H
--port P --data DIR`). What it supports and refuses is in the package's README ("The ClickHouse
gateway").

    http      requests read and answered as a ClickHouse server answers them (Gateway)
    request   a request's SQL, data, settings, session and credentials
    sql_text  just enough SQL lexing to route a statement
    engine    the embedded engine: connections, sessions, settings, results read block by block
    native    Native results framed for the client's protocol version
    errors    the engine's error texts and their HTTP statuses
"""
