"""Every surface and query, looped, leaves neither Python objects, C++ heap
nor file descriptors behind."""
import gc
import os
import sys
import tempfile
import tracemalloc

import pytest

import quillane
from support import ARTIFACT, BOT_SEED, SHA, TREE_A, make_rules

WARM_UP = 200
WINDOW = 600
WINDOWS = 3


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def open_fds():
    return len(os.listdir("/proc/self/fd"))


def singleton_refs():
    return sum(sys.getrefcount(o) for o in (None, True, False))


def growth(call):
    """The smallest growth of each gauge over equal windows after a warm-up:
    a leak grows every window, a one-time allocation only one."""
    for _ in range(WARM_UP):
        call()
    gauges = (lambda: tracemalloc.get_traced_memory()[0], resident_bytes, open_fds, singleton_refs)
    deltas = []
    for _ in range(WINDOWS):
        gc.collect()
        before = [g() for g in gauges]
        for _ in range(WINDOW):
            call()
        gc.collect()
        deltas.append([g() - b for g, b in zip(gauges, before)])
    return [min(column) for column in zip(*deltas)]


def swallow(*calls):
    def run():
        for c in calls:
            try:
                c()
            except (ValueError, TypeError, OverflowError, RuntimeError):
                pass
    return run


@pytest.fixture
def fast_dir(tmp_path):
    """A memory-backed directory where there is one: commits flush to disk."""
    if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK):
        with tempfile.TemporaryDirectory(dir="/dev/shm") as d:
            yield d
    else:
        yield str(tmp_path)


@pytest.fixture
def traced():
    tracemalloc.start()
    yield
    tracemalloc.stop()


@pytest.mark.leakcheck
def test_reads_queries_and_refusals_stay_flat(fast_dir, traced):
    rules = make_rules()
    w = quillane.Writer(os.path.join(fast_dir, "log"), rules)
    r = w.request("alice", "make it fast")
    q = w.requirement("alice", r.id, "latency", "p99 under 10 ms")
    c = w.candidate("bot", TREE_A, artifacts=[ARTIFACT, {"scheme": "custom", "digest": SHA, "name": "n"}])
    e = w.evaluate("ci", c.id, "tests", passed=True, evaluator="ci", basis="declared", requirements=[q.id])
    s = w.select("bot", "pick", [c.id], choose=[c.id], uses_eval=[e.id])
    w.retract("alice", e.id, "flaky")
    rejected = w.request("bot", "no")
    data = w.receipt(["quillane-core-v1"])
    receipt = quillane.read(data)
    other = os.path.join(fast_dir, "other")
    quillane.Writer(other, rules).request("alice", "x")

    operations = {
        "validate": lambda: str(quillane.validate(data, require_profile=["quillane-core-v1", "nope"])),
        "report": lambda: [
            (rep.profiles, rep.standing, rep.retracted, rep.tainted, rep.reason, rep.problem, repr(rep),
             rep.head_hash, rep.rules_hash, rep.is_clean)
            for rep in (quillane.validate(data), quillane.validate(b""))],
        "read": lambda: [(v.refs, v.payload_json, repr(v), v.id, v.kind, v.schema, v.author_id, v.author_type,
                          v.signed, v.evidence, v.time) for v in quillane.read(data).records],
        "writer-reads": lambda: (w.records, w.head, repr(w), len(w), w.receipt(), w.receipt(["quillane-core-v1"])),
        "writer-queries": lambda: (w.descent(c.id), w.descendants(r.id), w.siblings(c.id), w.frontier(),
                                   w.standing(s.id), w.evidence(c.id), w.selected("pick")),
        "receipt-queries": lambda: (receipt.descent(c.id), receipt.descendants(r.id), receipt.siblings(c.id),
                                    receipt.frontier(), receipt.standing(s.id), receipt.evidence(s.id),
                                    receipt.selected("pick"), repr(receipt), len(receipt)),
        "open-close": lambda: len(quillane.Writer(other, rules, signers={"bot": list(bytes.fromhex(BOT_SEED))})),
        "refusals": swallow(
            lambda: quillane.read(b"{"), lambda: quillane.read("x"), lambda: quillane.validate(data, 5),
            lambda: quillane.Writer(other, "{}"), lambda: quillane.Writer(other, rules, signers={"bot": [1] * 31}),
            lambda: quillane.Writer(os.path.join(fast_dir, "log"), rules),
            lambda: quillane.default_rules({"a": "admin"}), lambda: quillane.default_rules({"a": "user"}, signed=1),
            lambda: w.descent("x"), lambda: w.descent(5), lambda: w.evidence(r.id), lambda: w.standing(rejected.id),
            lambda: receipt.siblings(s.id), lambda: receipt.selected(None),
            lambda: w.receipt(["nope"]), lambda: w.receipt("quillane-core-v1"),
            lambda: w.request("nobody", "x"), lambda: w.request("alice", 5),
            lambda: w.requirement("alice", r.id, "k", "d", provenance="derived"),
            lambda: w.requirement("ci", rejected.id, "k", "d"),
            lambda: w.select("bot", "pick", [c.id], choose=[c.id], uses_eval=[]),
            lambda: w.select("bot", "pick", [c.id], choose=["x"], uses_eval=[e.id]),
            lambda: w.retract("alice", "x", "r"),
            lambda: w.candidate("bot", TREE_A, artifacts=[{"scheme": "x"}, ARTIFACT]),
            lambda: w.candidate("bot", TREE_A, artifacts=[{"scheme": "Bad", "digest": SHA, "name": "n"}]),
            lambda: w.candidate("bot", TREE_A, continues=s.id, derives_from=[c.id]),
            lambda: w.candidate("bot", "b" * 40, upgrades=c.id),
            lambda: w.candidate("bot", TREE_A, manifest="/nonexistent"),
            lambda: w.evaluate("ci", c.id, "t", blocked=True, artifacts=[ARTIFACT]),
            lambda: w.evaluate("ci", c.id, "t", passed=True, evaluator="x", basis="declared", requirements=[c.id]),
            lambda: w.evaluate("ci", c.id, "t", passed=True, evaluator="x", basis="declared", input_hash="x"),
            lambda: w.evaluate("ci", c.id, "t", score=1, scale=300),
            lambda: w.evaluate("ci", c.id, "", passed=True),
        ),
    }
    length = len(w)
    for name, call in operations.items():
        py, rss, fds, refs = growth(call)
        assert py < 8 * 1024, (name, "Python heap", py)
        assert rss < 128 * 1024, (name, "resident memory", rss)
        assert fds <= 0, (name, "file descriptors", fds)
        assert refs < WINDOW // 2, (name, "references to None, True and False", refs)
    assert len(w) == length


@pytest.mark.leakcheck
def test_commits_stay_flat_in_python(fast_dir, traced):
    # Each commit adds its records to the log the writer holds, so only the
    # Python side is expected to stay flat here.
    w = quillane.Writer(os.path.join(fast_dir, "log"), make_rules(), signers={"bot": BOT_SEED})
    r = w.request("alice", "make it fast")
    c = w.candidate("bot", TREE_A)
    e = w.evaluate("ci", c.id, "tests", passed=True)
    s = w.select("bot", "pick", [c.id], choose=[c.id], uses_eval=[e.id])

    def commit_everything():
        results = [
            w.request("alice", "again"),
            w.requirement("alice", r.id, "latency", "p99", expected_evidence="bench"),
            w.candidate("bot", TREE_A, note="n", artifacts=[ARTIFACT, {"scheme": "custom", "digest": SHA}]),
            w.candidate("bot", "b" * 40, continues=s.id, parent=c.id),
            w.evaluate("ci", c.id, "tests", score=3, scale=4, uses=[r.id]),
            w.evaluate("ci", c.id, "tests", stale=True, evaluator="ci", basis="recomputed", artifacts=[]),
            w.select("bot", "pick", [c.id], choose=[c.id], uses_eval=[e.id], replaces=s.id, rationale="same"),
            w.retract("alice", "cd" * 32, "not there"),
        ]
        return [(x.id, x.accepted, x.result, x.reason, repr(x)) for x in results]

    py, _rss, fds, refs = growth(commit_everything)
    assert py < 8 * 1024, ("Python heap", py)
    assert fds <= 0, ("file descriptors", fds)
    assert refs < WINDOW // 2, ("references to None, True and False", refs)
