"""Constants and helpers shared by the Python tests."""
import hashlib
import json

import pytest

import quillane

ZERO = "0" * 64
TREE_A = "a" * 40
TREE_B = "b" * 40
SHA = "ab" * 32
ARTIFACT = "sha256-bytes:" + SHA
# Ed25519 seeds used as signing keys.
BOT_SEED = "11" * 32
CI_SEED = "22" * 32

ROLES = {"alice": "user", "bot": "provider", "ci": "executor", "sys": "system", "judge": "verifier"}


def make_rules(**kwargs):
    kwargs.setdefault("admins", ["alice"])
    return quillane.default_rules(ROLES, **kwargs)


def raises(exc, message, call, *args, **kwargs):
    """Calls and checks the exception's type and exact text; returns it."""
    with pytest.raises(exc) as info:
        call(*args, **kwargs)
    assert str(info.value) == message
    return info.value


def payload(writer_or_receipt, commit):
    """The decoded payload of the committed record."""
    (record,) = [r for r in writer_or_receipt.records if r.id == commit.id]
    return json.loads(record.payload_json)


def record_of(writer_or_receipt, commit):
    (record,) = [r for r in writer_or_receipt.records if r.id == commit.id]
    return record


def schema_id(name):
    return hashlib.sha256(name.encode()).hexdigest()


def canonical(value):
    """Canonical JSON for the plain ASCII values these tests build."""
    return json.dumps(value, sort_keys=True, separators=(",", ":")).encode()


def record_id(record):
    """The content id of a receipt record (its JSON form, without the id)."""
    form = {k: v for k, v in record.items() if k != "id"}
    author = dict(form["author"])
    if author["signature"] is None:
        del author["signature"]
    form["author"] = author
    return list(hashlib.sha256(canonical(form)).digest())


def public_key(seed, tmp_path):
    """The public key of a seed, as the key id a signed record carries."""
    rules = quillane.default_rules({"alice": "user"})
    w = quillane.Writer(str(tmp_path / f"key-{seed[:8]}"), rules, signers={"alice": seed})
    w.request("alice", "key probe")
    doc = json.loads(w.receipt())
    return doc["records"][0]["author"]["signature"]["key_id"]


class Story:
    """A small log with fixed inputs, so every id in it is deterministic:
    a request with a requirement, a candidate chosen on one evaluation, a
    continuation of that choice, the evaluation retracted (which makes the
    Selection unsound), a fresh evaluation and a reaffirming Selection that
    chooses the same parent again; plus a candidate its author retracts."""

    def __init__(self, w):
        self.writer = w
        self.request = w.request("alice", "make it fast")
        self.requirement = w.requirement("alice", self.request.id, "latency", "p99 under 10 ms")
        self.c1 = w.candidate("bot", TREE_A, artifacts=[ARTIFACT])
        self.e1 = w.evaluate("ci", self.c1.id, "tests", passed=True)
        self.s1 = w.select("bot", "pick", [self.c1.id], choose=[self.c1.id], uses_eval=[self.e1.id])
        self.c2 = w.candidate("bot", TREE_B, continues=self.s1.id, parent=self.c1.id)
        self.retraction = w.retract("alice", self.e1.id, "flaky run")
        self.e2 = w.evaluate("ci", self.c1.id, "tests", passed=True)
        self.s2 = w.select(
            "bot", "pick", [self.c1.id], choose=[self.c1.id], uses_eval=[self.e2.id], replaces=self.s1.id
        )
        self.c0 = w.candidate("bot", "c" * 40, note="abandoned")
        self.withdrawal = w.retract("bot", self.c0.id, "wrong tree")
        for name, commit in vars(self).items():
            if name != "writer":
                assert commit.accepted, (name, commit)
