#!/usr/bin/env python3
"""Counts what one request costs a server that runs under valgrind --tool=callgrind: the
user-space instructions and the calls of malloc (and its kin) per request, for each load.

    request_cost.py PID PORT OUT_FOLDER REQUESTS LOAD...

LOAD is keepalive (REQUESTS requests for /4k.txt on one connection), close (one connection
per request, each with "Connection: close") or index (as keepalive, for the index page of
/dir/). Each load runs a warm-up, then two measured
batches of REQUESTS and 2 x REQUESTS requests, each between a zeroing and a dump of the
server's counters (callgrind_control); the figure per request is the difference of the two
batches divided by REQUESTS, so that what a batch costs whatever its size (the dump
itself, the server's once-a-second work) drops out.
"""

import os
import re
import socket
import subprocess
import sys

PATHS = {"keepalive": "/4k.txt", "close": "/4k.txt", "index": "/dir/"}
WARMUP = 50
ALLOCATORS = {"malloc", "calloc", "realloc", "aligned_alloc", "posix_memalign", "memalign"}
RECEIVE_TIMEOUT_S = 120  # the server runs some fifty times slower under callgrind


def read_answer(sock, buffered):
    """Reads one answer with a Content-Length body; gives back the bytes after it."""
    data = buffered
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(65536)
        if not chunk:
            raise RuntimeError("the server closed the connection inside an answer's header")
        data += chunk
    head, rest = data.split(b"\r\n\r\n", 1)
    status = head.split(b"\r\n", 1)[0]
    if b" 200 " not in status + b" ":
        raise RuntimeError("the server answered %r" % status)
    match = re.search(rb"\r\nContent-Length: *(\d+)", head, re.IGNORECASE)
    length = int(match.group(1)) if match else 0
    while len(rest) < length:
        chunk = sock.recv(65536)
        if not chunk:
            raise RuntimeError("the server closed the connection inside a body")
        rest += chunk
    return rest[length:]


def request(path, port, connection):
    return ("GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nConnection: %s\r\n\r\n" % (path, port, connection)).encode()


def keepalive(path, port, count):
    sock = socket.create_connection(("127.0.0.1", port))
    sock.settimeout(RECEIVE_TIMEOUT_S)
    buffered = b""
    message = request(path, port, "keep-alive")
    for _ in range(count):
        sock.sendall(message)
        buffered = read_answer(sock, buffered)
    sock.close()


def close(path, port, count):
    message = request(path, port, "close")
    for _ in range(count):
        sock = socket.create_connection(("127.0.0.1", port))
        sock.settimeout(RECEIVE_TIMEOUT_S)
        sock.sendall(message)
        read_answer(sock, b"")
        # The server closes after its answer: the end of the stream is part of the request.
        while sock.recv(65536):
            pass
        sock.close()


def control(pid, *arguments):
    done = subprocess.run(["callgrind_control", *arguments, str(pid)], capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError("callgrind_control %s failed: %s" % (" ".join(arguments), done.stdout + done.stderr))


def newest_dump(folder, known):
    dumps = [name for name in os.listdir(folder) if name.startswith("callgrind.out") and name not in known]
    if len(dumps) != 1:
        raise RuntimeError("expected one new callgrind dump in %s, found %s" % (folder, dumps))
    return os.path.join(folder, dumps[0])


def read_dump(path):
    """Total instructions and calls of the allocators in one callgrind dump."""
    names = {}
    total = None
    allocations = 0
    callee = None
    define = re.compile(r"^c?fn=\((\d+)\)(?: (.*))?$")
    with open(path, errors="replace") as dump:
        for line in dump:
            line = line.rstrip("\n")
            match = define.match(line)
            if match:
                number, name = match.group(1), match.group(2)
                if name is not None:
                    names[number] = name
                callee = names.get(number) if line.startswith("cfn=") else None
                continue
            if line.startswith("calls=") and callee is not None:
                if callee in ALLOCATORS:
                    allocations += int(line[6:].split()[0])
                callee = None
            elif line.startswith("totals:") or line.startswith("summary:"):
                total = int(line.split()[1])
    if total is None:
        raise RuntimeError("no totals in %s" % path)
    return total, allocations


def measure(pid, port, folder, count, load):
    run = close if load == "close" else keepalive
    path = PATHS[load]
    run(path, port, WARMUP)
    costs = []
    for batch in (count, 2 * count):
        known = set(os.listdir(folder))
        control(pid, "-z")
        run(path, port, batch)
        control(pid, "-d")
        costs.append(read_dump(newest_dump(folder, known)))
    instructions = (costs[1][0] - costs[0][0]) / count
    allocations = (costs[1][1] - costs[0][1]) / count
    return instructions, allocations


def main():
    pid, port, folder, count = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
    loads = sys.argv[5:]
    print("%-12s %16s %14s" % ("load", "instructions", "malloc calls"))
    for load in loads:
        if load not in PATHS:
            raise SystemExit("unknown load %s (%s)" % (load, ", ".join(PATHS)))
        instructions, allocations = measure(pid, port, folder, count, load)
        print("%-12s %16.0f %14.1f" % (load, instructions, allocations))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
