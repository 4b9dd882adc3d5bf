#!/usr/bin/env python3
"""Slow-client attacks beside a normal client, against one running server.

Each attack holds a fixed number of connections from one address (127.0.0.2) and reopens
every one the server closes at once; meanwhile a normal client from 127.0.0.1 asks for a
small file on a fresh connection at a fixed interval, over plain HTTP and, when a TLS port
is given, over HTTPS. Prints, per attack, the normal client's answers against its requests
and how long the server let the attack's connections live. See bench/README.md.

    slow_clients.py --port 8080 [--tls-port 8443] [--seconds 30] [--connections 300]
                    [--attacks body-get,body-put,slowloris,half-header,tls-hello]
"""

import argparse
import errno
import selectors
import socket
import ssl
import statistics
import sys
import threading
import time

ATTACKER = "127.0.0.2"
NORMAL = "127.0.0.1"
# How often a trickling attack sends its next piece: one body byte or one header line.
TRICKLE_SECONDS = 5.0
# The announced body of the slow-body attacks, far more than ever comes.
BODY_LENGTH = 1000000
# The attack gets this long to reach its full number of connections before the normal
# client starts asking.
RAMP_SECONDS = 2.0
# A normal request that has no whole answer within this counts as failed.
ANSWER_SECONDS = 5.0
# The start of a ClientHello record that announces 512 bytes, of which only these come.
PARTIAL_HELLO = bytes.fromhex("160301020001" "0001fc0303") + b"\x00" * 16

ATTACKS = ("body-get", "body-put", "slowloris", "half-header", "tls-hello")


def first_bytes(attack, serial):
    if attack == "body-get":
        return (b"GET /4k.txt HTTP/1.1\r\nHost: bench\r\nContent-Length: %d\r\n\r\nx" % BODY_LENGTH)
    if attack == "body-put":
        return (b"PUT /dav/slow-%d.txt HTTP/1.1\r\nHost: bench\r\nContent-Length: %d\r\n\r\nx"
                % (serial, BODY_LENGTH))
    if attack == "slowloris":
        return b"GET /4k.txt HTTP/1.1\r\n"
    if attack == "half-header":
        return b"GET /4k.txt HTTP/1.1\r\nHost: bench\r\n"
    if attack == "tls-hello":
        return PARTIAL_HELLO
    raise ValueError(attack)


def trickle_bytes(attack):
    if attack.startswith("body-"):
        return b"x"
    if attack == "slowloris":
        return b"X-Slow: a\r\n"
    return None  # the half header and the partial ClientHello send nothing more


class Attack:
    """Keeps `count` attack connections open from one event loop until stopped."""

    def __init__(self, attack, port, count):
        self.attack = attack
        self.port = port
        self.count = count
        self.selector = selectors.DefaultSelector()
        self.stop = threading.Event()
        self.lifetimes = []  # seconds from connect to the server's close
        self.opened = 0
        self.failed_connects = 0
        self.serial = 0
        self.thread = threading.Thread(target=self.run, daemon=True)

    def open_one(self):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setblocking(False)
        try:
            s.bind((ATTACKER, 0))
            rc = s.connect_ex(("127.0.0.1", self.port))
        except OSError:
            s.close()
            self.failed_connects += 1
            return False
        if rc not in (0, errno.EINPROGRESS):
            s.close()
            self.failed_connects += 1
            return False
        self.serial += 1
        state = {"start": time.monotonic(), "connected": False, "next": 0.0, "serial": self.serial}
        self.selector.register(s, selectors.EVENT_WRITE, state)
        self.opened += 1
        return True

    def close_one(self, s, state, served):
        self.selector.unregister(s)
        s.close()
        if served:
            self.lifetimes.append(time.monotonic() - state["start"])

    def run(self):
        trickle = trickle_bytes(self.attack)
        live = 0
        while not self.stop.is_set():
            while live < self.count and not self.stop.is_set():
                if not self.open_one():
                    break
                live += 1
            now = time.monotonic()
            for key, events in self.selector.select(timeout=0.05):
                s, state = key.fileobj, key.data
                if not state["connected"]:
                    if s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) != 0:
                        self.close_one(s, state, False)
                        self.failed_connects += 1
                        live -= 1
                        continue
                    state["connected"] = True
                    try:
                        s.send(first_bytes(self.attack, state["serial"]))
                    except OSError:
                        self.close_one(s, state, True)
                        live -= 1
                        continue
                    state["next"] = now + TRICKLE_SECONDS
                    self.selector.modify(s, selectors.EVENT_READ, state)
                    continue
                try:
                    data = s.recv(65536)
                except BlockingIOError:
                    continue
                except OSError:
                    data = b""
                if not data:  # the server closed it: reopened at once
                    self.close_one(s, state, True)
                    live -= 1
            if trickle is None:
                continue
            now = time.monotonic()
            for key in list(self.selector.get_map().values()):
                s, state = key.fileobj, key.data
                if state["connected"] and now >= state["next"]:
                    state["next"] = now + TRICKLE_SECONDS
                    try:
                        s.send(trickle)
                    except OSError:
                        self.close_one(s, state, True)
                        live -= 1
        for key in list(self.selector.get_map().values()):
            key.fileobj.close()


def normal_request(port, tls_context):
    """One GET /4k.txt on a fresh connection: True for a whole 200 answer."""
    deadline = time.monotonic() + ANSWER_SECONDS
    try:
        raw = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        raw.settimeout(ANSWER_SECONDS)
        raw.bind((NORMAL, 0))
        raw.connect(("127.0.0.1", port))
        s = tls_context.wrap_socket(raw, server_hostname="localhost") if tls_context else raw
        with s:
            s.sendall(b"GET /4k.txt HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n\r\n")
            answer = b""
            while time.monotonic() < deadline:
                s.settimeout(max(0.01, deadline - time.monotonic()))
                chunk = s.recv(65536)
                if not chunk:
                    break
                answer += chunk
    except (OSError, ssl.SSLError):
        return False
    head, _, body = answer.partition(b"\r\n\r\n")
    return head.startswith(b"HTTP/1.") and head[9:12] == b"200" and len(body) == 4096


def normal_client(port, tls_context, interval, stop, results):
    while not stop.is_set():
        started = time.monotonic()
        results.append(normal_request(port, tls_context))
        stop.wait(max(0.0, interval - (time.monotonic() - started)))


def run_attack(args, attack):
    attack_port = args.tls_port if attack == "tls-hello" else args.port
    if attack_port is None:
        return None
    load = Attack(attack, attack_port, args.connections)
    load.thread.start()
    time.sleep(RAMP_SECONDS)
    stop = threading.Event()
    plain, secure = [], []
    clients = [threading.Thread(target=normal_client, args=(args.port, None, args.interval, stop, plain))]
    if args.tls_port is not None:
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        clients.append(threading.Thread(target=normal_client,
                                        args=(args.tls_port, context, args.interval, stop, secure)))
    for c in clients:
        c.start()
    time.sleep(args.seconds)
    stop.set()
    for c in clients:
        c.join()
    load.stop.set()
    load.thread.join()
    return {"plain": plain, "https": secure, "lifetimes": load.lifetimes, "opened": load.opened,
            "failed": load.failed_connects}


def ratio(results):
    if not results:
        return "-"
    return "%d/%d (%d%%)" % (sum(results), len(results), 100 * sum(results) // len(results))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--tls-port", type=int)
    parser.add_argument("--name", default="server")
    parser.add_argument("--seconds", type=float, default=30.0, help="normal client's time per attack")
    parser.add_argument("--connections", type=int, default=300, help="attack connections held at once")
    parser.add_argument("--interval", type=float, default=0.5, help="seconds between normal requests")
    parser.add_argument("--attacks", default=",".join(ATTACKS))
    args = parser.parse_args()
    print("%-10s %-12s %-18s %-18s %-26s %s" % ("server", "attack", "plain answers", "https answers",
                                                "attack conn. life (s)", "attack connects"))
    for attack in args.attacks.split(","):
        if attack not in ATTACKS:
            sys.exit("unknown attack %s (%s)" % (attack, ", ".join(ATTACKS)))
        r = run_attack(args, attack)
        if r is None:
            continue
        life = r["lifetimes"]
        lifetext = ("median %.1f, max %.1f" % (statistics.median(life), max(life))) if life else "none closed"
        print("%-10s %-12s %-18s %-18s %-26s %d (%d failed)" % (args.name, attack, ratio(r["plain"]),
                                                              ratio(r["https"]), lifetext, r["opened"],
                                                              r["failed"]), flush=True)


if __name__ == "__main__":
    main()
