#!/usr/bin/env python3
"""Bytes and time of updates with and without the file index, and the speed
of a repair that finds nothing damaged, against sha256sum.

    index_bench.py --bin BUILD/bin [--packages 50] [--files 500] [--file-kib 100]
                   [--from 45] [--no-loop] [--repair-only] [--work DIR]

A history of --packages packages over a tree of --files files, each package
changing a tenth of the files (random bytes, so compressed about as large).
patch-server serves it; every byte it sends is counted from its log.
  fresh      LauncherCli from patch 1, without FILES.IDX (the patch loop, its
             pauses included) and with it
  update     from patch --from, both ways
  repair     LauncherCli --repair over the fresh install (nothing damaged,
             warm cache) against `sha256sum` run on every core over the same
             files, in the same run
FILES.IDX comes from `mkpatch index` when the build has it, otherwise from
the small generator below (the same format).
"""
import argparse
import hashlib
import os
import random
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import zlib

LIST_DIR = "corvatheon_version/corvatheon2_online"
PACK_DIR = "corvatheon2_online"


def write_tree(root, files):
    for rel, data in files.items():
        path = os.path.join(root, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def entries(package):
    with open(package, "rb") as f:
        data = f.read()
    (count,) = struct.unpack_from("<i", data, 0)
    at = 4
    for _ in range(count):
        (name_length,) = struct.unpack_from("<I", data, at)
        name = data[at + 4:at + 4 + name_length].split(b"\0")[0]
        usize, csize = struct.unpack_from("<II", data, at + 4 + name_length)
        payload = data[at + 12 + name_length:at + 12 + name_length + csize]
        yield at, 12 + name_length + csize, name, payload
        at += 12 + name_length + csize


def make_index(packages, latest, tree_names, out):
    last = {}
    earlier = set()
    for n, path in enumerate(packages, 1):
        for at, length, name, payload in entries(path):
            earlier.add(name)
            last[name] = (n, at, length, payload)
    lines = [b"CORVATHEON2-FILES 1", b"latest %05d" % latest]
    rows = []
    for name, (n, at, length, payload) in last.items():
        if name.decode().replace("\\", "/") not in tree_names:
            continue
        content = zlib.decompress(payload)
        rows.append((n, at, b"F %05d %d %d %d %s %s" % (
            n, at, length, len(content), hashlib.sha256(content).hexdigest().encode(), name)))
    lines += [row for _, _, row in sorted(rows)]
    lines += [b"R " + name for name in sorted(earlier)
              if name.decode().replace("\\", "/") not in tree_names]
    with open(out, "wb") as f:
        f.write(b"\n".join(lines) + b"\n")


class Server:
    LINE = re.compile(r"^GET (\S+)(?: bytes=\S*)? -> (\d+) \((\d+) bytes\)$")

    def __init__(self, bin_dir, root, log):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            self.port = probe.getsockname()[1]
        self.log = log
        self.out = open(log, "wb")
        self.process = subprocess.Popen([os.path.join(bin_dir, "patch-server"), "--port",
                                         str(self.port), root], stdout=self.out,
                                        stderr=subprocess.STDOUT)
        for _ in range(50):
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=0.2):
                    return
            except OSError:
                time.sleep(0.1)
        raise RuntimeError("patch-server did not start")

    def mark(self):
        self.out.flush()
        return os.path.getsize(self.log)

    def served(self, mark, prefix="/" + PACK_DIR):
        time.sleep(0.3)
        with open(self.log) as f:
            f.seek(mark)
            total = 0
            for line in f:
                m = self.LINE.match(line.strip())
                if m and m.group(1).startswith(prefix) and m.group(2) in ("200", "206"):
                    total += int(m.group(3))
        return total

    def stop(self):
        self.process.terminate()
        self.process.wait()


def launcher(bin_dir, server, client, *extra):
    command = [os.path.join(bin_dir, "LauncherCli"), "--version-host",
               "127.0.0.1:%d" % server.port, "--download-host", "127.0.0.1:%d" % server.port,
               "--no-log", *extra]
    started = time.monotonic()
    result = subprocess.run(command, cwd=client, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=3600)
    elapsed = time.monotonic() - started
    if result.returncode != 0:
        sys.exit("LauncherCli failed:\n" + result.stdout.decode(errors="replace"))
    return elapsed, result.stdout.decode(errors="replace")


def mib(n):
    return "%.1f MiB" % (n / 1048576)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--packages", type=int, default=50)
    parser.add_argument("--files", type=int, default=500)
    parser.add_argument("--file-kib", type=int, default=100)
    parser.add_argument("--from", dest="start", type=int, default=45)
    parser.add_argument("--work")
    parser.add_argument("--repair-only", action="store_true",
                        help="install the latest tree as it is and measure the repair alone")
    parser.add_argument("--no-loop", action="store_true",
                        help="skip the patch loop's runs (large trees: repair and files per second only)")
    args = parser.parse_args()
    bin_dir = os.path.abspath(args.bin)
    work = args.work or tempfile.mkdtemp(prefix="index-bench-")
    latest = args.packages + 1
    rng = random.Random(18)

    # v1 is the fresh install; package n turns v(n) into v(n+1).
    tree = {}
    versions = os.path.join(work, "versions")
    server_root = os.path.join(work, "server")
    os.makedirs(os.path.join(server_root, LIST_DIR))
    os.makedirs(os.path.join(server_root, PACK_DIR))
    names = ["data/d%02d/f%04d.bin" % (i % 20, i) for i in range(args.files)]
    packages = []
    previous = os.path.join(versions, "v1")
    os.makedirs(previous)
    for n in range(1, latest):
        changed = names if n == 1 else rng.sample(names, max(1, len(names) // 10))
        if n > 1 and n % 10 == 0:  # now and then a file retires and a new one comes
            gone = rng.choice(sorted(tree))
            del tree[gone]
            names.remove(gone)
            names.append("data/new/f%04d.bin" % n)
            changed = changed + [names[-1]]
        for name in changed:
            tree[name] = rng.randbytes(args.file_kib * 1024)
        current = os.path.join(versions, "v%d" % (n + 1))
        write_tree(current, tree)
        package = os.path.join(server_root, PACK_DIR, "%05d.DAT" % n)
        subprocess.run([os.path.join(bin_dir, "mkpatch"), "diff", package, previous, current],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        packages.append(package)
        previous = current
    list_path = os.path.join(server_root, LIST_DIR, "SERVERVER.INI")
    subprocess.run([os.path.join(bin_dir, "mkpatch"), "serverlist", "--launcher", "1.1.6.0",
                    "--latest", str(latest), "-o", list_path], check=True,
                   stdout=subprocess.DEVNULL)
    index = os.path.join(server_root, LIST_DIR, "FILES.IDX")
    made = subprocess.run([os.path.join(bin_dir, "mkpatch"), "index", "--tree", previous,
                           "--packages", os.path.join(server_root, PACK_DIR), list_path],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
    if not made:
        make_index(packages, latest, set(tree), index)
    held = index + ".off"
    latest_entries = 0
    with open(index) as f:
        for line in f:
            if line.startswith("F "):
                latest_entries += int(line.split()[3])

    server = Server(bin_dir, server_root, os.path.join(work, "server.log"))
    try:
        def run(label, start, with_index):
            client = os.path.join(work, "client-" + label)
            shutil.rmtree(client, ignore_errors=True)
            shutil.copytree(os.path.join(versions, "v%d" % start), client)
            with open(os.path.join(client, "PRESENTVERSION.DAT"), "w") as f:
                f.write("%05d" % start)
            if with_index:
                if os.path.exists(held):
                    os.rename(held, index)
            elif os.path.exists(index):
                os.rename(index, held)
            mark = server.mark()
            elapsed, _ = launcher(bin_dir, server, client)
            return client, server.served(mark), elapsed

        print("history: %d packages, %d files of %d KiB, a tenth changed per package" %
              (args.packages, args.files, args.file_kib))
        if args.repair_only:
            # The latest tree as an installed client: only the repair is measured.
            client = os.path.join(work, "client-installed")
            shutil.rmtree(client, ignore_errors=True)
            shutil.copytree(previous, client)
            with open(os.path.join(client, "PRESENTVERSION.DAT"), "w") as f:
                f.write("%05d" % latest)
            if os.path.exists(held):
                os.rename(held, index)
            fresh_index_time = float("nan")
        else:
            loop_bytes, loop_time = 0, 0.0
            if not args.no_loop:
                _, loop_bytes, loop_time = run("fresh-loop", 1, False)
            client, index_bytes, index_time = run("fresh-index", 1, True)
            fresh_index_time = index_time
            print("fresh install   loop %s in %.1f s | index %s in %.1f s | index / latest entries %.4f"
                  % (mib(loop_bytes), loop_time, mib(index_bytes), index_time,
                     index_bytes / latest_entries))
            changed = sum(os.path.getsize(p) - 4 for p in packages[args.start - 1:])
            if not args.no_loop:
                _, loop_bytes, loop_time = run("update-loop", args.start, False)
            _, index_bytes, index_time = run("update-index", args.start, True)
            print("update from %d  loop %s in %.1f s | index %s in %.1f s | packages %d.. hold %s"
                  % (args.start, mib(loop_bytes), loop_time, mib(index_bytes), index_time,
                     args.start, mib(changed)))

        files = [os.path.join(dp, f) for dp, _, fs in os.walk(os.path.join(client, "data"))
                 for f in fs]
        cores = os.cpu_count() or 1
        subprocess.run(["cat"] + files, stdout=subprocess.DEVNULL)  # warm cache
        best_sum = best_repair = float("inf")
        for _ in range(3):
            started = time.monotonic()
            subprocess.run("xargs -0 -P %d -n %d sha256sum >/dev/null" %
                           (cores, max(1, len(files) // cores // 4)), shell=True, check=True,
                           input="\0".join(files).encode())
            best_sum = min(best_sum, time.monotonic() - started)
            elapsed, output = launcher(bin_dir, server, client, "--repair")
            best_repair = min(best_repair, elapsed)
        total = sum(os.path.getsize(f) for f in files)
        print("repair          %s in %.2f s (%.0f MiB/s) | sha256sum on %d cores %.2f s "
              "(%.0f MiB/s) | ratio %.2f | %s" %
              (mib(total), best_repair, total / 1048576 / best_repair, cores, best_sum,
               total / 1048576 / best_sum, best_sum / best_repair,
               output.strip().splitlines()[-2] if output.strip() else ""))
        # Files per second against tar xf of the same latest tree, warm.
        archive = os.path.join(work, "latest.tar")
        subprocess.run(["tar", "cf", archive, "-C", previous, "."], check=True)
        best_tar = float("inf")
        for i in range(3):
            target = os.path.join(work, "untar-%d" % i)
            os.makedirs(target)
            started = time.monotonic()
            subprocess.run(["tar", "xf", archive, "-C", target], check=True)
            best_tar = min(best_tar, time.monotonic() - started)
            shutil.rmtree(target)
        count = len(files)
        print("files per second: fresh install through the index %.0f (whole run) | repair %.0f | "
              "tar xf %.0f (%d files)" % (count / fresh_index_time, count / best_repair,
                                          count / best_tar, count))
    finally:
        server.stop()
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
