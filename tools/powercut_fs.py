#!/usr/bin/python3
"""An in-memory FUSE file system that models what survives a power cut.

Every node (file, directory, symlink) has a current state and a durable
one. A file's data becomes durable only by fsync or fdatasync of that file
(a file never synced has empty durable data); a directory's entries only by
fsync of that directory. Modes, owners and times count as durable at once.
Nodes are objects: a rename moves the node, hard links share it.

    /usr/bin/python3 tools/powercut_fs.py MOUNTPOINT --image DIR [--save DIR]
        [--ready FILE] [--stats FILE] [--cut-at N] [--fail OP:GLOB:ERRNO]...

--image loads a real tree as the initial, wholly durable state. On unmount
the durable tree goes to --save and a JSON summary to --stats. Counted ops:
create mknod mkdir symlink link unlink rmdir rename write truncate chmod
chown utimens fsync fsyncdir. --cut-at N: at the N-th counted op, before it
is applied, the durable state freezes and the flow is SIGKILLed: every
process in the caller's session, its ancestors' and the sessions their
children made, never a session of the tool or its ancestors nor 0/1; every
later op fails with EIO. --fail: the first OP whose path (relative to the root; a
rename's destination) matches GLOB fails once with ERRNO, unapplied. A
rename of a file whose data is not durable is recorded as a violation.

Not modelled: writes torn within a block, reordering of metadata, the
durability of modes, owners and times, extended attributes, special files.
fstat of a file unlinked while open fails with ENOENT (libfuse2 has no
path for it).
It needs Debian's python3-fusepy (libfuse2) and root or user_allow_other.
"""

import argparse
import errno
import fnmatch
import json
import os
import signal
import stat
import sys
import threading
import time
from collections import Counter

try:
    import fusepy as fuse  # Debian's name for the module
except ImportError:
    import fuse

COUNTED = {"create", "mknod", "mkdir", "symlink", "link", "unlink", "rmdir", "rename",
           "write", "truncate", "chmod", "chown", "utimens", "fsync", "fsyncdir"}
# What closing files and unmounting need once the power is cut.
AFTER_CUT = {"release", "releasedir", "flush", "destroy"}
UTIME_NOW, UTIME_OMIT = (1 << 30) - 1, (1 << 30) - 2
BLOCK = 4096


def fail(code):
    raise fuse.FuseOSError(code)


class Node:
    """A file, directory or symlink; durable is what a power cut keeps."""
    next_ino = 1

    def __init__(self, mode, uid, gid, content, mtime=None):
        self.mode, self.uid, self.gid = mode, uid, gid
        self.ino, Node.next_ino = Node.next_ino, Node.next_ino + 1
        now = time.time_ns()
        self.atime = self.mtime = mtime if mtime is not None else now
        self.ctime = now
        self.nlink = 0
        self.content = content  # bytearray, dict of name -> Node, or link target
        self.durable = {} if self.is_dir() else b"" if self.is_file() else content

    def is_dir(self):
        return stat.S_ISDIR(self.mode)

    def is_file(self):
        return stat.S_ISREG(self.mode)

    def size(self):
        if self.is_dir():
            return BLOCK
        return len(self.content) if self.is_file() else len(self.content.encode())

    def make_durable(self):
        if self.is_file():
            self.durable = bytes(self.content)
        elif self.is_dir():
            self.durable = dict(self.content)

    def touch(self):
        self.mtime = self.ctime = time.time_ns()


class PowercutFs(fuse.Operations):
    use_ns = True
    # Ops on a file unlinked while open come without a path (the handle has
    # the node); utimens gets UTIME_NOW and UTIME_OMIT as they are.
    flag_nullpath_ok = flag_utime_omit_ok = 1

    def __init__(self, args):
        self.args = args
        self.root = load_image(args.image)
        self.handles, self.next_fh = {}, 1
        self.ops, self.by_op = 0, Counter()
        self.cut = self.failed = None
        self.violations = []
        self.failures = [parse_fail(spec) for spec in args.fail]

    # Dispatch: counting, the cut and injected failures happen here, before the op.
    def __call__(self, op, *args):
        if self.cut is not None and op not in AFTER_CUT:
            if op != "getattr" or args[0] != "/":
                fail(errno.EIO)
        if op in COUNTED:
            self.ops += 1
            self.by_op[op] += 1
            path = self.op_path(op, args)
            if self.ops == self.args.cut_at:
                self.power_cut(op, path)
                fail(errno.EIO)
            self.inject(op, path)
        if not hasattr(self, op):
            fail(errno.ENOSYS)
        return getattr(self, op)(*args)

    def op_path(self, op, args):
        path = args[1] if op == "rename" else args[0]
        if path is None and op in ("write", "truncate", "fsync") and args[-1] in self.handles:
            path = self.handles[args[-1]][1]
        return (path or "/").lstrip("/") or "."

    def inject(self, op, path):
        for failure in self.failures:
            if not failure["used"] and failure["op"] == op and fnmatch.fnmatchcase(
                    path, failure["glob"]):
                failure["used"] = True
                self.failed = self.failed or f"{op} {path} {failure['name']}"
                fail(failure["errno"])

    def power_cut(self, op, path):
        self.cut = f"{op} {path}"
        _, _, pid = fuse.fuse_get_context()
        kill_sessions(flow_sessions(pid))

    # Lookups.
    # The kernel resolves paths a component at a time and checks the types
    # of nodes (EISDIR, ENOTDIR, links of directories) before it asks.
    def lookup(self, path):
        node = self.root
        for name in filter(None, path.split("/")):
            node = node.content.get(name)
            if node is None:
                fail(errno.ENOENT)
        return node

    def parent(self, path):
        head, name = os.path.split(path.rstrip("/"))
        return self.lookup(head), name

    def node(self, path, fh=None):
        if fh in self.handles:
            return self.handles[fh][0]
        return self.lookup(path)

    def open_handle(self, node, path):
        fh, self.next_fh = self.next_fh, self.next_fh + 1
        self.handles[fh] = (node, path)
        return fh

    def new_node(self, path, mode, content):
        directory, name = self.parent(path)
        if name in directory.content:
            fail(errno.EEXIST)
        uid, gid, _ = fuse.fuse_get_context()
        if directory.mode & stat.S_ISGID:
            gid = directory.gid
            if stat.S_ISDIR(mode):
                mode |= stat.S_ISGID
        node = Node(mode, uid, gid, content)
        link_into(directory, name, node)
        return node

    # Read-only operations.
    def getattr(self, path, fh=None):
        node = self.node(path, fh)
        nlink = node.nlink
        if node.is_dir():
            nlink = 2 + sum(1 for child in node.content.values() if child.is_dir())
        size = node.size()
        return {"st_mode": node.mode, "st_ino": node.ino, "st_nlink": nlink,
                "st_uid": node.uid, "st_gid": node.gid, "st_size": size,
                "st_blocks": (size + 511) // 512, "st_blksize": BLOCK,
                "st_atime": node.atime, "st_mtime": node.mtime, "st_ctime": node.ctime}

    def access(self, path, amode):
        self.lookup(path)

    def readlink(self, path):
        return self.lookup(path).content

    def opendir(self, path):
        return self.open_handle(self.lookup(path), path)

    def readdir(self, path, fh):
        return [".", ".."] + list(self.node(path, fh).content)

    def open(self, path, flags):
        return self.open_handle(self.lookup(path), path)

    def read(self, path, size, offset, fh):
        return bytes(self.node(path, fh).content[offset:offset + size])

    def flush(self, path, fh):
        pass

    def release(self, path, fh):
        self.handles.pop(fh, None)

    releasedir = release

    def statfs(self, path):
        free = (4 << 30) // BLOCK  # of 8 GiB: free-space checks pass
        return {"f_bsize": BLOCK, "f_frsize": BLOCK, "f_blocks": 2 * free, "f_bfree": free,
                "f_bavail": free, "f_files": 2 * free, "f_ffree": free, "f_favail": free,
                "f_namemax": 255}

    # Changing operations.
    def create(self, path, mode, fi=None):
        node = self.new_node(path, stat.S_IFREG | (mode & 0o7777), bytearray())
        return self.open_handle(node, path)

    def mknod(self, path, mode, dev):
        if not stat.S_ISREG(mode):
            fail(errno.EPERM)
        self.new_node(path, mode, bytearray())

    def mkdir(self, path, mode):
        self.new_node(path, stat.S_IFDIR | (mode & 0o7777), {})

    def symlink(self, target, source):
        self.new_node(target, stat.S_IFLNK | 0o777, source)

    def link(self, target, source):
        node = self.lookup(source)
        link_into(*self.parent(target), node)
        node.ctime = time.time_ns()

    def unlink(self, path):
        unlink_from(*self.parent(path))

    def rmdir(self, path):
        if self.lookup(path).content:
            fail(errno.ENOTEMPTY)
        unlink_from(*self.parent(path))

    def rename(self, old, new):
        source_dir, source_name = self.parent(old)
        node = self.lookup(old)
        target_dir, target_name = self.parent(new)
        replaced = target_dir.content.get(target_name)
        if replaced is node:
            return
        if replaced is not None and replaced.is_dir() and replaced.content:
            fail(errno.ENOTEMPTY)
        if node.is_file() and bytes(node.content) != node.durable:
            self.violations.append(f"rename {old.lstrip('/')} -> {new.lstrip('/')}: "
                                   "data not durable")
        if replaced is not None:
            unlink_from(target_dir, target_name)
        del source_dir.content[source_name]
        source_dir.touch()
        target_dir.content[target_name] = node
        target_dir.touch()
        node.ctime = time.time_ns()

    def write(self, path, data, offset, fh):
        node = self.node(path, fh)
        content = node.content
        if offset > len(content):
            content.extend(bytes(offset - len(content)))
        content[offset:offset + len(data)] = data
        node.touch()
        return len(data)

    def truncate(self, path, length, fh=None):
        node = self.node(path, fh)
        if length < len(node.content):
            del node.content[length:]
        else:
            node.content.extend(bytes(length - len(node.content)))
        node.touch()

    def chmod(self, path, mode):
        node = self.lookup(path)
        node.mode = stat.S_IFMT(node.mode) | (mode & 0o7777)
        node.ctime = time.time_ns()

    def chown(self, path, uid, gid):
        node = self.lookup(path)
        node.uid = node.uid if uid == -1 else uid
        node.gid = node.gid if gid == -1 else gid
        node.ctime = time.time_ns()

    def utimens(self, path, times=None):
        node = self.lookup(path)
        now = time.time_ns()
        atime, mtime = times or ((0, UTIME_NOW), (0, UTIME_NOW))
        for attr, (sec, nsec) in (("atime", atime), ("mtime", mtime)):
            if nsec != UTIME_OMIT:
                setattr(node, attr, now if nsec == UTIME_NOW else sec * 10**9 + nsec)
        node.ctime = now

    def fsync(self, path, datasync, fh):
        if self.cut is None:
            self.node(path, fh).make_durable()

    fsyncdir = fsync  # a directory's entries, by the same rule

    # Mount and unmount.
    def init(self, path):
        if self.args.ready:
            open(self.args.ready, "w").close()

    def destroy(self, path):
        try:
            if self.args.save:
                os.makedirs(self.args.save, exist_ok=True)
                save_tree(self.root, self.args.save, {}, set())
        finally:
            if self.args.stats:
                self.write_stats()

    def write_stats(self):
        stats = {"ops": self.ops, "by_op": dict(sorted(self.by_op.items())),
                 "fsync": self.by_op["fsync"], "fsyncdir": self.by_op["fsyncdir"],
                 "cut": self.cut, "failed": self.failed, "violations": self.violations}
        with open(self.args.stats, "w", encoding="utf-8") as f:
            json.dump(stats, f, indent=1)
            f.write("\n")


class Fuse(fuse.FUSE):
    """fusepy's FUSE with the raw times of utimens: it loses UTIME_NOW and UTIME_OMIT."""

    def utimens(self, path, buf):
        times = None
        if buf:
            times = tuple((t.tv_sec, t.tv_nsec)
                          for t in (buf.contents.actime, buf.contents.modtime))
        return self.operations("utimens", path.decode(self.encoding), times)


def link_into(directory, name, node):
    directory.content[name] = node
    node.nlink += 1
    directory.touch()


def unlink_from(directory, name):
    node = directory.content.pop(name)
    node.nlink -= 1
    node.ctime = time.time_ns()
    directory.touch()


def proc_stat(pid):
    """(parent pid, session) of a live process or thread, or None."""
    try:
        with open(f"/proc/{pid}/stat", encoding="ascii", errors="replace") as f:
            state, ppid, _, sid = f.read().rsplit(")", 1)[1].split()[:4]
    except (OSError, IndexError, ValueError):
        return None
    return None if state in ("Z", "X") else (int(ppid), int(sid))


def processes():
    """pid -> (parent pid, session) of every live process."""
    entries = ((int(e), proc_stat(e)) for e in os.listdir("/proc") if e.isdigit())
    return {pid: entry for pid, entry in entries if entry}


def flow_sessions(caller):
    """The sessions a cut by caller kills: the caller's and its ancestors', and
    those its members' children made (the client starts some in sessions of
    their own); never this tool's or its ancestors' (which started the flow),
    nor session 0 or 1."""
    table = processes()
    protected, pid = {0, 1}, os.getpid()
    while pid in table:
        protected.add(table[pid][1])
        pid = table[pid][0]
    sessions, pid = set(), caller
    table[caller] = proc_stat(caller) or (0, 0)  # a thread, maybe, unlisted
    while pid in table and table[pid][1] not in protected:
        sessions.add(table[pid][1])
        pid = table[pid][0]
    while True:
        more = {sid for ppid, sid in table.values() if sid not in sessions | protected
                and table.get(ppid, (0, 0))[1] in sessions}
        if not more:
            return sessions
        sessions |= more


def kill_sessions(sessions):
    """SIGKILLs every live process of the sessions now, then again in the
    background until none is left: some can only die once this op is
    answered (the caller, and any waiting on a lock the caller holds)."""
    def kill():
        alive = [pid for pid, (_, sid) in processes().items() if sid in sessions]
        for pid in alive:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        return alive

    def until_none_left():
        deadline = time.monotonic() + 10
        while kill():
            if time.monotonic() > deadline:
                print(f"powercut_fs: sessions {sorted(sessions)} still have live "
                      "processes", file=sys.stderr)
                return
            time.sleep(0.01)

    if sessions and kill():
        threading.Thread(target=until_none_left, daemon=True).start()


def load_image(top):
    seen = {}

    def load(path):
        st = os.lstat(path)
        if (st.st_dev, st.st_ino) in seen:
            return seen[st.st_dev, st.st_ino]
        if stat.S_ISDIR(st.st_mode):
            content = {}
            for name in sorted(os.listdir(path)):
                child = load(os.path.join(path, name))
                if child is not None:
                    content[name] = child
                    child.nlink += 1
        elif stat.S_ISREG(st.st_mode):
            with open(path, "rb") as f:
                content = bytearray(f.read())
        elif stat.S_ISLNK(st.st_mode):
            content = os.readlink(path)
        else:
            return None
        node = Node(st.st_mode, st.st_uid, st.st_gid, content, st.st_mtime_ns)
        node.make_durable()
        seen[st.st_dev, st.st_ino] = node
        return node

    return load(top)


def save_tree(node, path, written, ancestors):
    """Writes node's durable state at path: its durable entries, recursively."""
    if id(node) in written:
        os.link(written[id(node)], path)
        return
    if node.is_dir():
        os.makedirs(path, exist_ok=True)
        for name, child in node.durable.items():
            if id(child) not in ancestors:  # renames can make durable entries a cycle
                save_tree(child, os.path.join(path, name), written, ancestors | {id(node)})
    elif node.is_file():
        with open(path, "wb") as f:
            f.write(node.durable)
        written[id(node)] = path
    else:
        os.symlink(node.content, path)
    os.lchown(path, node.uid, node.gid)
    if not stat.S_ISLNK(node.mode):
        os.chmod(path, stat.S_IMODE(node.mode))
    os.utime(path, ns=(node.atime, node.mtime), follow_symlinks=False)


def parse_fail(spec):
    op, rest = spec.split(":", 1)
    glob, name = rest.rsplit(":", 1)
    code = getattr(errno, name, None)
    if op not in COUNTED or not isinstance(code, int):
        sys.exit(f"powercut_fs: bad --fail {spec!r}: OP:GLOB:ERRNO with a counted op "
                 "and an errno name")
    return {"op": op, "glob": glob, "name": name, "errno": code, "used": False}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("mountpoint")
    parser.add_argument("--image", required=True, help="tree loaded as the durable start")
    parser.add_argument("--save", help="where the durable tree is written on unmount")
    parser.add_argument("--ready", help="file created once mounted")
    parser.add_argument("--stats", help="JSON summary written on unmount")
    parser.add_argument("--cut-at", type=int, help="the counted op at which the power fails")
    parser.add_argument("--fail", action="append", default=[], metavar="OP:GLOB:ERRNO")
    args = parser.parse_args()
    if args.cut_at is not None and args.cut_at < 1:
        parser.error("--cut-at must be at least 1")
    # hard_remove: an unlinked open file is not renamed to a hidden name (that
    # rename would be counted and saved); attr_timeout=0: link counts and
    # sizes as they are now, whichever name changed them.
    Fuse(PowercutFs(args), args.mountpoint, foreground=True, nothreads=True,
         allow_other=True, default_permissions=True, big_writes=True, max_write=131072,
         hard_remove=True, use_ino=True, attr_timeout=0, fsname="powercut")


if __name__ == "__main__":
    main()
