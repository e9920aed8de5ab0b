#!/usr/bin/env python3
"""Crash consistency of the update: LauncherCli killed with SIGKILL at many
points of a four-package update, then run again until it ends.

Scenario: five versions of a small client tree (v1 is the empty fresh
install); packages 00001..00004 built with `mkpatch diff` carry nested
directories, overwritten files (one with the same length), an empty file, a
file that is emptied and one that is filled, and new files. `patch-server`
serves them on 127.0.0.1; each parallel slot has its own server and log.

Two kinds of kill:
  syscall  strace's fault injection kills the process on entering one
           file-system call (the call does not happen). Every call on the
           version file, the packages and the written entries is a point:
           openat, write, close, fsync, syncfs, rename, unlink, mkdir, chmod...
           strace counts injections per syscall and per thread, and the
           applier writes on a fresh thread per package, so a point is
           addressed as (syscall, its paths with -P, N-th matching call of
           that thread), starting from the client as it stands before that
           package. The starting clients are made by LauncherCli itself,
           against a version list that stops at that patch. After the kill
           the strace log must show the intended call as the one killed.
  random   plain SIGKILL after a seeded random delay, from a fresh client;
           some runs are killed again while recovering.

After every kill the client is checked: PRESENTVERSION.DAT is five digits and
not lower than before; every file holds its old or its new content (anything
else is half-written); no file of the recorded version is missing; a partly
downloaded package is a prefix of the server's. Then LauncherCli runs without
faults until it ends (at most three starts) and the client must equal the
target tree byte for byte. The reference runs (no kill) are traced as well, to
check that the package's files are synced before the version file advances.

Figures: convergence, half-written files, version files that went back or
became unreadable (the engine would start over at patch 1), leftover
temporary files, and bytes served again per crash: what patch-server logged
beyond one full download of each file (a response cut short by the kill counts
whole, as the server sent it into the socket).

With --index the server also publishes FILES.IDX for the latest release,
whose tree retires two files the packages carried, and the update goes
through the index from patches 1 and 3. After a kill the version file is the
start's or the latest (and then the tree is the latest exactly), every game
file holds its start or its latest content, and nothing beside the client
directory has changed; the next runs must reach the latest tree, retired
files gone.

  crash_suite.py --bin BUILD/bin            short version (CI): sampled points
  crash_suite.py --bin BUILD/bin --long     every point, more random kills
  crash_suite.py --bin BUILD/bin --index    the file index path

Exit status: 0 when every goal is met, 1 otherwise, 77 when strace is missing.
"""
import argparse
import collections
import concurrent.futures
import os
import queue
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

VERSION_FILE = "PRESENTVERSION.DAT"
VERSION_TEMP = VERSION_FILE + ".part"
APPLIER_TEMP = ".launcher-part"
# The single-instance lock: an empty file that stays by design.
LOCK_FILE = ".Brevane.lock"
# The launcher's own files beside the game's: never part of a version.
LAUNCHER_FILES = {LOCK_FILE, "launcher.log", "launcher.log.1", "FILES.STATE"}
# The index path's working files: the index and the gathered entries.
INDEX_TEMPS = {"FILES.IDX", "FILES.IDX.DAT", "FILES.STATE.part"}
# Names the index's tree leaves out of the latest release.
RETIRED = ["data/maps/north/zone1.map", "data/events/e3/deep/notes.txt"]
INDEX_STARTS = (1, 3)
SERVER_LIST = "SERVERVER.INI"
LATEST = 5
LAUNCHER_VERSION = "1.1.6.0"
SCENARIO_SEED = 20261209
RUN_TIMEOUT = 180  # seconds for one LauncherCli run; a normal one takes ~15
MAX_RECOVERY_RUNS = 3

# The calls a point can be; fd-based ones are matched by the file's path.
TRACED = ["openat", "write", "close", "fsync", "fdatasync", "syncfs", "ftruncate",
          "rename", "renameat2", "linkat", "unlink", "unlinkat", "mkdir", "chmod"]
FD_CALLS = {"write", "close", "fsync", "fdatasync", "syncfs", "ftruncate"}


# ---------------------------------------------------------------- scenario

def text(rng, lines):
    words = "frost ember valley tower crystal archer rune harbor lantern citadel".split()
    return "".join(" ".join(rng.choice(words) for _ in range(rng.randint(5, 12))) + "\n"
                   for _ in range(lines)).encode()


def blob(rng, size):
    out = bytearray()
    while len(out) < size:
        out += bytes([rng.randrange(256)]) * rng.randint(4, 40) if rng.random() < 0.5 \
            else rng.randbytes(rng.randint(4, 40))
    return bytes(out[:size])


def make_versions():
    """{version: {relative path: bytes}} for v1 (empty) .. v5."""
    rng = random.Random(SCENARIO_SEED)
    versions = {1: {}}
    t = {
        "readme.txt": text(rng, 12),
        "config/game.ini": b"[display]\nwidth=1024\nheight=768\n",
        "config/empty.cfg": b"",
        "data/maps/north/zone0.map": blob(rng, 6000),
        "data/maps/north/zone1.map": blob(rng, 3000),
        "data/maps/south/zone0.map": blob(rng, 4500),
        "data/text/quests/q01.txt": text(rng, 30),
        "data/text/quests/q02.txt": text(rng, 25),
        # Incompressible, so that its packages span several download writes.
        "data/packs/world.pak": rng.randbytes(640 * 1024),
    }
    versions[2] = dict(t)
    t["readme.txt"] = text(rng, 14)
    t["data/maps/north/zone0.map"] = blob(rng, 6000)  # same length, new bytes
    t["data/events/e3/deep/notes.txt"] = text(rng, 10)
    t["data/events/e3/marker.flag"] = b""
    t["data/text/quests/q03.txt"] = text(rng, 20)
    versions[3] = dict(t)
    world = bytearray(t["data/packs/world.pak"])
    world[100_000:300_000] = rng.randbytes(200_000)
    t["data/packs/world.pak"] = bytes(world)
    t["config/empty.cfg"] = b"[empty]\nfilled=1\n"
    t["data/maps/south/zone0.map"] = b""
    t["a/b/c/d/e/deep.txt"] = text(rng, 5)
    versions[4] = dict(t)
    t["readme.txt"] = text(rng, 15)
    t["data/events/e3/marker.flag"] = b"flag\n"
    t["data/text/quests/q01.txt"] = text(rng, 31)
    t["data/maps/west/zone0.map"] = blob(rng, 5000)
    t["config/game.ini"] = b"[display]\nwidth=1280\nheight=800\n"
    versions[5] = dict(t)
    return versions


def write_tree(root, files):
    os.makedirs(root, exist_ok=True)
    for rel, content in files.items():
        path = os.path.join(root, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)


def package_name(n):
    return "%05d.DAT" % n


class Scenario:
    def __init__(self, bin_dir, work, index=False):
        self.bin = bin_dir
        self.work = work
        self.index = index
        self.versions = make_versions()
        self.target = {rel: c for rel, c in self.versions[LATEST].items()
                       if not (index and rel in RETIRED)}
        # Bytes one fault-free run from each start fetches (index path).
        self.reference_bytes = {}
        self.root = os.path.join(work, "server")
        self.packages = os.path.join(self.root, "corvatheon2_online")
        self.list_path = os.path.join(self.root, "corvatheon_version", "corvatheon2_online",
                                      SERVER_LIST)
        os.makedirs(self.packages)
        os.makedirs(os.path.dirname(self.list_path))
        for v, files in self.versions.items():
            write_tree(os.path.join(work, "versions", "v%d" % v), files)
        self.package_bytes = {}
        for n in range(1, LATEST):
            out = os.path.join(self.packages, package_name(n))
            run_checked([self.tool("mkpatch"), "diff", out,
                         os.path.join(work, "versions", "v%d" % n),
                         os.path.join(work, "versions", "v%d" % (n + 1))])
            run_checked([self.tool("mkpatch"), "verify", out])
            with open(out, "rb") as f:
                self.package_bytes[n] = f.read()
        self.set_latest(LATEST)
        # Everything the update may touch in the client directory.
        self.names = {".", VERSION_FILE, VERSION_TEMP, APPLIER_TEMP}
        self.names.update(package_name(n) for n in range(1, LATEST))
        for files in self.versions.values():
            for rel in files:
                self.names.add(rel)
                parts = rel.split("/")[:-1]
                for depth in range(1, len(parts) + 1):
                    directory = "/".join(parts[:depth])
                    self.names.update((directory, directory + "/" + APPLIER_TEMP))
        if index:
            self.names.update(INDEX_TEMPS | {"FILES.STATE"})

    def tool(self, name):
        return os.path.join(self.bin, name)

    def set_latest(self, latest):
        run_checked([self.tool("mkpatch"), "serverlist", "--launcher", LAUNCHER_VERSION,
                     "--latest", str(latest), "-o", self.list_path])
        self.list_size = os.path.getsize(self.list_path)

    def publish_index(self):
        """FILES.IDX for the latest release, whose tree lacks the RETIRED files."""
        tree = os.path.join(self.work, "versions", "index-tree")
        write_tree(tree, self.target)
        run_checked([self.tool("mkpatch"), "index", "--tree", tree, "--packages",
                     self.packages, self.list_path])

    def full_download_bytes(self, start):
        """One download of the list and of every package from `start` on."""
        if self.index:
            return self.reference_bytes.get(start, 0)
        return self.list_size + sum(len(self.package_bytes[n]) for n in range(start, LATEST))


def run_checked(command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            timeout=120)
    if result.returncode != 0:
        raise RuntimeError("%s failed:\n%s" % (" ".join(command), result.stdout.decode()))


# ------------------------------------------------------------------ server

class PatchServer:
    """patch-server on a free 127.0.0.1 port, logging to its own file."""

    LINE = re.compile(r"^(GET|HEAD) (\S+)(?: bytes=\S*)? -> (\d+) \((\d+) bytes\)$")

    def __init__(self, bin_dir, root, log_path):
        self.log_path = log_path
        for _ in range(5):
            with socket.socket() as probe:
                probe.bind(("127.0.0.1", 0))
                self.port = probe.getsockname()[1]
            self.log = open(log_path, "ab")
            self.process = subprocess.Popen(
                [os.path.join(bin_dir, "patch-server"), "--port", str(self.port), root],
                stdout=self.log, stderr=subprocess.STDOUT)
            if self._wait_until_listening():
                return
            self.stop()
        raise RuntimeError("patch-server did not start")

    def _wait_until_listening(self):
        for _ in range(50):
            if self.process.poll() is not None:
                return False
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=0.2):
                    return True
            except OSError:
                time.sleep(0.1)
        return False

    def host(self):
        return "127.0.0.1:%d" % self.port

    def mark(self):
        return os.path.getsize(self.log_path)

    def served_since(self, mark):
        """Bytes logged for requests after `mark`. The log line of a response is
        written once it has been sent, so wait until the log stops growing."""
        size = -1
        for _ in range(20):
            if os.path.getsize(self.log_path) == size:
                break
            size = os.path.getsize(self.log_path)
            time.sleep(0.1)
        with open(self.log_path, "rb") as f:
            f.seek(mark)
            lines = f.read().decode(errors="replace").splitlines()
        total = 0
        for line in lines:
            m = self.LINE.match(line)
            if m and m.group(3) in ("200", "206"):
                total += int(m.group(4))
        return total

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()


# ---------------------------------------------------------------- launcher

def launcher_command(bin_dir, server):
    return [os.path.join(bin_dir, "LauncherCli"), "--version-host", server.host(),
            "--download-host", server.host()]


def launcher_env(bin_dir, traced=False):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    # In sanitizer builds dlopen goes through the sanitizer's interceptor, whose
    # caller has no $ORIGIN runpath: show it the decompressor's directory.
    env["LD_LIBRARY_PATH"] = ":".join(filter(None, [bin_dir, env.get("LD_LIBRARY_PATH")]))
    if traced:
        # The leak checker of sanitizer builds cannot work under ptrace.
        env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"),
                                                     "detect_leaks=0"]))
    return env


def run_launcher(bin_dir, server, client, log, strace=None):
    """Runs LauncherCli in `client` (under strace when given its options);
    returns the exit status, negative for a signal."""
    command = launcher_command(bin_dir, server)
    if strace is not None:
        command = ["strace", "-f", "-qq", "-y"] + strace + command
    with open(log, "ab") as err:
        # A group of its own, so that a hung run goes with its tracer.
        process = subprocess.Popen(command, cwd=client,
                                   env=launcher_env(bin_dir, strace is not None),
                                   stdin=subprocess.DEVNULL, stdout=err, stderr=err,
                                   start_new_session=True)
        try:
            code = process.wait(timeout=RUN_TIMEOUT)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            return "timeout"
    # strace ends with the tracee's signal or reports it as 128 + signal.
    return -signal.SIGKILL if code in (-signal.SIGKILL, 128 + signal.SIGKILL) else code


def run_and_kill_after(bin_dir, server, client, log, delay):
    """Starts LauncherCli and kills it after `delay` seconds; True when the
    kill came while it was still running."""
    with open(log, "ab") as err:
        process = subprocess.Popen(launcher_command(bin_dir, server), cwd=client,
                                   env=launcher_env(bin_dir), stdin=subprocess.DEVNULL,
                                   stdout=err, stderr=err)
        try:
            process.wait(timeout=delay)
            return False
        except subprocess.TimeoutExpired:
            process.send_signal(signal.SIGKILL)
            process.wait()
            return True


# ------------------------------------------------------------------ traces

TRACE_LINE = re.compile(r"^(\d+)\s+(\w+)\((.*)$")
RESUMED = re.compile(r"^(\d+)\s+<\.\.\. (\w+) resumed>.*\)\s+= (.*)$")
RESULT = re.compile(r".*\)\s+= (.*)$")
FD_ARG = re.compile(r"^(?:-?\d+|AT_FDCWD)<([^>]*)>")
STRING = re.compile(r'"((?:[^"\\]|\\.)*)"')


class Event:
    def __init__(self, index, tid, call, args):
        self.index, self.tid, self.call, self.args = index, tid, call, args
        self.result = None
        self.fd_path = None
        self.strings = STRING.findall(args)
        m = FD_ARG.match(args)
        if m and call in FD_CALLS:
            self.fd_path = m.group(1)
        # The directory descriptor of an *at call (retired files go by
        # unlinkat, the applier walks directories by openat).
        self.dir_path = m.group(1) if m and call not in FD_CALLS and \
            not args.startswith("AT_FDCWD") else None
        self.at_dir = self.dir_path if call == "unlinkat" else None

    def literal_paths(self):
        """The path arguments strace's -P compares (for a rename, its source)."""
        if self.call in FD_CALLS or not self.strings:
            return []
        # A new file without a name is linked from its /proc name to its own.
        if self.call == "linkat":
            return self.strings[1:2]
        return self.strings[:1]

    def client_path(self, client):
        """The client-relative path this call works on, or None."""
        if self.fd_path is not None:
            if self.fd_path == client:
                return "."
            if self.fd_path.startswith(client + "/"):
                return self.fd_path[len(client) + 1:]
            return None
        paths = self.literal_paths()
        if self.at_dir is not None and paths:
            full = os.path.join(self.at_dir, paths[0])
            return full[len(client) + 1:] if full.startswith(client + "/") else None
        if paths and not paths[0].startswith("/"):
            return paths[0]
        return None

    def describe(self, client):
        path = self.client_path(client)
        extra = ""
        if self.call == "rename" and len(self.strings) > 1:
            extra = " -> " + self.strings[1]
        return "%s(%s%s)" % (self.call, path, extra)


def parse_trace(path):
    events = []
    pending = {}
    with open(path, errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            m = RESUMED.match(line)
            if m:
                event = pending.pop((int(m.group(1)), m.group(2)), None)
                if event is not None:
                    event.result = m.group(3)
                continue
            m = TRACE_LINE.match(line)
            if not m:
                continue
            tid, call, rest = int(m.group(1)), m.group(2), m.group(3)
            event = Event(len(events), tid, call, rest)
            if rest.endswith("<unfinished ...>"):
                pending[(tid, call)] = event
            else:
                m = RESULT.match(rest)
                event.result = m.group(1) if m else None
            events.append(event)
    return events


def is_point(event, client, names):
    """A call on the version file, a package or a written entry (the dynamic
    loader's probes for libraries in the current directory are none)."""
    return event.call in TRACED and event.client_path(client) in names


def matches(event, call, literal, absolute):
    """Whether strace's -P filter of a point lets `event` count towards it."""
    if event.call != call:
        return False
    if event.fd_path is not None and event.call in FD_CALLS:
        return event.fd_path in absolute
    return any(p in literal for p in event.literal_paths()) or event.dir_path in absolute


class Point:
    """One kill point: a call of the reference run from start state `start`."""

    def __init__(self, start, event, client, when):
        self.start = start
        self.call = event.call
        self.when = when
        self.description = event.describe(client)
        rel = event.client_path(client)
        self.fd_based = event.call in FD_CALLS
        self.rel = rel
        self.literal = event.literal_paths()[0] if not self.fd_based else None

    def strace_options(self, client):
        path = os.path.join(client, self.rel) if self.rel != "." else client
        target = path if self.fd_based else self.literal
        return ["-e", "trace=" + self.call,
                "-e", "inject=%s:signal=KILL:when=%d" % (self.call, self.when),
                "-P", target]

    def hit_in(self, log, client):
        """True when the strace log shows this point's call as the one killed."""
        for event in parse_trace(log):
            if event.result == "?" and event.call == self.call and \
                    event.client_path(client) == self.rel:
                return True
        return False

    def target_kind(self):
        if self.rel in (VERSION_FILE, VERSION_TEMP):
            return "version"
        if self.rel == ".":
            return "directory"
        if self.rel in INDEX_TEMPS or self.rel == "FILES.STATE":
            return "index"
        if self.call == "unlinkat" and self.rel in RETIRED:
            return "retired"
        return "package" if classify(self.rel) == "package" else "entry"

    def label(self):
        return "p%d %s #%d" % (self.start, self.description, self.when)


def points_of(events, client, start, start_dir, names):
    """The kill points of the package applied first in a reference run from
    `start`, each with the per-thread count that reaches it."""
    next_package = package_name(start + 1)
    points, unreachable = [], []
    for e in events:
        if e.call == "openat" and e.strings and e.strings[0] == next_package:
            break
        if not is_point(e, client, names):
            continue
        if e.call in FD_CALLS:
            literal, absolute = set(), {e.fd_path}
        else:
            # strace also stores a -P path resolved, when it exists at the
            # start, and then counts calls on a directory descriptor of it.
            literal = set(e.literal_paths())
            absolute = {os.path.join(client, p) for p in literal
                        if os.path.exists(os.path.join(start_dir, p))}
        counts = collections.Counter()
        reached_first = None
        when = None
        for x in events:
            if not matches(x, e.call, literal, absolute):
                continue
            counts[x.tid] += 1
            if x is e:
                when = counts[x.tid]
                break
        # Another thread reaching the same count earlier would take the kill.
        for x_tid, n in counts.items():
            if x_tid != e.tid and when is not None and n >= when:
                reached_first = x_tid
        # Calls that more than one thread makes (files written ahead of the
        # writer by whichever thread is free) fall to other threads in
        # another run: no count addresses one of them reliably.
        if reached_first is None and when is not None and \
                len({x.tid for x in events if matches(x, e.call, literal, absolute)}) > 1:
            reached_first = e.tid
        if when is None or reached_first is not None:
            unreachable.append(e.describe(client))
            continue
        points.append(Point(start, e, client, when))
    return points, unreachable


def durability_problems(events, client, advances):
    """The version file must advance `advances` times, each time by renaming a
    temporary file synced before, after a syncfs that follows the entries
    written since the previous advance, and be followed by an fsync of the
    directory. It is never written in place."""
    problems = []
    renames = 0
    entry_written = False
    synced = True
    temp_synced = False
    pending_dir_sync = None
    for e in events:
        path = e.client_path(client)
        if (e.call == "rename" and e.strings and
                os.path.basename(e.strings[0]) == APPLIER_TEMP) or \
                (e.call == "linkat" and path is not None):
            entry_written, synced = True, False
        elif e.call == "syncfs":
            synced = True
        elif e.call == "write" and path == VERSION_TEMP:
            temp_synced = False
        elif e.call in ("write", "ftruncate") and path == VERSION_FILE:
            problems.append("the version file written in place (#%d)" % e.index)
        elif e.call == "fsync" and path == VERSION_TEMP:
            temp_synced = True
        elif e.call == "fsync" and path == "." and pending_dir_sync is not None:
            pending_dir_sync = None
        elif e.call == "rename" and e.strings and e.strings[0] == VERSION_TEMP:
            if pending_dir_sync is not None:
                problems.append("no directory sync after " + pending_dir_sync)
            label = "version rename #%d" % e.index
            if entry_written and not synced:
                problems.append(label + " before the package's files were synced")
            if not temp_synced:
                problems.append(label + " of an unsynced temporary file")
            entry_written = False
            pending_dir_sync = label
            renames += 1
    if pending_dir_sync is not None:
        problems.append("no directory sync after " + pending_dir_sync)
    if renames != advances:
        problems.append("the version file was renamed into place %d times, not %d" %
                        (renames, advances))
    return problems


# ------------------------------------------------------------------ checks

def classify(rel):
    base = os.path.basename(rel)
    if rel == VERSION_FILE:
        return "version"
    if base == APPLIER_TEMP or rel.startswith(VERSION_FILE + ".part"):
        return "temp"
    if rel in INDEX_TEMPS:
        return "temp"
    if re.fullmatch(r"\d{5}\.DAT", rel):
        return "package"
    if rel == SERVER_LIST:
        return "list"
    return "client"


def walk(client):
    files = {}
    for dirpath, _, names in os.walk(client):
        for name in names:
            full = os.path.join(dirpath, name)
            rel = os.path.relpath(full, client).replace(os.sep, "/")
            if rel in LAUNCHER_FILES:
                continue
            with open(full, "rb") as f:
                files[rel] = f.read()
    return files


def read_version(files):
    """The recorded patch number, None when absent, "bad" when unreadable."""
    if VERSION_FILE not in files:
        return None
    content = files[VERSION_FILE]
    return int(content) if re.fullmatch(rb"\d{5}", content) else "bad"


class Findings:
    def __init__(self):
        self.half_written = []
        self.lost = []
        self.went_back = []
        self.bad_packages = []
        self.temps = []
        self.stray = []
        self.early = []
        self.outside = []


def check_after_crash(scenario, client, before, findings, label):
    """Checks the client between two runs; returns the recorded version."""
    files = walk(client)
    version = read_version(files)
    if version == "bad" or (version is None and before > 1) or \
            (isinstance(version, int) and version < before):
        findings.went_back.append("%s: %r after %d" % (label, files.get(VERSION_FILE), before))
        return before
    q = version or 1
    old, new = scenario.versions[q], scenario.versions.get(q + 1, scenario.versions[q])
    for rel, content in sorted(files.items()):
        kind = classify(rel)
        if kind == "temp":
            findings.temps.append("%s: %s" % (label, rel))
        elif kind == "package":
            n = int(rel[:5])
            full = scenario.package_bytes.get(n, b"")
            if n != q:
                findings.stray.append("%s: %s" % (label, rel))
            if not full.startswith(content):
                findings.bad_packages.append("%s: %s is not a prefix of the server's" %
                                             (label, rel))
        elif kind == "client" and content != old.get(rel) and content != new.get(rel):
            findings.half_written.append("%s: %s (%d bytes)" % (label, rel, len(content)))
    for rel in old:
        if rel not in files:
            findings.lost.append("%s: %s" % (label, rel))
    return q


def check_after_index_crash(scenario, client, start, before, findings, label):
    """Checks the client between two runs of the index path; returns the
    recorded version. Entries replace whole files and the version file is
    written last: every file is the start's or the latest's, and once the
    latest patch is recorded the tree is the latest's."""
    files = walk(client)
    version = read_version(files) or 1
    if version not in ({LATEST} if before == LATEST else {start, LATEST}):
        findings.went_back.append("%s: %r after %d" % (label, files.get(VERSION_FILE), before))
        return before
    old, new = scenario.versions[start], scenario.target
    game = {}
    for rel, content in sorted(files.items()):
        kind = classify(rel)
        if kind == "temp":
            findings.temps.append("%s: %s" % (label, rel))
        elif kind == "package":
            findings.stray.append("%s: %s" % (label, rel))
        elif kind == "client":
            game[rel] = content
            if content != old.get(rel) and content != new.get(rel):
                findings.half_written.append("%s: %s (%d bytes)" % (label, rel, len(content)))
    findings.lost += ["%s: %s" % (label, rel) for rel in new if rel in old and rel not in files]
    if version == LATEST and game != new:
        differ = sorted(rel for rel in set(game) | set(new) if game.get(rel) != new.get(rel))
        findings.early.append("%s: %s" % (label, ", ".join(differ)))
    return version


def check_between(scenario, client, start, before, findings, label):
    if scenario.index:
        return check_after_index_crash(scenario, client, start, before, findings, label)
    return check_after_crash(scenario, client, before, findings, label)


def beside(job_dir):
    """Everything beside the client directory but the suite's logs."""
    found = {}
    for dirpath, dirnames, names in os.walk(job_dir):
        if dirpath == job_dir:
            dirnames[:] = [d for d in dirnames if d != "client"]
            names = [n for n in names if not n.endswith(".log")]
        for name in dirnames + names:
            st = os.lstat(os.path.join(dirpath, name))
            found[os.path.join(dirpath, name)] = (st.st_mode, st.st_size, st.st_mtime_ns)
    return found


def converged(scenario, client):
    """(True, leftover temporaries) when the client is the target tree."""
    files = walk(client)
    temps = [rel for rel in files if classify(rel) == "temp"]
    rest = {rel: c for rel, c in files.items() if classify(rel) != "temp"}
    target = dict(scenario.target)
    target[VERSION_FILE] = b"%05d" % LATEST
    # Through the index, the record of the installation for the quick check.
    recorded = not scenario.index or os.path.exists(os.path.join(client, "FILES.STATE"))
    return rest == target and recorded, temps


# ------------------------------------------------------------------- suite

class Slots:
    """One patch-server per parallel slot, handed out one job at a time."""

    def __init__(self, bin_dir, scenario, work, count):
        self.servers = [PatchServer(bin_dir, scenario.root, os.path.join(work, "server-%d.log" % i))
                        for i in range(count)]
        self.free = queue.Queue()
        for s in self.servers:
            self.free.put(s)

    def stop(self):
        for s in self.servers:
            s.stop()


class Outcome:
    def __init__(self, kind, label, where):
        self.kind, self.label, self.where = kind, label, where
        self.crashes = 0
        self.missed = None
        self.converged = False
        self.recovery_runs = 0
        self.extra_bytes = 0
        self.leftover_temps = []
        self.findings = Findings()


def recover(bin_dir, server, client, log, outcome):
    for run in range(1, MAX_RECOVERY_RUNS + 1):
        code = run_launcher(bin_dir, server, client, log)
        outcome.recovery_runs = run
        if code == 0:
            return True
    return False


def finish(scenario, bin_dir, server, client, log, outcome, start, mark):
    if recover(bin_dir, server, client, log, outcome):
        outcome.converged, outcome.leftover_temps = converged(scenario, client)
    outcome.extra_bytes = server.served_since(mark) - scenario.full_download_bytes(start)


def run_point(scenario, bin_dir, server, job_dir, start_dir, point):
    where = {"version": "the version file", "directory": "the directory",
             "package": "a package", "entry": "an entry",
             "index": "an index file", "retired": "a retired file"}[point.target_kind()]
    outcome = Outcome("syscall", point.label(), "a call on " + where)
    client = os.path.join(job_dir, "client")
    shutil.copytree(start_dir, client, symlinks=True)
    client = os.path.realpath(client)
    log = os.path.join(job_dir, "launcher.log")
    strace_log = os.path.join(job_dir, "strace.log")
    mark = server.mark()
    code = run_launcher(bin_dir, server, client, log,
                        ["-o", strace_log] + point.strace_options(client))
    if code != -signal.SIGKILL:
        outcome.missed = "not killed (exit %s)" % code
        return outcome
    if not point.hit_in(strace_log, client):
        outcome.missed = "killed at another call"
        return outcome
    outcome.crashes = 1
    check_between(scenario, client, point.start, point.start, outcome.findings, outcome.label)
    finish(scenario, bin_dir, server, client, log, outcome, point.start, mark)
    return outcome


def run_random(scenario, bin_dir, server, job_dir, start, start_dir, delays):
    outcome = Outcome("random", "p%d, kills after %s" %
                      (start, ", ".join("%.3f s" % d for d in delays)), "a random time")
    client = os.path.join(job_dir, "client")
    shutil.copytree(start_dir, client, symlinks=True)
    write_tree(os.path.join(job_dir, "beside"), {"keep.txt": b"not the client's\n"})
    untouched = beside(job_dir)
    log = os.path.join(job_dir, "launcher.log")
    mark = server.mark()
    before = start
    for i, delay in enumerate(delays):
        if not run_and_kill_after(bin_dir, server, client, log, delay):
            break  # the run ended first; nothing left to interrupt
        outcome.crashes += 1
        label = "%s, kill %d" % (outcome.label, i + 1)
        before = check_between(scenario, client, start, before, outcome.findings, label)
        if beside(job_dir) != untouched:
            outcome.findings.outside.append(label)
    finish(scenario, bin_dir, server, client, log, outcome, start, mark)
    return outcome


def stage(scenario, bin_dir, server, work, last=LATEST - 1):
    """Start states 1..last: a fresh client, then LauncherCli's own result
    against a version list that stops at each patch."""
    states = {1: os.path.join(work, "start", "1")}
    os.makedirs(states[1])
    previous = states[1]
    for latest in range(2, last + 1):
        scenario.set_latest(latest)
        client = os.path.join(work, "start", str(latest))
        shutil.copytree(previous, client, symlinks=True)
        code = run_launcher(bin_dir, server, client, os.path.join(work, "stage.log"))
        files = walk(client)
        expected = dict(scenario.versions[latest])
        expected[VERSION_FILE] = b"%05d" % latest
        if code != 0 or files != expected:
            raise RuntimeError("staging the client at patch %d failed (exit %s)" %
                               (latest, code))
        states[latest] = previous = client
    scenario.set_latest(LATEST)
    return states


def reference(scenario, bin_dir, server, work, start, start_dir):
    """A fault-free traced run from `start`; its kill points and problems."""
    job = os.path.join(work, "reference", str(start))
    client = os.path.realpath(shutil.copytree(start_dir, os.path.join(job, "client")))
    trace = os.path.join(job, "strace.log")
    mark = server.mark()
    began = time.monotonic()
    code = run_launcher(bin_dir, server, client, os.path.join(job, "launcher.log"),
                        ["-o", trace, "-e", "trace=" + ",".join(TRACED)])
    seconds = time.monotonic() - began
    scenario.reference_bytes[start] = server.served_since(mark)
    problems = []
    ok, temps = converged(scenario, client)
    if code != 0 or not ok or temps:
        problems.append("reference run from patch %d: exit %s, target reached %s, "
                        "temporaries %s" % (start, code, ok, temps))
    events = parse_trace(trace)
    problems += ["reference run from patch %d: %s" % (start, p)
                 for p in durability_problems(events, client, (start == 1) + (
                     1 if scenario.index else LATEST - start))]
    points, unreachable = points_of(events, client, start, start_dir, scenario.names)
    if scenario.index:
        # The index path is short enough for strace to slow it several times:
        # random kills are timed from a run without it.
        client = shutil.copytree(start_dir, os.path.join(job, "untraced"), symlinks=True)
        began = time.monotonic()
        run_launcher(bin_dir, server, client, os.path.join(job, "launcher.log"))
        seconds = time.monotonic() - began
    return points, unreachable, problems, seconds


def choose_points(points, count, rng):
    """Every point, or a sample holding each call on each kind of file (the
    version file, an entry, a package, the directory) at least once."""
    if count is None or count >= len(points):
        return points
    strata = collections.defaultdict(list)
    for p in points:
        strata[(p.call, p.target_kind())].append(p)
    chosen = [rng.choice(strata[key]) for key in sorted(strata)]
    if count and count < len(chosen):
        chosen = rng.sample(chosen, count)
    rest = [p for p in points if p not in chosen]
    chosen += rng.sample(rest, max(0, count - len(chosen)))
    return sorted(chosen, key=points.index)


def summarize(outcomes, unreachable, problems, elapsed, args):
    crashed = [o for o in outcomes if o.crashes]
    missed = [o for o in outcomes if o.missed]
    crashes = sum(o.crashes for o in outcomes)
    conv = sum(1 for o in crashed if o.converged)
    half = [h for o in outcomes for h in o.findings.half_written]
    lost = [h for o in outcomes for h in o.findings.lost]
    back = [h for o in outcomes for h in o.findings.went_back]
    bad = [h for o in outcomes for h in o.findings.bad_packages]
    temps = [h for o in outcomes for h in o.findings.temps]
    stray = [h for o in outcomes for h in o.findings.stray]
    early = [h for o in outcomes for h in o.findings.early]
    outside = [h for o in outcomes for h in o.findings.outside]
    left = [t for o in crashed for t in o.leftover_temps]
    extra = [o.extra_bytes for o in crashed]
    per_crash = sum(extra) / crashes if crashes else 0.0
    second_starts = sum(1 for o in crashed if o.recovery_runs > 1)
    kinds = collections.Counter(o.kind for o in crashed)
    calls = collections.Counter(o.label.split()[1].split("(")[0]
                                for o in crashed if o.kind == "syscall")

    def show(title, items, limit=8):
        print("  %-52s %d" % (title, len(items)))
        for item in items[:limit]:
            print("      " + item)

    print()
    print("Crash consistency (%s%s, seed %d, %.0f s)" % ("long" if args.long else "short",
                                                         ", file index" if args.index else "",
                                                         args.seed, elapsed))
    print("  %-52s %d (%s)" % ("runs killed", len(crashed),
                               ", ".join("%d %s" % (n, k) for k, n in sorted(kinds.items()))))
    print("  %-52s %s" % ("  syscall points by call",
                          ", ".join("%s %d" % kv for kv in sorted(calls.items()))))
    print("  %-52s %d" % ("kills in all (random runs may be killed twice)", crashes))
    print("  %-52s %d/%d (%.1f %%)" % ("converged to the byte-identical target tree", conv,
                                        len(crashed), 100.0 * conv / max(1, len(crashed))))
    show("half-written files found between the runs", half)
    show("files of the recorded version missing", lost)
    show("version file went back or unreadable (patch 1)", back)
    show("partial packages that are not a prefix of the server's", bad)
    show("leftover temporary files seen between the runs", temps, 4)
    show("stray packages between the runs", stray, 4)
    show("latest patch recorded before the tree was complete", early)
    show("changes beside the client directory", outside)
    show("leftover temporary files after convergence", left, 4)
    print("  %-52s %d" % ("runs that needed a second recovery start", second_starts))
    print("  %-52s %.0f (max %d, total %d)" % ("bytes served again per crash (mean)", per_crash,
                                               max(extra, default=0), sum(extra)))
    by_where = collections.defaultdict(list)
    for o in crashed:
        by_where[o.where].append(o)
    for where, group in sorted(by_where.items()):
        bytes_ = sum(o.extra_bytes for o in group)
        kills = sum(o.crashes for o in group)
        refetched = sum(1 for o in group if o.extra_bytes > 1000)
        print("      killed at %-28s %4d kills, %8.0f B per kill, %d with more than 1 kB" %
              (where, kills, bytes_ / kills, refetched))
    show("points strace's per-thread counting cannot reach", unreachable)
    show("points whose kill missed the intended call",
         ["%s: %s" % (o.label, o.missed) for o in missed])
    show("problems of the reference runs", problems)
    failed = (conv != len(crashed) or half or lost or back or bad or missed or problems
              or early or outside or not crashed)
    print("RESULT: %s" % ("FAIL" if failed else "PASS"))
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True, help="directory of LauncherCli, "
                        "patch-server, mkpatch and the decompressor")
    parser.add_argument("--long", action="store_true", help="every point, more random kills")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--points", type=int, help="sampled syscall points (default: short one "
                        "per call and kind of file, long all)")
    parser.add_argument("--random", type=int, help="random-time kills (short 4, long 60)")
    parser.add_argument("--jobs", type=int, help="runs at once (short 2, long 4)")
    parser.add_argument("--index", action="store_true", help="publish a file index and update "
                        "through it from patches %s" % " and ".join(map(str, INDEX_STARTS)))
    parser.add_argument("--work", help="keep everything in this directory")
    args = parser.parse_args()
    if shutil.which("strace") is None:
        print("crash_suite: strace is not installed; skipped")
        return 77
    points_wanted = args.points if args.points is not None else (None if args.long else 0)
    randoms = args.random if args.random is not None else (60 if args.long else 4)
    jobs = args.jobs or (4 if args.long else 2)
    bin_dir = os.path.realpath(args.bin)
    work = os.path.realpath(args.work or tempfile.mkdtemp(prefix="crash-suite-"))
    os.makedirs(work, exist_ok=True)
    began = time.monotonic()
    rng = random.Random(args.seed)
    scenario = Scenario(bin_dir, work, args.index)
    slots = Slots(bin_dir, scenario, work, jobs)
    failed = True
    try:
        if args.index:
            # Published after staging: the staged clients come from the patch loop.
            states = stage(scenario, bin_dir, slots.servers[0], work, max(INDEX_STARTS))
            scenario.publish_index()
            states = {s: states[s] for s in INDEX_STARTS}
        else:
            states = stage(scenario, bin_dir, slots.servers[0], work)
        print("crash_suite: start states ready (%.0f s)" % (time.monotonic() - began), flush=True)

        def with_slot(fn, *a):
            server = slots.free.get()
            try:
                return fn(scenario, bin_dir, server, *a)
            finally:
                slots.free.put(server)

        with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
            refs = {s: pool.submit(with_slot, reference, work, s, states[s])
                    for s in sorted(states)}
            all_points, unreachable, problems, seconds = [], [], [], {}
            for s in sorted(refs):
                p, u, pr, seconds[s] = refs[s].result()
                all_points += p
                unreachable += u
                problems += pr
        print("crash_suite: %d kill points in the reference runs, a fresh run takes %.1f s" %
              (len(all_points), seconds[1]), flush=True)

        chosen = choose_points(all_points, points_wanted, rng)
        plans = [("point", p) for p in chosen]
        random_starts = INDEX_STARTS if args.index else (1,)
        for i in range(randoms):
            # A third of the random runs are killed again while recovering.
            kills = 1 if rng.random() < 2 / 3 else 2
            start = random_starts[i % len(random_starts)]
            plans.append(("random", (start, [round(rng.uniform(0.02, seconds[start]), 3)
                                             for _ in range(kills)])))

        def execute(index, plan):
            kind, what = plan
            job_dir = os.path.join(work, "jobs", "%03d" % index)
            os.makedirs(job_dir)
            if kind == "point":
                outcome = with_slot(run_point, job_dir, states[what.start], what)
            else:
                outcome = with_slot(run_random, job_dir, what[0], states[what[0]], what[1])
            state = "missed" if outcome.missed else ("ok" if outcome.converged and
                                                     not outcome.findings.half_written
                                                     else "FAIL")
            if not outcome.missed and not outcome.crashes:
                state = "not killed"
            print("  [%3d/%d] %-6s %-58s %s" % (index + 1, len(plans), state, outcome.label,
                                               "+%d B" % outcome.extra_bytes
                                               if outcome.crashes else ""), flush=True)
            return outcome

        with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
            outcomes = list(pool.map(lambda ip: execute(*ip), enumerate(plans)))
        failed = summarize(outcomes, unreachable, problems, time.monotonic() - began, args)
    finally:
        slots.stop()
        if args.work is None:
            if failed:
                print("crash_suite: work directory kept: " + work)
            else:
                shutil.rmtree(work, ignore_errors=True)
    return failed


if __name__ == "__main__":
    sys.exit(main())
