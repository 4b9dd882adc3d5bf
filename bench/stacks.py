#!/usr/bin/env python3
"""Sums up a perf recording of the server by what the samples were doing.

    perf script -i perf.data -F tid,ip,sym | stacks.py [TOP]

Each sample (a call chain, leaf first) is put in one kind: waiting for a mutex, waking a
mutex's waiter on unlock, sending, polling, sleeping, allocating, ... and, inside each kind,
charged to the server's own function nearest to the leaf that is not part of the settings
tree or the lock itself (so "mutex wait" is charged to the code that wanted the tree).
Then the server's functions by inclusive share. TOP (default 6) callers per kind.
"""

import collections
import re
import sys

# The first matching rule names the kind of a sample; each rule is a set of frame names,
# or a predicate over the frames.
KINDS = [
    ("mutex wait (futex)", lambda f: "__GI___lll_lock_wait" in f),
    ("mutex unlock: waking a waiter (futex)", lambda f: "__GI___lll_lock_wake" in f),
    ("condition wait", lambda f: any("pthread_cond" in x for x in f)),
    ("sleep", lambda f: any(x in ("__nanosleep", "__GI___clock_nanosleep") or "clock_nanosleep" in x for x in f)),
    ("thread create", lambda f: "__pthread_create_2_1" in f or "std::thread::_M_start_thread" in f),
    ("thread join", lambda f: "std::thread::join" in f),
    ("send", lambda f: any(x in ("__libc_send", "__x64_sys_sendto", "__x64_sys_sendfile64", "__x64_sys_writev") for x in f)),
    ("recv", lambda f: any(x in ("__libc_recv", "__x64_sys_recvfrom") for x in f)),
    ("poll", lambda f: any(x in ("__x64_sys_ppoll", "__x64_sys_poll", "__poll", "ppoll") for x in f)),
    ("file read", lambda f: any(x in ("__x64_sys_pread64", "__x64_sys_read") for x in f)),
    ("open/stat/close", lambda f: any(x.startswith(("__x64_sys_open", "__x64_sys_newfstat", "__x64_sys_statx",
                                                      "__x64_sys_close", "__x64_sys_newlstat")) for x in f)),
    ("malloc/free", lambda f: any(x in ("malloc", "_int_malloc", "cfree@GLIBC_2.2.5", "_int_free", "free",
                                        "__GI___libc_free", "__libc_malloc", "operator new", "operator delete",
                                        "malloc_consolidate", "unlink_chunk.constprop.0") for x in f[:3])),
    ("memcpy/memcmp/strings", lambda f: bool(f) and f[0].startswith(("__mem", "__str"))),
]

OWN = re.compile(r"^(C[A-Z]\w*::|platform::|SplitConfigPath|BuildHeaderText|ReceiveHeader|CheckAccess|"
                 r"CheckHostKick|Authenticate|\(anonymous namespace\)::)")
# Frames of the tree and the lock: a sample is charged to the code that called them.
PLUMBING = ("platform::CCriticalSection", "CConfigNode", "CConfigClass", "CConfigAccessor", "CConfigLock",
            "SplitConfigPath", "CServerVariables", "platform::")


def samples(stream):
    frames = None
    for line in stream:
        if not line.strip():
            if frames:
                yield frames
            frames = None
        elif not line.startswith("\t"):
            frames = []
        elif frames is not None:
            parts = line.strip().split(" ", 1)
            frames.append(re.sub(r" \(inlined\)$", "", parts[1] if len(parts) > 1 else "?"))
    if frames:
        yield frames


def charged(frames):
    for f in frames:
        if OWN.match(f) and not f.startswith(PLUMBING):
            return f
    for f in frames:
        if OWN.match(f):
            return f
    return "(no server frame)"


def main():
    top = int(sys.argv[1]) if len(sys.argv) > 1 else 6
    kinds = collections.Counter()
    callers = collections.defaultdict(collections.Counter)
    inclusive = collections.Counter()
    total = 0
    for frames in samples(sys.stdin):
        total += 1
        kind = next((name for name, test in KINDS if test(frames)), "other CPU")
        kinds[kind] += 1
        callers[kind][charged(frames)] += 1
        for f in set(frames):
            if OWN.match(f):
                inclusive[f] += 1
    if not total:
        print("no samples")
        return
    print("%d samples" % total)
    for kind, n in kinds.most_common():
        print("%5.1f%%  %s" % (100.0 * n / total, kind))
        for caller, m in callers[kind].most_common(top):
            print("          %5.1f%%  %s" % (100.0 * m / total, caller))
    print()
    print("server functions, inclusive:")
    for f, n in inclusive.most_common(40):
        print("%5.1f%%  %s" % (100.0 * n / total, f))


if __name__ == "__main__":
    main()
