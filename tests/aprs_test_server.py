"""A small APRS-like server for the tests: on 127.0.0.1, one script per connection, every wait bounded.

A script is a list of steps, played in order on one accepted connection:
``("send", data)``, ``("login",)`` (read the client's login line),
``("sleep", seconds)``, ``("wait", event)`` (until the test sets the
``threading.Event``), ``("trickle", data, seconds)`` (one byte at a time),
``("reset",)`` (end with a TCP reset) and ``("hold",)`` (keep the connection
open, sending nothing, until the server is stopped). A script that ends
otherwise closes its connection. The server records the bytes it sent on each
connection and the login lines it read.
"""

from __future__ import annotations

import pathlib
import socket
import struct
import threading
import time

_CORPUS = pathlib.Path(__file__).resolve().parent.parent / "bench" / "corpus"
VALID_LINES = (_CORPUS / "valid.txt").read_bytes().splitlines()
BAD_LINES = (_CORPUS / "bad.txt").read_bytes().splitlines()
# Beacon lines as a server sends them: decoded ones and failing ones, mixed.
BEACONS = b"".join(line + b"\r\n" for pair in zip(VALID_LINES[:30], BAD_LINES[:30]) for line in pair)
LOGRESP = b"# logresp %s unverified, server TESTSRV\r\n"
BANNER = b"# kav test server 1.0\r\n"
MAX_SECONDS = 20.0  # no test server lives longer than this


def login_script(callsign: bytes, *steps) -> list:
    """Banner, login, login response, then `steps`."""
    return [("send", BANNER), ("login",), ("send", LOGRESP % callsign), *steps]


class AprsTestServer:
    def __init__(self, scripts: list[list], *, listen_after: float = 0.0) -> None:
        self.scripts = scripts
        self.listen_after = listen_after
        self.sent: list[bytearray] = []
        self.logins: list[bytes] = []
        self.errors: list[BaseException] = []
        self.done = threading.Event()  # every byte of every script sent
        self._stopped = threading.Event()
        self._deadline = time.monotonic() + MAX_SECONDS
        # Bound but not listening until listen_after has passed: connections are refused meanwhile.
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.bind(("127.0.0.1", 0))
        self.port = self._listener.getsockname()[1]
        self._thread = threading.Thread(target=self._serve, daemon=True)

    def __enter__(self) -> AprsTestServer:
        self._thread.start()
        return self

    def __exit__(self, *exc_info) -> None:
        self._stopped.set()
        self._thread.join(MAX_SECONDS)
        self._listener.close()
        if self.errors:
            raise self.errors[0]

    def _wait(self, seconds: float) -> None:
        self._stopped.wait(max(0.0, min(seconds, self._deadline - time.monotonic())))

    def _serve(self) -> None:
        try:
            self._wait(self.listen_after)
            self._listener.listen(8)
            self._listener.settimeout(0.05)
            for script in self.scripts:
                connection = self._accept()
                if connection is None:
                    return
                sent = bytearray()
                self.sent.append(sent)
                with connection:
                    self._play(connection, script, sent)
        except BaseException as error:  # reported by __exit__, in the test's thread
            self.errors.append(error)
        finally:
            self.done.set()

    def _accept(self) -> socket.socket | None:
        while not self._stopped.is_set() and time.monotonic() < self._deadline:
            try:
                connection, _ = self._listener.accept()
            except TimeoutError:
                continue
            connection.settimeout(5.0)
            return connection
        return None

    def _play(self, connection: socket.socket, script: list, sent: bytearray) -> None:
        for step in script:
            action = step[0]
            if self._stopped.is_set():
                return
            if action == "send":
                connection.sendall(step[1])
                sent += step[1]
            elif action == "login":
                line = b""
                while not line.endswith(b"\n") and len(line) < 1000:
                    part = connection.recv(1000)
                    if not part:
                        break
                    line += part
                self.logins.append(line)
            elif action == "sleep":
                self._wait(step[1])
            elif action == "wait":
                while not (step[1].wait(0.05) or self._stopped.is_set() or time.monotonic() > self._deadline):
                    pass
            elif action == "trickle":
                for byte in step[1]:
                    connection.sendall(bytes((byte,)))
                    sent.append(byte)
                    self._wait(step[2])
            elif action == "reset":
                connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                return
            elif action == "hold":
                self.done.set()
                self._wait(MAX_SECONDS)
            else:
                raise ValueError(f"unknown step {step!r}")
