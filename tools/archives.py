"""Packages rewritten so that the same content always gives the same bytes,
and read back member by member for comparisons.

normalize(path, epoch) rewrites a .tar.gz, .tar.xz, .deb or .zip in place:
members in name order, every time `epoch`, owner root (0), mode 0755 for
directories and files with an execute bit and 0644 for the rest, and
compression without names or times. members(path) lists a package's members.
"""

import gzip
import io
import lzma
import math
import os
import re
import stat
import tarfile
import time
import zipfile

# The ZIP format cannot hold a time before 1980.
ZIP_EARLIEST = 315532800


class ArchiveError(Exception):
    pass


def fixed_mode(is_dir, mode):
    """The one mode a member gets, whatever umask it was made under."""
    return 0o755 if is_dir or mode & 0o111 else 0o644


def name_order(name):
    """Directory-listing order: a directory's entries right after it."""
    return name.rstrip("/").split("/")


def normalized_tar(data, epoch):
    """The uncompressed tar `data` with its members in name order and fixed
    times, owners and modes."""
    out = io.BytesIO()
    with tarfile.open(fileobj=io.BytesIO(data)) as source, \
            tarfile.open(fileobj=out, mode="w", format=tarfile.GNU_FORMAT) as target:
        for member in sorted(source.getmembers(), key=lambda m: name_order(m.name)):
            if not (member.isfile() or member.isdir() or member.issym()):
                raise ArchiveError(f"{member.name}: unexpected member type in a package")
            info = tarfile.TarInfo(member.name)
            info.type = member.type
            info.size = member.size if member.isfile() else 0
            info.linkname = member.linkname
            info.mode = 0o777 if member.issym() else fixed_mode(member.isdir(), member.mode)
            info.mtime = epoch
            info.uid = info.gid = 0
            info.uname = info.gname = "root"
            content = source.extractfile(member) if member.isfile() else None
            target.addfile(info, content)
    return out.getvalue()


def compress(data, kind):
    """`data` compressed as `kind` ("gz" or "xz") the same way every time:
    no name and no time in a gzip header."""
    if kind == "gz":
        out = io.BytesIO()
        with gzip.GzipFile(filename="", mode="wb", fileobj=out, mtime=0,
                           compresslevel=9) as stream:
            stream.write(data)
        return out.getvalue()
    if kind == "xz":
        return lzma.compress(data, format=lzma.FORMAT_XZ, check=lzma.CHECK_CRC64)
    raise ArchiveError(f"no reproducible writer for .{kind} compression")


def decompress(data, kind):
    if kind == "gz":
        return gzip.decompress(data)
    if kind == "xz":
        return lzma.decompress(data)
    raise ArchiveError(f"no reader for .{kind} compression")


def normalize_tar_file(path, epoch):
    kind = path.name.rsplit(".", 1)[-1]
    tar = normalized_tar(decompress(path.read_bytes(), kind), epoch)
    return compress(tar, kind)


def read_ar(data):
    """The members of an ar archive: [(name field, content)]."""
    if not data.startswith(b"!<arch>\n"):
        raise ArchiveError("not an ar archive")
    members, at = [], 8
    while at < len(data):
        header = data[at:at + 60]
        if len(header) != 60 or header[58:60] != b"`\n":
            raise ArchiveError(f"damaged ar member header at byte {at}")
        size = int(header[48:58])
        members.append((header[:16], data[at + 60:at + 60 + size]))
        at += 60 + size + size % 2
    return members


def write_ar(members, epoch):
    out = [b"!<arch>\n"]
    for name, content in members:
        header = b"%-16s%-12d%-6d%-6d%-8o%-10d`\n" % (
            name.rstrip(), epoch, 0, 0, 0o100644, len(content))
        out += [header, content, b"\n" if len(content) % 2 else b""]
    return b"".join(out)


def installed_size(data_tar):
    """Installed-Size as dpkg-gencontrol counts it: each file's KiB rounded
    up, and one for each other entry. (cpack adds up sizes that include
    directories' own, which depend on the file system of the build.)"""
    kib = 0
    with tarfile.open(fileobj=io.BytesIO(data_tar)) as tar:
        for member in tar.getmembers():
            kib += math.ceil(member.size / 1024) if member.isfile() else 1
    return kib


def with_installed_size(control_tar, kib):
    """The control tar with the Installed-Size of its control file set."""
    out = io.BytesIO()
    with tarfile.open(fileobj=io.BytesIO(control_tar)) as source, \
            tarfile.open(fileobj=out, mode="w", format=tarfile.GNU_FORMAT) as target:
        for member in source.getmembers():
            content = source.extractfile(member).read() if member.isfile() else None
            if member.isfile() and member.name.lstrip("./") == "control":
                content, count = re.subn(rb"(?m)^Installed-Size: .*$",
                                         b"Installed-Size: %d" % kib, content)
                if count != 1:
                    raise ArchiveError("the control file has no Installed-Size")
                member.size = len(content)
            target.addfile(member, io.BytesIO(content) if content is not None else None)
    return out.getvalue()


def normalize_deb(path, epoch):
    members = read_ar(path.read_bytes())
    names = [name.rstrip().rstrip(b"/").decode() for name, _ in members]
    data = [i for i, name in enumerate(names) if name.startswith("data.tar.")]
    control = [i for i, name in enumerate(names) if name.startswith("control.tar.")]
    if names[:1] != ["debian-binary"] or len(data) != 1 or len(control) != 1:
        raise ArchiveError(f"unexpected members {names}")
    tars = {}
    for i in data + control:
        kind = names[i].rsplit(".", 1)[-1]
        tars[i] = (normalized_tar(decompress(members[i][1], kind), epoch), kind)
    kib = installed_size(tars[data[0]][0])
    tars[control[0]] = (with_installed_size(tars[control[0]][0], kib), tars[control[0]][1])
    for i, (tar, kind) in tars.items():
        members[i] = (members[i][0], compress(tar, kind))
    return write_ar(members, epoch)


def normalize_zip(path, epoch):
    when = time.gmtime(max(epoch, ZIP_EARLIEST))[:6]
    out = io.BytesIO()
    with zipfile.ZipFile(path) as source, zipfile.ZipFile(out, "w") as target:
        for member in sorted(source.infolist(), key=lambda m: name_order(m.filename)):
            info = zipfile.ZipInfo(member.filename, date_time=when)
            info.create_system = 3  # Unix: the mode below is read
            is_dir = member.is_dir()
            mode = fixed_mode(is_dir, member.external_attr >> 16)
            info.external_attr = ((stat.S_IFDIR if is_dir else stat.S_IFREG) | mode) << 16
            if is_dir:
                info.external_attr |= 0x10  # MS-DOS directory flag
                target.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                target.writestr(info, source.read(member), compresslevel=9)
    return out.getvalue()


def normalize(path, epoch):
    name = path.name
    if name.endswith((".tar.gz", ".tar.xz")):
        data = normalize_tar_file(path, epoch)
    elif name.endswith(".deb"):
        data = normalize_deb(path, epoch)
    elif name.endswith(".zip"):
        data = normalize_zip(path, epoch)
    else:
        raise ArchiveError("not a package kind this script knows")
    scratch = path.with_name(name + ".normalizing")
    scratch.write_bytes(data)
    os.replace(scratch, path)


def members(path):
    """{member name: (metadata, content)} of a package, the members of a
    .deb's inner tars named "<inner tar>/<member>"; None for another file."""
    name = path.name
    if name.endswith(".zip"):
        with zipfile.ZipFile(path) as archive:
            return {m.filename: ((m.date_time, m.external_attr, m.create_system),
                                 archive.read(m)) for m in archive.infolist()}
    if name.endswith(".deb"):
        found = {}
        for field, content in read_ar(path.read_bytes()):
            inner = field.rstrip().rstrip(b"/").decode()
            if inner.startswith(("data.tar.", "control.tar.")):
                tar = decompress(content, inner.rsplit(".", 1)[-1])
                for member, entry in tar_members(tar).items():
                    found[f"{inner}/{member}"] = entry
            else:
                found[inner] = ((), content)
        return found
    if name.endswith((".tar.gz", ".tar.xz")):
        return tar_members(decompress(path.read_bytes(), name.rsplit(".", 1)[-1]))
    return None


def tar_members(data):
    found = {}
    with tarfile.open(fileobj=io.BytesIO(data)) as tar:
        for m in tar.getmembers():
            content = tar.extractfile(m).read() if m.isfile() else b""
            found[m.name] = ((m.type, m.mode, m.mtime, m.uid, m.gid, m.uname,
                              m.gname, m.linkname), content)
    return found
