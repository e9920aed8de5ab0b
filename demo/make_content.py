#!/usr/bin/env python3
"""Generates the demo's client versions and web pages.

Writes OUT/versions/v1 .. v6 (v1 is the empty fresh install; every later one
changes, adds and removes files of the one before) and OUT/site/ with the news
page and simple pages for the window's link buttons. The content is the same on
every run, so packages built from it are reproducible.
"""
import os
import random
import shutil
import sys

WORDS = ("frost ember valley tower crystal archer rune harbor lantern citadel "
         "meadow storm quest relic guild banner dragon forge shadow river").split()


def text(rng, lines):
    return "".join(" ".join(rng.choice(WORDS) for _ in range(rng.randint(6, 14))) + "\n"
                   for _ in range(lines))


def data(rng, size):
    # Half-compressible bytes, like game assets: runs and noise.
    out = bytearray()
    while len(out) < size:
        if rng.random() < 0.5:
            out += bytes([rng.randrange(256)]) * rng.randint(8, 64)
        else:
            out += rng.randbytes(rng.randint(8, 64))
    return bytes(out[:size])


def write(root, rel, content):
    path = os.path.join(root, *rel.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(content.encode() if isinstance(content, str) else content)


def base_tree(rng):
    files = {}
    files["readme.txt"] = "Corvatheon2 demo client\n" + text(rng, 20)
    for region in ("north", "south", "east"):
        for i in range(6):
            files[f"data/maps/{region}/zone{i}.map"] = data(rng, rng.randint(4000, 20000))
    for i in range(12):
        files[f"data/text/quests/quest{i:02d}.txt"] = text(rng, rng.randint(20, 80))
    for i in range(8):
        files[f"data/ui/skin{i}.bin"] = data(rng, rng.randint(2000, 9000))
    files["config/default.ini"] = "[display]\nwidth=1024\nheight=768\n"
    files["config/empty.cfg"] = ""
    # One large archive so that progress is visible.
    files["data/packs/world.pak"] = data(rng, 24 * 1024 * 1024)
    return files


def evolve(rng, files, version):
    files = dict(files)
    files["readme.txt"] = f"Corvatheon2 demo client, version {version}\n" + text(rng, 20)
    for key in rng.sample(sorted(k for k in files if k.endswith(".txt")), 3):
        files[key] = text(rng, rng.randint(20, 80))
    for key in rng.sample(sorted(k for k in files if k.endswith(".map")), 2):
        files[key] = data(rng, rng.randint(4000, 20000))
    files[f"data/events/event{version}/notes.txt"] = text(rng, 30)
    files[f"data/events/event{version}/banner.bin"] = data(rng, 30000)
    if version == 4:
        # A patch that rewrites part of the large archive.
        big = bytearray(files["data/packs/world.pak"])
        big[1_000_000:1_400_000] = data(rng, 400_000)
        files["data/packs/world.pak"] = bytes(big)
    if version == 5:
        # Packages cannot delete files: a retired one is emptied instead.
        files["data/ui/skin7.bin"] = b""
    return files


def site(root):
    news = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><meta http-equiv="X-UA-Compatible" content="IE=edge">
<title>Corvatheon2</title>
<style>
body { margin: 0; font-family: "Noto Sans CJK SC", sans-serif; color: #e8eef7;
       background: linear-gradient(160deg, #1d2b44, #0f3a4a); }
h1 { font-size: 18px; margin: 10px 14px 4px; color: #ffd36b; }
ul { margin: 0 14px; padding-left: 16px; font-size: 13px; line-height: 1.7; }
.date { color: #8fb3d9; margin-right: 8px; }
</style></head>
<body>
<h1>Corvatheon2 新闻</h1>
<ul>
<li><span class="date">12-09</span>The frost valley event begins: new quests in the north.</li>
<li><span class="date">12-02</span>Patch 6: balance changes for archers and the citadel siege.</li>
<li><span class="date">11-25</span>Server maintenance on Tuesday 06:00-08:00.</li>
<li><span class="date">11-18</span>Guild banners can now be customised.</li>
</ul>
</body></html>
"""
    write(root, "mod/lunchercorvatheon2.html", news)
    simple = ('<!DOCTYPE html><html><head><meta charset="utf-8"><title>{0}</title></head>'
              '<body style="font-family:sans-serif"><h1>{0}</h1><p>Demo page.</p></body></html>\n')
    write(root, "login", simple.format("Login"))
    write(root, "index.html", simple.format("Corvatheon2"))
    write(root, "forum-367-1.html", simple.format("Forum"))
    write(root, "index.php", simple.format("Service"))


def main():
    if len(sys.argv) != 2:
        print("usage: make_content.py OUT", file=sys.stderr)
        return 2
    out = sys.argv[1]
    rng = random.Random(20261209)
    versions = os.path.join(out, "versions")
    shutil.rmtree(versions, ignore_errors=True)
    os.makedirs(os.path.join(versions, "v1"))
    files = base_tree(rng)
    for version in range(2, 7):
        if version > 2:
            files = evolve(rng, files, version)
        for rel, content in files.items():
            write(os.path.join(versions, f"v{version}"), rel, content)
    site(os.path.join(out, "site"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
