#!/usr/bin/env python3
"""Independent reference for the PKCS #12 key derivation (RFC 7292, appendix B.2).

Prints one line "password-hex | id | iterations | length | key-hex" per case given on the command
line as hex passwords, or the built-in case list. The password is turned into a big-endian
16-bit string with a terminating zero character, byte by byte (as OpenSSL's ASCII variant does).
"""
import hashlib
import sys

SALT = b"9d.Lqwer>u,-&7xa"


def pkcs12_kdf(password: bytes, salt: bytes, ident: int, iterations: int, length: int) -> bytes:
    u, v = 20, 64  # SHA-1 output and block sizes
    bmp = b"".join(b"\x00" + bytes([b]) for b in password) + b"\x00\x00"
    d = bytes([ident]) * v
    s = (salt * ((v * ((len(salt) + v - 1) // v)) // len(salt) + 1))[: v * ((len(salt) + v - 1) // v)]
    p = (bmp * ((v * ((len(bmp) + v - 1) // v)) // len(bmp) + 1))[: v * ((len(bmp) + v - 1) // v)]
    i = bytearray(s + p)
    out = b""
    while len(out) < length:
        a = d + bytes(i)
        for _ in range(iterations):
            a = hashlib.sha1(a).digest()
        out += a
        b = (a * (v // u + 1))[:v]
        bn = int.from_bytes(b, "big") + 1
        for j in range(0, len(i), v):
            block = (int.from_bytes(i[j : j + v], "big") + bn) % (1 << (v * 8))
            i[j : j + v] = block.to_bytes(v, "big")
    return out[:length]


def main():
    passwords = [bytes.fromhex(h) for h in sys.argv[1:]] or [
        b"", b"secret", b"a much longer pass phrase that spans more than one block of sixty-four bytes!",
        b"\xe9t\xe9", b"\x00\x01\x02",
    ]
    for pw in passwords:
        for length in (16, 8, 24):
            key = pkcs12_kdf(pw, SALT, 2, 3, length)
            print(f"hex:{pw.hex()} | {length} | {key.hex()}")


if __name__ == "__main__":
    main()
