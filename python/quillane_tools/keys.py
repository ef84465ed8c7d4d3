"""Ed25519 keys for signers and pinned author keys.

A `Writer` signs an actor's records with a 32-byte secret seed
(`signers={"alice": seed_hex}`), and the rules pin the matching public keys
(`default_rules(..., author_keys={"alice": [public_key(seed_hex)]})`).

`public_key` follows the RFC 8032 reference computation in plain Python. It is
meant for deriving the public half of a seed you already hold; it is not
hardened against timing side channels, so do not run it where an attacker
can time it.
"""

from __future__ import annotations

import hashlib
import secrets

_P = 2**255 - 19
_D = -121665 * pow(121666, _P - 2, _P) % _P

Point = tuple[int, int, int, int]


def _add(a: Point, b: Point) -> Point:
    e1 = (a[1] - a[0]) * (b[1] - b[0]) % _P
    e2 = (a[1] + a[0]) * (b[1] + b[0]) % _P
    c = 2 * a[3] * b[3] * _D % _P
    d = 2 * a[2] * b[2] % _P
    e, f, g, h = e2 - e1, d - c, d + c, e2 + e1
    return (e * f % _P, g * h % _P, f * g % _P, e * h % _P)


def _base() -> Point:
    y = 4 * pow(5, _P - 2, _P) % _P
    x2 = (y * y - 1) * pow(_D * y * y + 1, _P - 2, _P) % _P
    x = pow(x2, (_P + 3) // 8, _P)
    if (x * x - x2) % _P:
        x = x * pow(2, (_P - 1) // 4, _P) % _P
    if x & 1:
        x = _P - x
    return (x, y, 1, x * y % _P)


def generate_seed() -> str:
    """A fresh random secret seed, as 64 lowercase hex characters."""
    return secrets.token_hex(32)


def public_key(seed: str | bytes) -> str:
    """The Ed25519 public key of a 32-byte seed (hex text or bytes), as 64 lowercase hex characters."""
    raw = bytes.fromhex(seed.strip()) if isinstance(seed, str) else bytes(seed)
    if len(raw) != 32:
        raise ValueError("an Ed25519 seed is exactly 32 bytes (64 hex characters)")
    digest = hashlib.sha512(raw).digest()
    scalar = int.from_bytes(digest[:32], "little")
    scalar &= (1 << 254) - 8
    scalar |= 1 << 254
    result: Point = (0, 1, 1, 0)
    point = _base()
    while scalar:
        if scalar & 1:
            result = _add(result, point)
        point = _add(point, point)
        scalar >>= 1
    z_inv = pow(result[2], _P - 2, _P)
    x, y = result[0] * z_inv % _P, result[1] * z_inv % _P
    return (y | (x & 1) << 255).to_bytes(32, "little").hex()
