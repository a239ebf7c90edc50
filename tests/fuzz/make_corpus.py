#!/usr/bin/env python3
"""Writes the small seed corpus of the archive reader's fuzz target into embedfs_fuzz_corpus/.

Each seed is a file as the installer would meet it, just over the 8192 bytes the reader needs: sound
archives of several shapes, a signed one whose certificate table pushed the trailer out of the last 8192
bytes, and a file without one. Run it again after changing the shapes."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "embedfs_fuzz_corpus")
MAGIC = b"EmbedFs 1.0\0"


def archive(host, entries, after=b""):
    out = bytearray(host)
    out += struct.pack("<I", len(entries))
    for name, data in entries:
        out += struct.pack("<II", len(data), len(name)) + name + b"\0"
    for _, data in entries:
        out += data
    out += struct.pack("<I", len(host)) + MAGIC + after
    return bytes(out)


def host(length):
    return (b"MZ" + bytes(length - 2))[:length]


def signed(unsigned_host, entries, table_size):
    """A PE32 host whose security directory places a certificate table after the archive, 8-byte aligned."""
    def with_table(offset):
        image = bytearray(unsigned_host)
        image[0x3C:0x40] = struct.pack("<I", 0x80)
        image[0x80:0x84] = b"PE\0\0"
        image[0x94:0x96] = struct.pack("<H", 0xE0)  # optional header size
        image[0x98:0x9A] = struct.pack("<H", 0x10B)  # PE32
        image[0xF4:0xF8] = struct.pack("<I", 16)  # NumberOfRvaAndSizes
        image[0x118:0x120] = struct.pack("<II", offset, table_size)  # security directory
        return archive(bytes(image), entries)
    offset = (len(with_table(0)) + 7) // 8 * 8
    packed = with_table(offset)
    return packed + bytes(offset - len(packed)) + bytes((i * 13 + 5) & 0x7F for i in range(table_size))


SEEDS = {
    "shipped-shape": archive(host(8000), [
        (b"patchw32.dll", b"\x4d\x5a" + bytes(62)),
        (b"patchnotes4536.rtf", b"{\\rtf1\\ansi\\ansicpg936 notes}"),
        (b"ZAV.2.12.4526-2.12.4536.rtp", bytes(range(64))),
    ]),
    "no-entries": archive(host(8176), []),
    "empty-entries-and-long-name": archive(host(8100), [
        (b"empty", b""),
        (b"n" * 259, b"x"),
        (b"EMPTY", b""),
    ]),
    "bytes-after-trailer": archive(host(8150), [(b"a.txt", b"hello")], after=b"\xff" * 40),
    "signed-large-certificate-table": signed(host(8100), [
        (b"patchw32.dll", b"\x4d\x5a" + bytes(30)),
        (b"ZAV.2.12.4526-2.12.4536.rtp", bytes(range(40))),
    ], 8200),
    "no-archive": bytes((i * 7) & 0xFF for i in range(8200)),
}

os.makedirs(OUT, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
