"""A test session's own way in to the shared stack: one TCP proxy per service, on loopback
addresses that belong to the session alone.

The module finds its servers by fixed ports on the hosts named by the NORVANE_*_HOST variables,
read at every connect. A session that points those variables at its own proxies can take a
service away from itself (refused, or accepting and silent) while every other session keeps
talking to the same shared servers.

Addresses: each session takes a block of eight in 127.64.0.0/10, a range kept apart from the
stack's own addresses (which stay in 127.0.0.0/10). A block is chosen at random and claimed by
binding: its first address listens on CLAIM_PORT for the session's whole life and is never
answered, so a block whose services are down for one session is still taken when another
session looks for one. The next five addresses stand for the stack's five hosts:

    block + 1   NORVANE_DB_HOST            ClickHouse 23875, redis-test 6379, MariaDB 3306
    block + 2   NORVANE_REDIS_PROD_HOST    redis-prod 6379
    block + 3   NORVANE_REDIS_PROD67_HOST  redis-prod67 6379
    block + 4   NORVANE_REDIS_PROD65_HOST  redis-prod65 6379
    block + 5   NORVANE_RISK_HOST          risk simulator 10911

A proxy forwards bytes both ways and nothing else: time-outs, sessions, streams and half-closed
connections are the client's and the server's business, as without it.
"""
from __future__ import annotations

import contextlib
import ipaddress
import secrets
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
# Bound on connecting to a shared server (loopback: it answers or refuses at once unless it is
# paused from the command line).
UPSTREAM_CONNECT_TIMEOUT = 10.0


def _listen(address: tuple[str, int]) -> socket.socket:
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        # Connections of an earlier session on the same address may linger in TIME_WAIT.
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(address)
        listener.listen(BACKLOG)
    except OSError:
        listener.close()
        raise
    return listener


def _close(sock: socket.socket) -> None:
    with contextlib.suppress(OSError):
        sock.shutdown(socket.SHUT_RDWR)  # wakes a thread blocked on it
    sock.close()


class ServiceProxy:
    """Forwards connections made to `address` to the shared server at `upstream`.

    down():   the address refuses connections and the open ones are closed, as when the server
              has stopped;
    freeze(): connections are accepted and nothing is forwarded either way, as when the server
              is paused (each client waits for its own time-out);
    restore(): answering again; what a frozen connection sent goes on where it stopped.
    """

    def __init__(self, name: str, address: tuple[str, int], upstream: tuple[str, int]):
        self.name, self.address, self.upstream = name, address, upstream
        self._listener = _listen(address)
        self._listening = threading.Event()
        self._listening.set()
        self._flowing = threading.Event()  # cleared while frozen
        self._flowing.set()
        self._closed = False
        self._lock = threading.Lock()
        self._connections: set[socket.socket] = set()
        self._thread = threading.Thread(target=self._accept, name=f"norvane proxy {name}", daemon=True)
        self._thread.start()

    # ---- outages ----

    def down(self) -> None:
        self._listening.clear()
        with contextlib.suppress(OSError):
            # The socket keeps its address (no other session can take it) but stops listening:
            # a connect is refused at once, and the queued ones are reset.
            self._listener.shutdown(socket.SHUT_RDWR)
        self._drop_connections()

    def freeze(self) -> None:
        self._flowing.clear()

    def restore(self) -> None:
        if not self._listening.is_set() and not self._closed:
            self._listener.listen(BACKLOG)
            self._listening.set()
        self._flowing.set()

    def close(self) -> None:
        self._closed = True
        self._flowing.set()
        self._listening.set()
        _close(self._listener)
        self._drop_connections()
        self._thread.join(timeout=5)

    # ---- forwarding ----

    def _accept(self) -> None:
        while not self._closed:
            try:
                client, _ = self._listener.accept()
            except OSError:
                # Down for this session: wait until it listens again (restore, or close at the
                # session's end, sets the event).
                self._listening.wait()
                continue
            threading.Thread(target=self._connect, args=(client,), name=f"norvane proxy {self.name}",
                             daemon=True).start()

    def _connect(self, client: socket.socket) -> None:
        self._track(client)
        # Frozen: the connection waits, as it would in a paused server's queue, until the
        # outage ends (restore) or the session does (close).
        self._flowing.wait()
        if self._closed or not self._listening.is_set():
            return self._untrack(client)
        try:
            server = socket.create_connection(self.upstream, timeout=UPSTREAM_CONNECT_TIMEOUT)
            server.settimeout(None)
        except OSError:
            # The shared server is down for everyone: the client's connection is reset at once.
            with contextlib.suppress(OSError):
                client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            return self._untrack(client)
        self._track(server)
        for sock in (client, server):
            # What the client or the server wrote goes on at once; coalescing is their choice.
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        pair = [client, server]
        for source, target in ((client, server), (server, client)):
            threading.Thread(target=self._pump, args=(source, target, pair),
                             name=f"norvane proxy {self.name}", daemon=True).start()

    def _pump(self, source: socket.socket, target: socket.socket, pair: list[socket.socket]) -> None:
        try:
            while True:
                data = source.recv(CHUNK)
                if not data:
                    target.shutdown(socket.SHUT_WR)  # a half-close: the other direction goes on
                    with self._lock:
                        pair.append(None)  # the connection ends when both directions have
                        if pair.count(None) < 2:
                            return
                    break
                self._flowing.wait()  # frozen: held until the outage or the session ends
                if self._closed:
                    break
                target.sendall(data)
        except OSError:
            pass  # a reset or a failed send ends the connection on both sides
        for sock in pair[:2]:
            self._untrack(sock)

    def _track(self, sock: socket.socket) -> None:
        with self._lock:
            self._connections.add(sock)

    def _untrack(self, sock: socket.socket) -> None:
        with self._lock:
            self._connections.discard(sock)
        _close(sock)

    def _drop_connections(self) -> None:
        with self._lock:
            connections, self._connections = self._connections, set()
        for sock in connections:
            _close(sock)


class SessionProxies:
    """The proxies of one session, in front of the shared stack at `shared`."""

    def __init__(self, shared: Endpoints):
        self.shared = shared
        self.proxies: dict[str, ServiceProxy] = {}
        for _ in range(TRIES):
            first = SESSION_NETWORK.network_address + BLOCK * secrets.randbelow(SESSION_NETWORK.num_addresses // BLOCK)
            try:
                self._claim = _listen((str(first), CLAIM_PORT))
            except OSError:
                continue  # another session's block
            try:
                self._open(first)
                return
            except OSError:
                self.close()  # something outside the sessions uses these addresses
        raise SandboxError(f"no free block of {BLOCK} addresses in {SESSION_NETWORK} after {TRIES} tries")

    def _open(self, first: ipaddress.IPv4Address) -> None:
        hosts = {field: str(first + offset) for offset, field in
                 enumerate(("db_host", "redis_prod_host", "redis_prod67_host", "redis_prod65_host",
                            "risk_host"), start=1)}
        self.endpoints = replace(self.shared, **hosts)
        shared, own = self.shared, self.endpoints
        routes = [(server.name, own_server.host, shared_server.host, server.port)
                  for server, own_server, shared_server in
                  zip(shared.redis_servers(), own.redis_servers(), shared.redis_servers())]
        routes += [("clickhouse-gateway", own.clickhouse_host, shared.clickhouse_host, shared.clickhouse_port),
                   ("risk-simulator", own.risk_host, shared.risk_host, shared.risk_port),
                   ("mariadb", own.mysql_host, shared.mysql_host, shared.mysql_port)]
        for name, host, upstream, port in routes:
            self.proxies[name] = ServiceProxy(name, (host, port), (upstream, port))

    def proxy(self, name: str) -> ServiceProxy:
        return self.proxies[name]

    def close(self) -> None:
        for proxy in self.proxies.values():
            proxy.close()
        self.proxies = {}
        _close(self._claim)
