#!/usr/bin/env python3
"""Makes a game client's tree for the apply benchmark: mixed binaries and text.

    make_tree.py DIRECTORY [--size-mib N] [--seed N] [--kind mixed|small|large]

--kind small makes 20,000 files of 1-4 KiB of text and binaries in 100
directories instead (--size-mib is ignored); --kind large one file of
--size-mib MiB mixing every kind below in 1 MiB runs, as the asset packs do.
The default, mixed:

The shares of the size, and what stands for each:
  the game program        6 %  system programs and libraries, joined
  bin/*.dll              20 %  system shared libraries (real machine code)
  data/packNN.dat        20 %  two asset packs mixing every kind below
  sound/*.ogg            15 %  already compressed audio: random bytes
  textures/*.dds         15 %  block-compressed textures: palette + noise
  models/*.msh            9 %  vertex tables: float32 of smooth shapes
  scripts/**             15 %  real text: C headers, Python sources, docs
  config/*.ini           a few small generated files, and three empty ones
Binaries and text come from this machine's /usr, picked in sorted order with
the seed, so the tree is the same on every run here; whatever /usr lacks is
generated. DIRECTORY must not exist yet.
"""

import argparse
import array
import math
import os
import random
import re
import sys

MIB = 1 << 20
SAFE_NAME = re.compile(r"^[A-Za-z0-9._+-]+$")


def system_files(roots, suffixes=None, executable=False, limit_bytes=8 * MIB):
    """Regular files below `roots`, sorted, with names packages can hold."""
    found = []
    for root in roots:
        for directory, subdirectories, names in os.walk(root):
            subdirectories.sort()
            parts = os.path.relpath(directory, root).split(os.sep)
            if not all(p == "." or SAFE_NAME.match(p) for p in parts):
                subdirectories[:] = []
                continue
            for name in sorted(names):
                path = os.path.join(directory, name)
                if not SAFE_NAME.match(name) or os.path.islink(path) or not os.path.isfile(path):
                    continue
                if suffixes and not name.endswith(suffixes) and ".so." not in name:
                    continue
                try:
                    size = os.path.getsize(path)
                    if size == 0 or size > limit_bytes:
                        continue
                    if executable:
                        with open(path, "rb") as f:
                            if f.read(4) != b"\x7fELF":
                                continue
                except OSError:
                    continue
                found.append((root, path, size))
    return found


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def media(rng, size):
    return rng.randbytes(size)


def texture(rng, size):
    # 8-byte blocks: two colours from a small palette, then random indices,
    # roughly as compressible as real block-compressed textures.
    palette = [rng.randbytes(4) for _ in range(64)]
    blocks = size // 8 + 1
    choice = rng.randbytes(blocks)  # a palette entry per block, byte % 64
    out = bytearray(blocks * 8)
    for k in range(4):
        out[k::8] = choice.translate(bytes(palette[i % 64][k] for i in range(256)))
        out[4 + k::8] = rng.randbytes(blocks)
    return bytes(out[:size])


def mesh(rng, size):
    count = size // 4 + 1
    a, b = rng.uniform(0.5, 3.0), rng.uniform(0.5, 3.0)
    values = array.array(
        "f", (math.sin(i * 0.001 * a) * 100.0 + math.cos(i * 0.0007 * b) * 37.5 + (i % 3) * 0.25
              for i in range(count)))
    return values.tobytes()[:size]


def sizes_for(rng, total, low, high):
    """File sizes between low and high (log-uniform) adding up to `total`."""
    sizes = []
    left = total
    while left > 0:
        size = min(left, int(math.exp(rng.uniform(math.log(low), math.log(high)))))
        sizes.append(size)
        left -= size
    return sizes


def fill_from(rng, candidates, total):
    """Picks candidate files at random (without repeats) until `total` bytes."""
    order = list(range(len(candidates)))
    rng.shuffle(order)
    picked, size = [], 0
    for index in order:
        if size >= total:
            break
        picked.append(candidates[index])
        size += candidates[index][2]
    return sorted(picked, key=lambda c: c[1]), size


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("directory")
    parser.add_argument("--size-mib", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--kind", choices=["mixed", "small", "large"], default="mixed")
    args = parser.parse_args()
    if os.path.exists(args.directory):
        sys.exit(f"make_tree: {args.directory} exists")
    rng = random.Random(args.seed)
    total = args.size_mib * MIB
    out = args.directory
    written = 0

    libraries = system_files(["/usr/lib/x86_64-linux-gnu", "/usr/lib"], (".so",), True)
    if args.kind == "small":
        written = small_files(rng, out, libraries)
    elif args.kind == "large":
        written = large_file(rng, out, total, libraries)
    if args.kind != "mixed":
        print(f"{out}: {count_files(out)} files, {written / MIB:.1f} MiB")
        return
    programs = system_files(["/usr/bin", "/usr/sbin", "/usr/libexec"], None, True)
    texts = system_files(["/usr/include", "/usr/lib/python3", "/usr/share/doc"],
                         (".h", ".hpp", ".py", ".txt", ".html", ".md", ".xml", ".rst"),
                         limit_bytes=512 * 1024)

    # The game program: system programs joined, the way a big static binary looks.
    share = int(total * 0.06)
    picked, _ = fill_from(rng, programs, share)
    blob = b"".join(read(p) for _, p, _ in picked)
    blob = (blob + media(rng, max(0, share - len(blob))))[:share]
    write(os.path.join(out, "Corvatheon2.exe"), blob)
    written += len(blob)

    # Shared libraries under game-like names.
    share = int(total * 0.20)
    picked, size = fill_from(rng, libraries, share)
    for number, (_, path, _) in enumerate(picked):
        stem = os.path.basename(path).split(".so")[0]
        write(os.path.join(out, "bin", f"{stem}-{number:03d}.dll"), read(path))
    written += size

    # Two asset packs, the largest entries: every kind of content in 1 MiB runs.
    share = int(total * 0.20)
    for number, pack in enumerate([share * 3 // 5, share - share * 3 // 5]):
        write(os.path.join(out, "data", f"pack{number:02d}.dat"), asset_pack(rng, pack, picked))
        written += pack

    for folder, suffix, kind, share, low, high in [
        ("sound", "ogg", media, 0.15, 40 * 1024, 2 * MIB),
        ("textures", "dds", texture, 0.15, 16 * 1024, 2 * MIB),
        ("models", "msh", mesh, 0.09, 8 * 1024, MIB),
    ]:
        for number, size in enumerate(sizes_for(rng, int(total * share), low, high)):
            region = f"{folder}/set{number % 7}"
            write(os.path.join(out, region, f"{folder[:-1]}{number:04d}.{suffix}"), kind(rng, size))
            written += size

    # Text: sources and documents, in their own nested directories.
    share = int(total * 0.15)
    picked, size = fill_from(rng, texts, share)
    for root, path, _ in picked:
        relative = os.path.relpath(path, root)
        write(os.path.join(out, "scripts", os.path.basename(root), relative), read(path))
    written += size

    for number in range(40):
        lines = [f"[section{s}]\nkey{s}={rng.randint(0, 1 << 30)}\nname{s}=value {s}\n"
                 for s in range(rng.randint(5, 200))]
        data = "".join(lines).encode()
        write(os.path.join(out, "config", f"settings{number:02d}.ini"), data)
        written += len(data)
    for name in ["config/empty.ini", "logs/.keep", "data/cache/index.tmp"]:
        write(os.path.join(out, name), b"")

    print(f"{out}: {count_files(out)} files, {written / MIB:.1f} MiB")


def count_files(out):
    return sum(len(names) for _, _, names in os.walk(out))


def asset_pack(rng, size, libraries):
    """Every kind of content in 1 MiB runs, a third of them machine code."""
    kinds = [media, texture, mesh]
    runs = []
    left = size
    while left > 0:
        run = min(left, MIB)
        if rng.random() < 0.3 and libraries:
            _, path, _ = rng.choice(libraries)
            runs.append(read(path)[:run])
        else:
            runs.append(rng.choice(kinds)(rng, run))
        left -= len(runs[-1])
    return b"".join(runs)


def large_file(rng, out, total, libraries):
    """One asset pack of `total` bytes, written run by run."""
    os.makedirs(os.path.join(out, "data"))
    with open(os.path.join(out, "data", "world.pak"), "wb") as f:
        left = total
        while left > 0:
            chunk = asset_pack(rng, min(left, 64 * MIB), libraries)
            f.write(chunk)
            left -= len(chunk)
    return total


def small_files(rng, out, libraries):
    """20,000 files of 1-4 KiB: pieces of text and of machine code."""
    texts = system_files(["/usr/include"], (".h",), limit_bytes=512 * 1024)
    sources = [read(p) for _, p, _ in rng.sample(texts, min(200, len(texts)))]
    sources += [read(p)[:65536] for _, p, _ in rng.sample(libraries, min(20, len(libraries)))]
    written = 0
    for number in range(20000):
        size = rng.randint(1024, 4096)
        source = rng.choice(sources)
        start = rng.randrange(max(1, len(source) - size))
        data = (source[start:start + size] + media(rng, size))[:size]
        write(os.path.join(out, f"d{number % 100:02d}", f"f{number:05d}.dat"), data)
        written += size
    return written


if __name__ == "__main__":
    main()
