"""The Writer: opening, signers, lock and thread binding, reads and receipts."""
import json
import os
import subprocess
import sys
import threading

import pytest

import quillane
from support import BOT_SEED, ROLES, ZERO, make_rules, public_key, raises

LOCKED = "cannot open log: log is already locked by another writer"


def test_a_new_log_is_empty(log_dir, rules):
    w = quillane.Writer(log_dir, rules)
    assert (len(w), w.head, repr(w), w.records) == (0, ZERO, "Writer(records=0)", [])
    assert os.path.isdir(log_dir) and os.path.exists(os.path.join(log_dir, ".lock"))


def test_one_commit_adds_the_subject_and_its_verdict(writer):
    commit = writer.request("alice", "x")
    subject, verdict = writer.records
    assert (len(writer), repr(writer)) == (2, "Writer(records=2)")
    assert subject.id == commit.id and writer.head == verdict.id != commit.id
    assert verdict.refs == [{"type": "Cause", "target": commit.id}]


def test_a_rejected_record_is_committed(writer):
    commit = writer.request("bot", "providers may not ask")
    assert (commit.accepted, commit.reason) == (False, "AuthorRoleInvalid")
    assert len(writer) == 2 and writer.records[0].id == commit.id
    assert json.loads(writer.records[1].payload_json) == {"reason": "AuthorRoleInvalid", "result": "Reject"}
    assert quillane.validate(writer.receipt()).status == "clean"


@pytest.mark.parametrize(
    "kwargs, exc, message",
    [
        ({"signers": {"zed": BOT_SEED}}, ValueError, 'signer "zed" is not registered in the rules\' author_roles'),
        ({"signers": {"bot": "AB" * 32}}, ValueError,
         'signer for "bot": expected 64 hex characters or 32 bytes'),
        ({"signers": {"bot": BOT_SEED[:-1]}}, ValueError, 'signer for "bot": expected 64 hex characters or 32 bytes'),
        ({"signers": {"bot": ""}}, ValueError, 'signer for "bot": expected 64 hex characters or 32 bytes'),
        ({"signers": {"bot": b"\x01" * 31}}, ValueError, 'signer for "bot": expected exactly 32 bytes'),
        ({"signers": {"bot": bytearray(33)}}, ValueError, 'signer for "bot": expected exactly 32 bytes'),
        ({"signers": {"bot": [1] * 31}}, ValueError, 'signer for "bot": expected exactly 32 bytes'),
        ({"signers": {"bot": [256] * 32}}, ValueError, 'signer for "bot": expected a hex string or bytes'),
        ({"signers": {"bot": [-1] * 32}}, ValueError, 'signer for "bot": expected a hex string or bytes'),
        ({"signers": {"bot": ["1"] * 32}}, ValueError, 'signer for "bot": expected a hex string or bytes'),
        ({"signers": {"bot": 5}}, ValueError, 'signer for "bot": expected a hex string or bytes'),
        ({"signers": {"bot": None}}, ValueError, 'signer for "bot": expected a hex string or bytes'),
        # Signers are checked in actor order: "alice" before "bot".
        ({"signers": {"bot": 5, "alice": b""}}, ValueError, 'signer for "alice": expected exactly 32 bytes'),
        ({"signers": {'b"\n': BOT_SEED}}, ValueError,
         'signer "b\\"\\n" is not registered in the rules\' author_roles'),
        # The rules are parsed before any signer is looked at.
        ({"rules": "{}", "signers": {"zed": 5}}, ValueError,
         "invalid rules JSON: missing field `space` at line 1 column 2"),
    ],
)
def test_bad_rules_and_signers_are_refused_before_the_directory_is_touched(log_dir, rules, kwargs, exc, message):
    args = {"log_dir": log_dir, "rules": rules, **kwargs}
    raises(exc, message, quillane.Writer, **args)
    assert not os.path.exists(log_dir)


@pytest.mark.parametrize(
    "kwargs, name",
    [
        ({"log_dir": 5}, "log_dir"),
        ({"log_dir": b"/tmp/x"}, "log_dir"),
        ({"rules": {"space": []}}, "rules"),
        ({"signers": [("bot", BOT_SEED)]}, "signers"),
        ({"signers": {1: BOT_SEED}}, "signers"),
        # Conversion comes before the rules are parsed.
        ({"rules": "{}", "signers": "bot"}, "signers"),
    ],
)
def test_argument_types(log_dir, rules, kwargs, name):
    args = {"log_dir": log_dir, "rules": rules, **kwargs}
    with pytest.raises(TypeError) as info:
        quillane.Writer(**args)
    assert info.value.__notes__ == [f"while processing '{name}'"]
    assert not os.path.exists(log_dir)


@pytest.mark.parametrize(
    "seed",
    [
        f" \t{BOT_SEED}\n",
        bytes.fromhex(BOT_SEED),
        bytearray.fromhex(BOT_SEED),
        list(bytes.fromhex(BOT_SEED)),
        tuple(bytes.fromhex(BOT_SEED)),
    ],
    ids=["hex-with-whitespace", "bytes", "bytearray", "list", "tuple"],
)
def test_signer_forms_sign_with_the_same_key(tmp_path, rules, seed):
    w = quillane.Writer(str(tmp_path / "log"), rules, signers={"bot": seed})
    w.request("alice", "x")
    w.candidate("bot", "a" * 40)
    records = [r for r in w.records if r.kind != "Verdict"]
    assert [(r.author_id, r.signed) for r in records] == [("alice", False), ("bot", True)]
    doc = json.loads(w.receipt())
    assert doc["records"][2]["author"]["signature"]["key_id"] == public_key(BOT_SEED, tmp_path)


def test_a_pinned_key_accepts_the_writers_signatures(tmp_path):
    key = public_key(BOT_SEED, tmp_path)
    rules = make_rules(signed=True, author_keys={"bot": [key]})
    w = quillane.Writer(str(tmp_path / "log"), rules, signers={"bot": BOT_SEED})
    assert w.candidate("bot", "a" * 40).accepted
    # An actor with no signer writes unsigned records, which these rules refuse.
    assert w.evaluate("ci", w.records[0].id, "tests", passed=True).reason == "SignatureMissing"
    assert quillane.validate(w.receipt()).is_clean


def test_a_path_that_cannot_hold_a_log(tmp_path, rules):
    (tmp_path / "file").write_text("not a directory")
    with pytest.raises(RuntimeError) as info:
        quillane.Writer(str(tmp_path / "file"), rules)
    # The operating system's own text follows the prefix.
    assert str(info.value).startswith("cannot open log: I/O error: ")
    assert str(info.value).endswith("File exists")


def test_a_commit_the_log_cannot_hold_fails_and_leaves_the_writer_usable(writer):
    writer.request("alice", "x")
    head = writer.head
    with pytest.raises(RuntimeError) as info:
        writer.request("alice", "x" * (17 * 1024 * 1024))
    assert str(info.value).startswith("commit failed: log size of ")
    assert str(info.value).endswith(" bytes exceeds configured limit of 67108864 bytes")
    assert (len(writer), writer.head) == (2, head)
    assert writer.request("alice", "y").accepted


def test_one_writer_per_directory_in_a_process(log_dir, rules):
    first = quillane.Writer(log_dir, rules)
    first.request("alice", "x")
    raises(RuntimeError, LOCKED, quillane.Writer, log_dir, rules)
    raises(RuntimeError, LOCKED, quillane.Writer, log_dir + "/", rules)
    assert len(first) == 2
    del first
    second = quillane.Writer(log_dir, rules)
    assert len(second) == 2


def test_one_writer_per_directory_across_processes(log_dir, rules):
    module_dir = os.path.dirname(os.path.dirname(os.path.abspath(quillane.__file__)))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([os.path.dirname(quillane.__file__), module_dir]))
    holder = subprocess.Popen(
        [sys.executable, "-c",
         "import sys, quillane\n"
         "w = quillane.Writer(sys.argv[1], sys.argv[2])\n"
         "w.request('alice', 'held')\n"
         "print('holding', flush=True)\n"
         "sys.stdin.readline()\n",
         log_dir, rules],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=env,
    )
    try:
        assert holder.stdout.readline() == "holding\n"
        raises(RuntimeError, LOCKED, quillane.Writer, log_dir, rules)
    finally:
        holder.stdin.close()
        assert holder.wait(timeout=30) == 0
    w = quillane.Writer(log_dir, rules)
    assert len(w) == 2


def test_a_writer_is_bound_to_its_thread(writer):
    commit = writer.request("alice", "x")
    before = (len(writer), writer.head)
    calls = {
        "request": lambda: writer.request("alice", "y"),
        "candidate": lambda: writer.candidate("bot", "a" * 40),
        "retract": lambda: writer.retract("alice", commit.id, "no"),
        "receipt": lambda: writer.receipt(),
        "frontier": lambda: writer.frontier(),
        "standing": lambda: writer.standing(commit.id),
        "head": lambda: writer.head,
        "records": lambda: writer.records,
        "len": lambda: len(writer),
        "repr": lambda: repr(writer),
    }
    outcomes = {}

    def elsewhere():
        for name, call in calls.items():
            try:
                call()
                outcomes[name] = "returned"
            except Exception as e:  # noqa: BLE001 - recorded for the assertion below
                outcomes[name] = (type(e), str(e))

    thread = threading.Thread(target=elsewhere)
    thread.start()
    thread.join()
    message = "quillane.Writer is unsendable, but sent to another thread"
    assert outcomes == {name: (RuntimeError, message) for name in calls}
    assert (len(writer), writer.head) == before
    assert writer.request("alice", "y").accepted


def test_reopening_under_other_rules(log_dir, rules):
    w = quillane.Writer(log_dir, rules)
    w.request("alice", "x")
    w.candidate("bot", "a" * 40)
    head = w.head
    del w
    # Rules under which the log still replays: one more author.
    wider = quillane.default_rules({**ROLES, "dave": "user"}, admins=["alice"])
    w = quillane.Writer(log_dir, wider)
    assert (len(w), w.head) == (4, head)
    assert w.request("dave", "y").accepted
    assert json.loads(w.receipt())["rules"]["author_roles"]["dave"] == "User"
    assert quillane.validate(w.receipt()).is_clean
    del w
    # Rules under which it does not: bot has no role any more.
    narrower = quillane.default_rules({"alice": "user", "dave": "user", "ci": "executor"})
    raises(RuntimeError, "cannot open log: existing log failed replay verification: AuthorRoleInvalid",
           quillane.Writer, log_dir, narrower)
    # The failed open released the lock.
    assert len(quillane.Writer(log_dir, wider)) == 6


@pytest.mark.parametrize("profiles, declared", [(None, []), ([], []), (["quillane-core-v1"], ["quillane-core-v1"])])
def test_receipts_validate_clean(writer, profiles, declared):
    writer.request("alice", "x")
    data = writer.receipt(profiles)
    assert isinstance(data, bytes) and data == writer.receipt(profiles=profiles)
    doc = json.loads(data)
    assert [p["id"] for p in doc.get("profiles", [])] == declared
    report = quillane.validate(data)
    assert (report.status, report.record_count) == ("clean", 2)
    assert report.head_hash != writer.head  # a digest of every id, not the last one
    assert [(p["id"], p["met"]) for p in report.profiles] == [(d, True) for d in declared]


@pytest.mark.parametrize(
    "profiles, exc, message",
    [
        (["quillane-core-v1", "quillane-core-v1"], ValueError, 'profile "quillane-core-v1" declared more than once'),
        (["nope"], ValueError, 'unknown profile "nope"'),
    ],
)
def test_receipt_declaration_errors(writer, profiles, exc, message):
    raises(exc, message, writer.receipt, profiles)


@pytest.mark.parametrize("profiles", ["quillane-core-v1", [1], 5])
def test_receipt_profiles_must_be_a_list_of_str(writer, profiles):
    with pytest.raises(TypeError) as info:
        writer.receipt(profiles)
    assert info.value.__notes__ == ["while processing 'profiles'"]


def test_records_are_fresh_views(writer):
    writer.request("alice", "x")
    first, second = writer.records, writer.records
    assert first is not second and first[0] is not second[0]
    assert [r.id for r in first] == [r.id for r in second]
