"""GB18030 bytes of a character, as the engine (glibc's iconv "GB18030") writes them.

Python's codec follows the 2005 edition; glibc gives a few characters the two-byte codes of the
2022 edition instead, and the engine's keys must be glibc's. The characters where the two differ
(all of them, symbols included, checked against glibc 2.36) are listed here.
"""

GLIBC_CODES = {
    0x1E3F: b"\xa8\xbc",
    0x9FB4: b"\xfe\x59", 0x9FB5: b"\xfe\x61", 0x9FB6: b"\xfe\x66", 0x9FB7: b"\xfe\x67",
    0x9FB8: b"\xfe\x6d", 0x9FB9: b"\xfe\x7e", 0x9FBA: b"\xfe\x90", 0x9FBB: b"\xfe\xa0",
    0xFE10: b"\xa6\xd9", 0xFE11: b"\xa6\xdb", 0xFE12: b"\xa6\xda", 0xFE13: b"\xa6\xdc",
    0xFE14: b"\xa6\xdd", 0xFE15: b"\xa6\xde", 0xFE16: b"\xa6\xdf", 0xFE17: b"\xa6\xec",
    0xFE18: b"\xa6\xed", 0xFE19: b"\xa6\xf3",
    0x20087: b"\xfe\x51", 0x20089: b"\xfe\x52", 0x200CC: b"\xfe\x53", 0x215D7: b"\xfe\x6c",
    0x2298F: b"\xfe\x76", 0x241FE: b"\xfe\x91",
}


def encode(ch):
    """The GB18030 bytes of one character (2 or 4 bytes for an ideograph)."""
    return GLIBC_CODES.get(ord(ch)) or ch.encode("gb18030")
