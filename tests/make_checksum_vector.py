#!/usr/bin/env python3
"""Writes the input of the boot-code checksum's known-answer vectors, and its hashes.

    make_checksum_vector.py OUTPUT

OUTPUT.bin: 0x1000 zero bytes, then 1 MiB from Python's generator seeded with random.seed(0xA1F),
one random.randint(0, 255) per byte: 0x101000 bytes in all. The header words read from it are
zero, so its entry point is 0 and every family reads the 1 MiB from 0x1000.
OUTPUT.hashes: one line, the CRC-32, MD5, SHA-1 and SHA-256 of OUTPUT.bin in lowercase
hexadecimal, from Python's zlib and hashlib: vectors for the image hashes that owe nothing to the
code under test.
"""
import hashlib
import random
import sys
import zlib

if len(sys.argv) != 2:
    sys.exit("usage: make_checksum_vector.py OUTPUT")
random.seed(0xA1F)
data = bytes(0x1000) + bytes(random.randint(0, 255) for _ in range(0x100000))
with open(sys.argv[1] + ".bin", "wb") as f:
    f.write(data)
with open(sys.argv[1] + ".hashes", "w") as f:
    f.write("%08x %s %s %s\n" % (zlib.crc32(data), hashlib.md5(data).hexdigest(),
                                 hashlib.sha1(data).hexdigest(), hashlib.sha256(data).hexdigest()))
