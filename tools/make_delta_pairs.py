#!/usr/bin/env python3
"""Old/new package pairs for the block-delta benchmark, the same bytes on
every run on the same machine (fixed seeds, UUIDs and timestamps):

  rebuild    an ext4 image of binaries copied from /usr/bin and /usr/lib
             (about 80% full), and the same tree with 1% of its file bytes
             changed (some files replaced by other binaries, some patched
             in every 4 KiB page) built into a fresh image
  scattered  the first image, and a copy with 1% of its 4 KiB blocks
             overwritten with random bytes at random data blocks of its
             files (so that it still mounts and installs)
  zip        a zip of stored members of such a tree, and one where 1% of
             the files changed and one file was added

Each package holds at its top an "install" script (install -d DEST -s DIR
copies VERSION to DEST) and VERSION ("rebuild v1" and so on).

Usage: make_delta_pairs.py OUTDIR [--size-mib 64]
Writes OUTDIR/{rebuild,scattered}-v{1,2}.img and OUTDIR/zip-v{1,2}.zip and
prints each pair's sizes and SHA-256. Needs mkfs.ext4 and debugfs
(e2fsprogs), but no root.
"""

import argparse
import hashlib
import os
import random
import shutil
import subprocess
import sys
import zipfile

BLOCK = 4096
MIB = 1024 * 1024
STAMP = 1700000000  # every timestamp in the packages
UUID = "6c6d7570-6461-7465-2d64-656c74612d31"
SOURCES = ("/usr/bin", "/usr/lib")

INSTALL = """#!/bin/sh
# install -d DEST -s DIR: records which package was installed.
while [ $# -gt 0 ]; do
    case $1 in
        -d) dest=$2; shift 2 ;;
        -s) from=$2; shift 2 ;;
        *) shift ;;
    esac
done
[ -n "${dest:-}" ] && mkdir -p "$dest" && cp "$from/VERSION" "$dest/VERSION"
"""


def candidates():
    """Regular files below SOURCES in sorted order: (path, size)."""
    for top in SOURCES:
        for base, dirs, files in os.walk(top):
            dirs.sort()
            for name in sorted(files):
                path = os.path.join(base, name)
                if os.path.isfile(path) and not os.path.islink(path) and \
                        os.access(path, os.R_OK) and os.path.getsize(path) > 0:
                    yield path, os.path.getsize(path)


def select(target, largest):
    """Files whose block-rounded sizes add up to target, none over
    largest; and the rest, as spares for replacements."""
    chosen, spare, total = [], [], 0
    for path, size in candidates():
        if size > largest:
            continue
        if total < target:
            chosen.append(path)
            total += -(-size // BLOCK) * BLOCK
        else:
            spare.append(path)
    if total < target:
        sys.exit("make_delta_pairs: not enough files in %s for %d bytes" % (SOURCES, target))
    return chosen, spare


def stage(tree, files, version):
    """Copies files (source paths) into tree under their own paths, with
    the install script and VERSION."""
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(tree)
    for path in files:
        copy = os.path.join(tree, path.lstrip("/"))
        os.makedirs(os.path.dirname(copy), exist_ok=True)
        shutil.copyfile(path, copy)
        os.chmod(copy, 0o755 if os.access(path, os.X_OK) else 0o644)
    with open(os.path.join(tree, "install"), "w", encoding="ascii") as f:
        f.write(INSTALL)
    os.chmod(os.path.join(tree, "install"), 0o755)
    with open(os.path.join(tree, "VERSION"), "w", encoding="ascii") as f:
        f.write(version + "\n")


def by_bytes(files, rng, budget):
    """Files in random order, as many as hold about budget bytes."""
    picked, total = [], 0
    for path in rng.sample(files, len(files)):
        if total >= budget:
            break
        picked.append(path)
        total += os.path.getsize(path)
    return picked


def change(tree, picked, spare, rng):
    """Changes the picked files in tree: every other one is replaced by a
    spare binary, the others get 16 bytes flipped in each 4 KiB page (as a
    rebuild with shifted addresses would)."""
    for n, path in enumerate(picked):
        copy = os.path.join(tree, path.lstrip("/"))
        if n % 2 == 0 and spare:
            shutil.copyfile(spare.pop(rng.randrange(len(spare))), copy)
            continue
        with open(copy, "r+b") as f:
            data = bytearray(f.read())
            for at in range(rng.randrange(BLOCK - 16), len(data), BLOCK):
                data[at:at + 16] = bytes(b ^ 0x5A for b in data[at:at + 16])
            f.seek(0)
            f.write(data)


def walk_sorted(tree):
    for base, dirs, files in os.walk(tree):
        dirs.sort()
        yield base, sorted(files)


def fix_times(tree):
    for base, files in walk_sorted(tree):
        for name in files:
            os.utime(os.path.join(base, name), (STAMP, STAMP))
    for base, _ in reversed(list(walk_sorted(tree))):
        os.utime(base, (STAMP, STAMP))


def debugfs(image, commands, write=False):
    script = image + ".debugfs"
    with open(script, "w", encoding="utf-8") as f:
        f.write("".join(line + "\n" for line in commands))
    env = dict(os.environ, E2FSPROGS_FAKE_TIME=str(STAMP))
    result = subprocess.run(["debugfs"] + (["-w"] if write else []) + ["-f", script, image],
                            env=env, capture_output=True, text=True, check=True)
    os.remove(script)
    return result.stdout


def make_image(tree, image, mib):
    """tree as an ext4 image of mib MiB, with no trace of when it was made."""
    fix_times(tree)
    files = ["/" + os.path.relpath(os.path.join(base, name), tree)
             for base, names in walk_sorted(tree) for name in names]
    dirs = ["/" + os.path.relpath(base, tree) for base, _ in walk_sorted(tree)][1:]
    if os.path.exists(image):
        os.remove(image)
    env = dict(os.environ, E2FSPROGS_FAKE_TIME=str(STAMP))
    subprocess.run(["mkfs.ext4", "-q", "-F", "-b", str(BLOCK), "-m", "0", "-O", "^has_journal",
                    "-N", str(len(files) + 1024), "-U", UUID,
                    "-E", "hash_seed=%s,root_owner=0:0" % UUID, "-d", tree, image,
                    "%dM" % mib], env=env, check=True, stdout=subprocess.DEVNULL)
    # mkfs.ext4 -d copies the ctime of each file and directory below the
    # top, which no one can set, and their atime, which reading them for
    # mkfs.ext4 may have set.
    debugfs(image, ['sif "%s" %s @%d' % (path, field, STAMP) for path in dirs + files
                    for field in ("ctime", "atime")], write=True)
    return files


def data_blocks(image, files):
    """The physical blocks of the files' data."""
    out = debugfs(image, ['blocks "%s"' % path for path in files])
    return sorted({int(word) for line in out.splitlines() if not line.startswith("debugfs")
                   for word in line.split() if word.isdigit()})


def scatter(source, image, files, rng):
    """A copy of source with 1% of its blocks overwritten with random bytes,
    picked among the files' data blocks."""
    shutil.copyfile(source, image)
    count = os.path.getsize(image) // BLOCK // 100
    with open(image, "r+b") as f:
        for block in sorted(rng.sample(data_blocks(image, files), count)):
            f.seek(block * BLOCK)
            f.write(rng.randbytes(BLOCK))


def make_zip(tree, path):
    if os.path.exists(path):
        os.remove(path)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as out:
        for base, names in walk_sorted(tree):
            for name in names:
                info = zipfile.ZipInfo(os.path.relpath(os.path.join(base, name), tree),
                                       date_time=(2023, 11, 14, 22, 13, 20))
                mode = os.stat(os.path.join(base, name)).st_mode & 0o777
                info.external_attr = (0o100000 | mode) << 16
                with open(os.path.join(base, name), "rb") as f:
                    out.writestr(info, f.read())


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(MIB), b""):
            digest.update(chunk)
    return digest.hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("outdir")
    parser.add_argument("--size-mib", type=int, default=64)
    args = parser.parse_args()
    out = os.path.abspath(args.outdir)
    os.makedirs(out, exist_ok=True)
    size = args.size_mib * MIB
    tree = os.path.join(out, "tree")

    files, spare = select(size * 8 // 10, size // 16)
    stage(tree, files, "rebuild v1")
    image_files = make_image(tree, os.path.join(out, "rebuild-v1.img"), args.size_mib)
    rng = random.Random("rebuild")
    change(tree, by_bytes(files, rng, sum(map(os.path.getsize, files)) // 100), spare, rng)
    with open(os.path.join(tree, "VERSION"), "w", encoding="ascii") as f:
        f.write("rebuild v2\n")
    make_image(tree, os.path.join(out, "rebuild-v2.img"), args.size_mib)

    shutil.copyfile(os.path.join(out, "rebuild-v1.img"), os.path.join(out, "scattered-v1.img"))
    scatter(os.path.join(out, "rebuild-v1.img"), os.path.join(out, "scattered-v2.img"),
            [p for p in image_files if p not in ("/install", "/VERSION")],
            random.Random("scattered"))

    files, spare = select(size, size // 16)
    stage(tree, files, "zip v1")
    make_zip(tree, os.path.join(out, "zip-v1.zip"))
    rng = random.Random("zip")
    change(tree, rng.sample(files, max(1, len(files) // 100)), spare, rng)
    added = spare[rng.randrange(len(spare))]
    stage_added = os.path.join(tree, "added", os.path.basename(added))
    os.makedirs(os.path.dirname(stage_added))
    shutil.copyfile(added, stage_added)
    with open(os.path.join(tree, "VERSION"), "w", encoding="ascii") as f:
        f.write("zip v2\n")
    make_zip(tree, os.path.join(out, "zip-v2.zip"))
    shutil.rmtree(tree)

    for pair, ext in (("rebuild", "img"), ("scattered", "img"), ("zip", "zip")):
        for version in ("v1", "v2"):
            path = os.path.join(out, "%s-%s.%s" % (pair, version, ext))
            print("%-9s %s %10d %s" % (pair, version, os.path.getsize(path), sha256(path)))


if __name__ == "__main__":
    main()
