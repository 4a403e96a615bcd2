"""A test session's own way in to the shared stack: one TCP proxy per service, on loopback
addresses that belong to the session alone.

The module finds its servers by fixed ports on the hosts named by the NORVANE_*_HOST variables,
read at every connect. A session that points those variables at its own proxies can take a
service away from itself (refused, or accepting and silent) while every other session keeps
talking to the same shared servers.

Addresses: each session takes a block of eight in 127.64.0.0/10; the stack's own addresses must
lie outside that range (127.0.0.1 to .5 by default). A block is chosen at random and claimed by
binding: its first address listens on CLAIM_PORT for the session's whole life and is never
answered, so a block whose services are down for one session is still taken when another
session looks for one. The next five addresses stand for the stack's five hosts:

    block + 1   NORVANE_DB_HOST            ClickHouse 23875, redis-test 6379, MariaDB 3306
    block + 2   NORVANE_REDIS_PROD_HOST    redis-prod 6379
    block + 3   NORVANE_REDIS_PROD67_HOST  redis-prod67 6379
    block + 4   NORVANE_REDIS_PROD65_HOST  redis-prod65 6379
    block + 5   NORVANE_RISK_HOST          risk simulator 10911

One thread per session serves every proxy (non-blocking sockets, one selector). A proxy forwards
bytes both ways and nothing else: time-outs, sessions, streams and half-closed connections stay
the client's and the server's business, as without it.
"""
from __future__ import annotations

import contextlib
import errno
import ipaddress
import secrets
import selectors
import socket
import struct
import threading
from dataclasses import replace

from .config import Endpoints, SandboxError

SESSION_NETWORK = ipaddress.ip_network("127.64.0.0/10")
BLOCK = 8
CLAIM_PORT = 23875
# Blocks tried before a session gives up (each try is one bind; a taken block fails at once).
TRIES = 32
BACKLOG = 128
CHUNK = 65536
# Bound on waiting for the proxies' thread to carry out an outage's change.
COMMAND_TIMEOUT = 10.0

READ, WRITE = selectors.EVENT_READ, selectors.EVENT_WRITE


def _listen(address: tuple[str, int]) -> socket.socket:
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        # Connections of an earlier session on the same address may linger in TIME_WAIT.
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(address)
        listener.listen(BACKLOG)
        listener.setblocking(False)
    except OSError:
        listener.close()
        raise
    return listener


class _Connection:
    """A client's connection and the one the proxy made to the shared server for it; each
    direction has a buffer of what was read and not yet written, and an end once its reader
    has seen end-of-file and the writer has passed it on."""

    def __init__(self, proxy: ServiceProxy, client: socket.socket):
        self.proxy, self.client = proxy, client
        self.server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.server.setblocking(False)
        self.connected = False
        self.pending = {client: bytearray(), self.server: bytearray()}  # to be written to the key
        self.finished = {client: False, self.server: False}  # read to its end
        self.shut = {client: False, self.server: False}  # its writing side shut down
        self.closed = False

    def other(self, sock: socket.socket) -> socket.socket:
        return self.server if sock is self.client else self.client


class ServiceProxy:
    """Forwards connections made to `address` to the shared server at `upstream`. Its state:
    "up"; "down" (the address refuses, as when the server has stopped); "frozen" (connections
    are accepted by the system and nothing is read or written, as when the server is paused)."""

    def __init__(self, name: str, address: tuple[str, int], upstream: tuple[str, int]):
        self.name, self.address, self.upstream = name, address, upstream
        self.listener = _listen(address)
        self.state = "up"
        self.connections: set[_Connection] = set()


class SessionProxies:
    """The proxies of one session, in front of the shared stack at `shared`, and the thread
    that serves them. down/freeze/restore change one proxy and return once it is in effect."""

    def __init__(self, shared: Endpoints):
        self.shared = shared
        self.proxies: dict[str, ServiceProxy] = {}
        self._selector = selectors.DefaultSelector()
        self._wake_reader, self._wake_writer = socket.socketpair()
        self._wake_reader.setblocking(False)
        self._selector.register(self._wake_reader, READ)
        self._commands: list[tuple] = []
        self._lock = threading.Lock()
        self._claim = self._claim_block()
        for proxy in self.proxies.values():
            self._selector.register(proxy.listener, READ, proxy)
        self._running = True
        self._thread = threading.Thread(target=self._serve, name="norvane session proxies", daemon=True)
        self._thread.start()

    # ---- the session's addresses ----

    def _claim_block(self) -> socket.socket:
        blocks = SESSION_NETWORK.num_addresses // BLOCK
        for _ in range(TRIES):
            first = SESSION_NETWORK.network_address + BLOCK * secrets.randbelow(blocks)
            try:
                claim = _listen((str(first), CLAIM_PORT))
            except OSError:
                continue  # another session's block
            try:
                self._open(first)
                return claim
            except OSError:  # something outside the sessions uses these addresses
                for proxy in self.proxies.values():
                    proxy.listener.close()
                self.proxies = {}
                claim.close()
        raise SandboxError(f"no free block of {BLOCK} addresses in {SESSION_NETWORK} after {TRIES} tries")

    def _open(self, first: ipaddress.IPv4Address) -> None:
        hosts = {field: str(first + offset) for offset, field in
                 enumerate(("db_host", "redis_prod_host", "redis_prod67_host", "redis_prod65_host",
                            "risk_host"), start=1)}
        self.endpoints = own = replace(self.shared, **hosts)
        shared = self.shared
        routes = [(server.name, own_server.host, server.host, server.port)
                  for server, own_server in zip(shared.redis_servers(), own.redis_servers())]
        routes += [("clickhouse-gateway", own.clickhouse_host, shared.clickhouse_host, shared.clickhouse_port),
                   ("risk-simulator", own.risk_host, shared.risk_host, shared.risk_port),
                   ("mariadb", own.mysql_host, shared.mysql_host, shared.mysql_port)]
        for name, host, upstream, port in routes:
            self.proxies[name] = ServiceProxy(name, (host, port), (upstream, port))

    # ---- outages (from the test's thread) ----

    def down(self, name: str) -> None:
        self._call(self._down, self.proxies[name])

    def freeze(self, name: str) -> None:
        self._call(self._freeze, self.proxies[name])

    def restore(self, name: str) -> None:
        self._call(self._restore, self.proxies[name])

    def close(self) -> None:
        if self._thread.is_alive():
            self._call(self._stop)
            self._thread.join(timeout=COMMAND_TIMEOUT)
        self._wake_reader.close()
        self._wake_writer.close()
        self._claim.close()

    def _call(self, action, *args) -> None:
        done, failure = threading.Event(), []
        with self._lock:
            self._commands.append((action, args, done, failure))
        self._wake_writer.send(b"\0")
        if not done.wait(COMMAND_TIMEOUT):
            raise SandboxError(f"the session's proxies did not answer within {COMMAND_TIMEOUT:.0f} s")
        if failure:
            raise failure[0]

    # ---- the serving thread ----

    def _serve(self) -> None:
        while self._running:
            for key, events in self._selector.select():
                if key.fileobj is self._wake_reader:
                    self._run_commands()
                elif isinstance(key.data, ServiceProxy):
                    self._accept(key.data)
                elif not key.data.closed:
                    try:
                        self._on_ready(key.data, key.fileobj, events)
                    except (OSError, ValueError):  # a socket gone under the selector: that connection ends
                        self._end(key.data)

    def _run_commands(self) -> None:
        with contextlib.suppress(BlockingIOError):
            self._wake_reader.recv(4096)
        with self._lock:
            commands, self._commands = self._commands, []
        for action, args, done, failure in commands:
            try:
                action(*args)
            except Exception as error:  # noqa: BLE001 - raised again in the caller's thread
                failure.append(error)
            done.set()

    def _down(self, proxy: ServiceProxy) -> None:
        if proxy.state == "up":
            self._selector.unregister(proxy.listener)
        proxy.state = "down"
        # The socket keeps its address (no other session can take it) but stops listening: a
        # connect is refused at once, and the queued ones are reset.
        with contextlib.suppress(OSError):
            proxy.listener.shutdown(socket.SHUT_RDWR)
        for connection in list(proxy.connections):
            self._end(connection)

    def _freeze(self, proxy: ServiceProxy) -> None:
        if proxy.state == "up":
            self._selector.unregister(proxy.listener)  # the system's queue accepts meanwhile
        proxy.state = "frozen"
        for connection in proxy.connections:
            self._watch(connection)

    def _restore(self, proxy: ServiceProxy) -> None:
        if proxy.state == "down":
            proxy.listener.listen(BACKLOG)
        if proxy.state != "up":
            self._selector.register(proxy.listener, READ, proxy)
        proxy.state = "up"
        for connection in proxy.connections:
            self._watch(connection)

    def _stop(self) -> None:
        self._running = False
        for proxy in self.proxies.values():
            for connection in list(proxy.connections):
                self._end(connection)
            proxy.listener.close()
        self._selector.close()

    def _accept(self, proxy: ServiceProxy) -> None:
        while True:
            try:
                client, _ = proxy.listener.accept()
            except (BlockingIOError, InterruptedError):
                return
            except OSError:
                return  # a connection reset while queued
            client.setblocking(False)
            connection = _Connection(proxy, client)
            proxy.connections.add(connection)
            code = connection.server.connect_ex(proxy.upstream)
            if code not in (0, errno.EINPROGRESS):
                self._reset(connection)
                continue
            self._watch(connection)

    def _on_ready(self, connection: _Connection, sock: socket.socket, events: int) -> None:
        try:
            if sock is connection.server and not connection.connected:
                code = sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
                if code:
                    # The shared server is down for everyone: the client's connection is reset.
                    return self._reset(connection)
                connection.connected = True
                for end in (connection.client, connection.server):
                    # What either side wrote goes on at once; coalescing is its own choice.
                    end.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            elif events & READ:
                data = sock.recv(CHUNK)
                if data:
                    connection.pending[connection.other(sock)] += data
                else:
                    connection.finished[sock] = True
            if events & WRITE and connection.connected:
                target = sock
                buffer = connection.pending[target]
                if buffer:
                    del buffer[:target.send(buffer)]
        except (BlockingIOError, InterruptedError):
            pass
        except OSError:
            return self._end(connection)  # a reset or a failed send ends both sides
        self._settle(connection)

    def _settle(self, connection: _Connection) -> None:
        """Passes an end-of-file on once its direction is written out; ends the connection when
        both directions have ended, or when the client left before the server was reached."""
        if connection.finished[connection.client] and not connection.connected:
            return self._end(connection)
        for source in (connection.client, connection.server):
            target = connection.other(source)
            open_target = connection.connected and not connection.shut[target]
            if open_target and connection.finished[source] and not connection.pending[target]:
                with contextlib.suppress(OSError):
                    target.shutdown(socket.SHUT_WR)
                connection.shut[target] = True
        if all(connection.shut.values()):
            return self._end(connection)
        self._watch(connection)

    def _watch(self, connection: _Connection) -> None:
        """Registers what each end waits for: nothing while frozen; reading while what it sent
        before has been written on; writing while something waits for it."""
        frozen = connection.proxy.state == "frozen"
        for sock in (connection.client, connection.server):
            events = 0
            if not frozen:
                if sock is connection.server and not connection.connected:
                    events = WRITE
                else:
                    if not connection.finished[sock] and not connection.pending[connection.other(sock)]:
                        events |= READ
                    if connection.pending[sock] and (sock is connection.client or connection.connected):
                        events |= WRITE
            self._register(sock, events, connection)

    def _register(self, sock: socket.socket, events: int, connection: _Connection) -> None:
        try:
            registered = self._selector.get_key(sock).events
        except KeyError:
            registered = 0
        if events == registered:
            return
        if not events:
            self._selector.unregister(sock)
        elif not registered:
            self._selector.register(sock, events, connection)
        else:
            self._selector.modify(sock, events, connection)

    def _reset(self, connection: _Connection) -> None:
        with contextlib.suppress(OSError):
            connection.client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self._end(connection)

    def _end(self, connection: _Connection) -> None:
        connection.closed = True
        connection.proxy.connections.discard(connection)
        for sock in (connection.client, connection.server):
            with contextlib.suppress(KeyError, ValueError):
                self._selector.unregister(sock)
            sock.close()
