"""The Writer's record surfaces: what each writes, and every refusal in its order."""
import hashlib
import json
import os
import shutil
from types import SimpleNamespace

import pytest

import quillane
from support import (
    ARTIFACT, CI_SEED, SHA, TREE_A, TREE_B, make_rules, payload, public_key, raises, record_of, schema_id,
)

NOT_REGISTERED = 'author "nobody" is not registered in the rules\' author_roles'
EXTENDED = "the extended evaluation ({}) requires both evaluator and basis ('recomputed' or 'declared')"
EXACTLY_ONE = "exactly one of passed, failed, score, blocked, insufficient, stale, or not_run is required"
BAD_ARTIFACT = (
    "invalid artifact {}: scheme must match [a-z0-9][a-z0-9.-]* and the digest must be lowercase hex of the "
    "scheme's length"
)
UNKNOWN = "cd" * 32


def raw(hex_id):
    """An id as payloads hold it: an array of 32 integers."""
    return list(bytes.fromhex(hex_id))


@pytest.fixture(scope="module")
def template(tmp_path_factory):
    """A log with one of each thing the surfaces refer to, accepted or not."""
    directory = tmp_path_factory.mktemp("template") / "log"
    w = quillane.Writer(str(directory), make_rules(), signers={"ci": CI_SEED})
    n = SimpleNamespace(w=w)
    n.r = w.request("alice", "make it fast")
    n.rejected_request = w.request("bot", "providers may not ask")
    n.q = w.requirement("alice", n.r.id, "latency", "p99 under 10 ms")
    n.rejected_requirement = w.requirement("alice", n.r.id, "latency", "again")
    n.c = w.candidate("bot", TREE_A)
    n.rejected_candidate = w.candidate("bot", "")
    n.gone = w.candidate("bot", TREE_B)
    n.e = w.evaluate("ci", n.c.id, "tests", passed=True)
    w.retract("bot", n.gone.id, "wrong tree")
    assert [n.rejected_request.accepted, n.rejected_requirement.accepted, n.rejected_candidate.accepted] == [False] * 3
    del n.w  # releases the lock
    return directory, n


@pytest.fixture
def log(template, tmp_path):
    """A fresh copy of the template log, open in a Writer."""
    directory, commits = template
    shutil.copytree(directory, tmp_path / "log")
    return SimpleNamespace(w=quillane.Writer(str(tmp_path / "log"), make_rules(), signers={"ci": CI_SEED}),
                           **vars(commits))


def refs(n, commit):
    return [(r["type"], r["target"]) for r in record_of(n.w, commit).refs]


# Each case: a call on the fixture, and the ValueError it raises. Where a call
# has several faults, the message shows which check comes first.
REFUSALS = {
    # request
    "request/author": (lambda n: n.w.request("nobody", ""), NOT_REGISTERED),
    # requirement
    "requirement/author": (lambda n: n.w.requirement("nobody", "x", "", ""), NOT_REGISTERED),
    "requirement/id": (lambda n: n.w.requirement("alice", "x", "", ""), 'invalid record id "x"'),
    "requirement/uppercase-id": (
        lambda n: n.w.requirement("alice", n.r.id.upper(), "k", "d"), "invalid record id {r^}"),
    "requirement/unknown": (
        lambda n: n.w.requirement("alice", UNKNOWN, "", ""),
        f'request "{UNKNOWN}" is not an accepted Request in this log'),
    "requirement/rejected": (
        lambda n: n.w.requirement("alice", n.rejected_request.id, "k", "d"),
        "request {rejected_request} is not an accepted Request in this log"),
    "requirement/not-a-request": (
        lambda n: n.w.requirement("alice", n.c.id, "k", "d"), "request {c} is not an accepted Request in this log"),
    "requirement/key": (
        lambda n: n.w.requirement("ci", n.r.id, "", "d", provenance="x"), "key and description must be non-empty"),
    "requirement/description": (
        lambda n: n.w.requirement("alice", n.r.id, "k", ""), "key and description must be non-empty"),
    "requirement/executor": (
        lambda n: n.w.requirement("ci", n.r.id, "k", "d", provenance="x"),
        'author "ci" has role Executor, which cannot author a Requirement'),
    "requirement/verifier": (
        lambda n: n.w.requirement("judge", n.r.id, "k", "d"),
        'author "judge" has role Verifier, which cannot author a Requirement'),
    "requirement/provenance": (
        lambda n: n.w.requirement("alice", n.r.id, "k", "d", provenance="User_Authored"),
        'invalid provenance "User_Authored" (expected user_authored or derived)'),
    "requirement/derived-by-user": (
        lambda n: n.w.requirement("alice", n.r.id, "k", "d", provenance="derived"),
        'provenance "derived" cannot be authored by "alice" (role User): provenance is bound to the author\'s role'),
    "requirement/hyphenated-by-provider": (
        lambda n: n.w.requirement("bot", n.r.id, "k", "d", provenance="user-authored"),
        'provenance "user_authored" cannot be authored by "bot" (role Provider): '
        "provenance is bound to the author's role"),
    "requirement/user-authored-by-system": (
        lambda n: n.w.requirement("sys", n.r.id, "k", "d", provenance="user_authored"),
        'provenance "user_authored" cannot be authored by "sys" (role System): '
        "provenance is bound to the author's role"),
    # select
    "select/author": (lambda n: n.w.select("nobody", "", []), NOT_REGISTERED),
    "select/consider": (lambda n: n.w.select("bot", "o", [], none=True), "consider requires at least one candidate id"),
    "select/consider-id": (lambda n: n.w.select("bot", "o", ["x"]), 'invalid record id "x"'),
    "select/neither": (lambda n: n.w.select("bot", "o", [n.c.id]), "exactly one of choose or none=True is required"),
    "select/both": (
        lambda n: n.w.select("bot", "o", [n.c.id], choose=[n.c.id], none=True),
        "exactly one of choose or none=True is required"),
    "select/choose-id": (lambda n: n.w.select("bot", "o", [n.c.id], choose=["x"]), 'invalid record id "x"'),
    "select/no-uses": (
        lambda n: n.w.select("bot", "o", [n.c.id], choose=[n.c.id], replaces="x"),
        "choose requires uses_eval with at least one evaluation"),
    "select/empty-uses": (
        lambda n: n.w.select("bot", "o", [n.c.id], choose=[n.c.id], uses_eval=[]),
        "uses_eval requires at least one evaluation"),
    "select/uses-id": (
        lambda n: n.w.select("bot", "o", [n.c.id], choose=[n.c.id], uses_eval=["y"], replaces="x"),
        'invalid record id "y"'),
    "select/replaces-id": (
        lambda n: n.w.select("bot", "o", [n.c.id], none=True, replaces="x"), 'invalid record id "x"'),
    "select/payload": (
        lambda n: n.w.select("bot", "", [n.c.id], none=True),
        "invalid payload: selection objective must be non-empty at line 1 column 181"),
    # retract
    "retract/author": (lambda n: n.w.retract("nobody", "x", ""), NOT_REGISTERED),
    "retract/id": (lambda n: n.w.retract("alice", "x", ""), 'invalid record id "x"'),
    # candidate
    "candidate/author": (lambda n: n.w.candidate("nobody", TREE_A, artifacts=["x"]), NOT_REGISTERED),
    "candidate/artifact-first": (
        lambda n: n.w.candidate("bot", TREE_A, algo="md5", artifacts=["x"]),
        'invalid artifact "x" (expected scheme:digest[:name])'),
    "candidate/algo": (
        lambda n: n.w.candidate("bot", TREE_A, algo="SHA1", continues="x", derives_from=["y"]),
        'invalid algo "SHA1"'),
    "candidate/exclusive": (
        lambda n: n.w.candidate("bot", TREE_A, continues="x", derives_from=["y"]),
        "continues, derives_from, and upgrades are mutually exclusive"),
    "candidate/exclusive-empty": (
        lambda n: n.w.candidate("bot", TREE_A, derives_from=[], upgrades="x"),
        "continues, derives_from, and upgrades are mutually exclusive"),
    "candidate/continues-parent": (
        lambda n: n.w.candidate("bot", TREE_A, continues="x"), "continues requires parent (the continued candidate id)"),
    "candidate/parent-first": (
        lambda n: n.w.candidate("bot", TREE_A, continues="x", parent="y"), 'invalid record id "y"'),
    "candidate/continues-id": (
        lambda n: n.w.candidate("bot", TREE_A, continues="x", parent=n.c.id), 'invalid record id "x"'),
    "candidate/parent-alone": (
        lambda n: n.w.candidate("bot", TREE_A, parent=n.c.id, derives_from=["x"]),
        "parent is only valid with continues"),
    "candidate/derives-empty": (
        lambda n: n.w.candidate("bot", TREE_A, derives_from=[]), "derives_from requires at least one id"),
    "candidate/derives-id": (
        lambda n: n.w.candidate("bot", TREE_A, derives_from=[n.c.id, "x"]), 'invalid record id "x"'),
    "candidate/upgrades-id": (lambda n: n.w.candidate("bot", TREE_A, upgrades="x"), 'invalid record id "x"'),
    "candidate/upgrades-unknown": (
        lambda n: n.w.candidate("bot", TREE_A, upgrades=UNKNOWN),
        f'upgrades target "{UNKNOWN}" is not a Candidate in this log'),
    "candidate/upgrades-request": (
        lambda n: n.w.candidate("bot", TREE_A, upgrades=n.r.id), "upgrades target {r} is not a Candidate in this log"),
    "candidate/upgrades-rejected": (
        lambda n: n.w.candidate("bot", TREE_B, upgrades=n.rejected_candidate.id),
        "upgrades target {rejected_candidate} is not an accepted Candidate"),
    "candidate/upgrades-retracted": (
        lambda n: n.w.candidate("bot", TREE_A, upgrades=n.gone.id),
        "upgrades target {gone} is retracted; upgrade a live candidate"),
    "candidate/upgrades-tree": (
        lambda n: n.w.candidate("bot", TREE_A.upper(), upgrades=n.c.id, manifest="/nonexistent"),
        f'refusing upgrade: git_tree "{TREE_A.upper()}" differs from the target\'s tree "{TREE_A}"'),
    "candidate/manifest": (
        lambda n: n.w.candidate("bot", TREE_A, manifest="/nonexistent/tree"),
        "cannot walk tree /nonexistent/tree: No such file or directory"),
    # candidate artifacts
    "artifacts/no-colon": (
        lambda n: n.w.candidate("bot", TREE_A, artifacts=[ARTIFACT, "sha256"]),
        'invalid artifact "sha256" (expected scheme:digest[:name])'),
    "artifacts/empty-scheme": (
        lambda n: n.w.candidate("bot", TREE_A, artifacts=[":" + SHA]),
        f'invalid artifact ":{SHA}" (expected scheme:digest[:name])'),
    "artifacts/empty-digest": (
        lambda n: n.w.candidate("bot", TREE_A, artifacts=["sha256-bytes::name"]),
        'invalid artifact "sha256-bytes::name" (expected scheme:digest[:name])'),
    "artifacts/dict-scheme": (
        lambda n: n.w.candidate("bot", TREE_A, artifacts=[{"digest": SHA}]), "artifact dict requires scheme"),
    "artifacts/dict-digest": (
        lambda n: n.w.candidate("bot", TREE_A, artifacts=[{"scheme": "x", "name": "n"}]),
        "artifact dict requires digest"),
    "artifacts/entry-type": (
        lambda n: n.w.candidate("bot", TREE_A, artifacts=[ARTIFACT, b"x"]),
        "artifacts entries must be 'scheme:digest[:name]' strings or dicts"),
    "artifacts/scheme-case": (
        lambda n: n.w.candidate("bot", TREE_A, artifacts=["Sha256-bytes:" + SHA]),
        BAD_ARTIFACT.format("Sha256-bytes:" + SHA)),
    "artifacts/digest-length": (
        lambda n: n.w.candidate("bot", TREE_A, artifacts=[{"scheme": "git-tree-sha1", "digest": SHA}]),
        BAD_ARTIFACT.format("git-tree-sha1:" + SHA)),
    "artifacts/digest-case": (
        lambda n: n.w.candidate("bot", TREE_A, artifacts=["custom:" + "AB" * 20]),
        BAD_ARTIFACT.format("custom:" + "AB" * 20)),
    # evaluate
    "evaluate/author": (lambda n: n.w.evaluate("nobody", "x", "t"), NOT_REGISTERED),
    "evaluate/candidate-id": (lambda n: n.w.evaluate("ci", "x", "t", attested=True), 'invalid record id "x"'),
    "evaluate/signer": (
        lambda n: n.w.evaluate("bot", n.c.id, "t", attested=True),
        'attested=True requires a signer for "bot": pass signers={...} to Writer'),
    "evaluate/scale": (lambda n: n.w.evaluate("ci", n.c.id, "t", score=3, passed=True), "score requires scale (the denominator)"),
    "evaluate/no-outcome": (lambda n: n.w.evaluate("ci", n.c.id, "t", scale=3), EXACTLY_ONE),
    "evaluate/two-flags": (lambda n: n.w.evaluate("ci", n.c.id, "t", passed=True, failed=True), EXACTLY_ONE),
    "evaluate/score-and-flag": (lambda n: n.w.evaluate("ci", n.c.id, "t", passed=True, score=3, scale=1), EXACTLY_ONE),
    "evaluate/two-fail-closed": (
        lambda n: n.w.evaluate("ci", n.c.id, "t", blocked=True, stale=True, evaluator="x"), EXACTLY_ONE),
    "evaluate/fail-closed-alone": (lambda n: n.w.evaluate("ci", n.c.id, "t", blocked=True), EXTENDED.format("blocked")),
    "evaluate/evaluator-alone": (
        lambda n: n.w.evaluate("ci", n.c.id, "t", passed=True, evaluator="x", artifacts=[]),
        EXTENDED.format("evaluator, artifacts")),
    "evaluate/options-in-order": (
        lambda n: n.w.evaluate(
            "ci", n.c.id, "t", not_run=True, artifacts=["x"], requirements=[], basis="declared", input_hash="x",
            procedure_hash="x", evaluator_version="1"),
        EXTENDED.format("evaluator_version, procedure_hash, input_hash, basis, requirements, artifacts, not_run")),
    "evaluate/requirement-id": (
        lambda n: n.w.evaluate("ci", n.c.id, "t", passed=True, evaluator="", basis="?", requirements=["x"]),
        'invalid record id "x"'),
    "evaluate/requirement-kind": (
        lambda n: n.w.evaluate("ci", n.c.id, "t", passed=True, evaluator="x", basis="declared", requirements=[n.c.id]),
        "requirement {c!} is not an accepted Requirement in this log"),
    "evaluate/requirement-rejected": (
        lambda n: n.w.evaluate(
            "ci", n.c.id, "t", passed=True, evaluator="x", basis="declared",
            requirements=[n.q.id, n.rejected_requirement.id]),
        "requirement {rejected_requirement!} is not an accepted Requirement in this log"),
    "evaluate/uses-id": (lambda n: n.w.evaluate("ci", n.c.id, "t", passed=True, uses=[n.r.id, "x"]), 'invalid record id "x"'),
    "evaluate/attested-v1": (
        lambda n: n.w.evaluate("ci", n.c.id, "t", passed=True, attested=True),
        "attested=True requires the extended shape: give evaluator and basis"),
    "evaluate/evaluator": (
        lambda n: n.w.evaluate("ci", n.c.id, "t", passed=True, evaluator="", basis="?", procedure_hash="x"),
        "evaluator must be non-empty"),
    "evaluate/basis": (
        lambda n: n.w.evaluate("ci", n.c.id, "t", passed=True, evaluator="x", basis="Declared", procedure_hash="x"),
        "invalid basis \"Declared\" (expected 'recomputed' or 'declared')"),
    "evaluate/procedure-hash": (
        lambda n: n.w.evaluate(
            "ci", n.c.id, "t", passed=True, evaluator="x", basis="declared", procedure_hash="AB" * 32, input_hash="x"),
        f'invalid procedure_hash "{"AB" * 32}" (expected 64 hex chars)'),
    "evaluate/input-hash": (
        lambda n: n.w.evaluate(
            "ci", n.c.id, "t", passed=True, evaluator="x", basis="declared", input_hash=f" {SHA}", artifacts=["x"]),
        f'invalid input_hash " {SHA}" (expected 64 hex chars)'),
    "evaluate/artifacts": (
        lambda n: n.w.evaluate("ci", n.c.id, "t", passed=True, evaluator="x", basis="declared", artifacts=["x"]),
        'invalid artifact "x" (expected scheme:digest[:name])'),
    "evaluate/payload": (
        lambda n: n.w.evaluate("ci", n.c.id, "t", score=3, scale=13),
        "invalid payload: score scale above 12 at line 1 column 187"),
    "evaluate/criterion": (
        lambda n: n.w.evaluate("ci", n.c.id, "", passed=True),
        "invalid payload: evaluation criterion must be non-empty at line 1 column 180"),
}


def expand(message, n):
    """Fills {name} with the fixture's id quoted, {name!} with the bare id and
    {name^} with the id in upper case, quoted."""
    for name, value in vars(n).items():
        if hasattr(value, "id"):
            for mark, text in (("!", value.id), ("^", f'"{value.id.upper()}"'), ("", f'"{value.id}"')):
                message = message.replace("{" + name + mark + "}", text)
    return message


@pytest.mark.parametrize("case", REFUSALS)
def test_refusals_leave_the_log_alone(log, case):
    call, message = REFUSALS[case]
    before = (len(log.w), log.w.head)
    raises(ValueError, expand(message, log), call, log)
    assert (len(log.w), log.w.head) == before


CONVERSIONS = [
    (lambda w: w.request(b"alice", "x"), TypeError, "author"),
    (lambda w: w.request("alice", "\ud800"), UnicodeEncodeError, "objective"),
    (lambda w: w.requirement("alice", 5, "k", "d"), TypeError, "request"),
    (lambda w: w.requirement("alice", "x", "k", "d", required=1), TypeError, "required"),
    (lambda w: w.requirement("alice", "x", "k", "d", expected_evidence=[]), TypeError, "expected_evidence"),
    (lambda w: w.select("bot", "o", "abc", none=True), TypeError, "consider"),
    (lambda w: w.select("bot", "o", None, none=True), TypeError, "consider"),
    (lambda w: w.select("bot", "o", None, rationale=5), TypeError, "consider"),
    (lambda w: w.select("bot", "o", ["x"], none=1), TypeError, "none"),
    (lambda w: w.select("bot", "o", ["x"], choose="x"), TypeError, "choose"),
    (lambda w: w.select("bot", "o", ["x"], uses_eval=[1]), TypeError, "uses_eval"),
    (lambda w: w.retract("alice", "x", None), TypeError, "reason"),
    (lambda w: w.candidate("bot", None), TypeError, "git_tree"),
    (lambda w: w.candidate("bot", TREE_A, derives_from="x"), TypeError, "derives_from"),
    (lambda w: w.candidate("bot", TREE_A, manifest=b"/tmp"), TypeError, "manifest"),
    (lambda w: w.candidate("bot", TREE_A, artifacts=(ARTIFACT,)), TypeError, "artifacts"),
    (lambda w: w.candidate("bot", TREE_A, artifacts=ARTIFACT), TypeError, "artifacts"),
    (lambda w: w.candidate("bot", TREE_A, artifacts=[{"scheme": 1, "digest": SHA}]), TypeError, "artifacts"),
    (lambda w: w.candidate("bot", TREE_A, artifacts=[{"scheme": "x", "digest": SHA, "name": 1}]), TypeError,
     "artifacts"),
    (lambda w: w.evaluate("ci", "x", "t", passed=1), TypeError, "passed"),
    (lambda w: w.evaluate("ci", "x", "t", score=1.0, scale=1), TypeError, "score"),
    (lambda w: w.evaluate("ci", "x", "t", score=2**63, scale=1), OverflowError, "score"),
    (lambda w: w.evaluate("ci", "x", "t", score=1, scale=256), OverflowError, "scale"),
    (lambda w: w.evaluate("ci", "x", "t", score=1, scale=-1), OverflowError, "scale"),
    (lambda w: w.evaluate("ci", "x", "t", passed=True, requirements="x"), TypeError, "requirements"),
    (lambda w: w.evaluate("ci", "x", "t", passed=True, artifacts=(ARTIFACT,)), TypeError, "artifacts"),
    # Arguments convert in the order of the parameters.
    (lambda w: w.evaluate(5, "x", "t", artifacts=(ARTIFACT,)), TypeError, "author"),
    (lambda w: w.evaluate("ci", "x", "t", artifacts=(ARTIFACT,), attested=1), TypeError, "artifacts"),
    (lambda w: w.candidate(5, TREE_A, artifacts=(ARTIFACT,)), TypeError, "author"),
]


@pytest.mark.parametrize("call, exc, name", CONVERSIONS)
def test_conversion_errors_name_the_argument(writer, call, exc, name):
    with pytest.raises(exc) as info:
        call(writer)
    assert info.value.__notes__ == [f"while processing '{name}'"]
    assert len(writer) == 0


@pytest.mark.parametrize(
    "call",
    [
        lambda w: w.request("alice"),
        lambda w: w.request("alice", "x", "y"),
        lambda w: w.requirement("alice", "x", "k", "d", True),
        lambda w: w.select("bot", "o", ["x"], ["x"]),
        lambda w: w.candidate("bot", TREE_A, None),
        lambda w: w.evaluate("ci", "x", "t", True),
        lambda w: w.retract("alice", "x"),
        lambda w: w.request("alice", "x", bogus=1),
    ],
)
def test_call_shapes(writer, call):
    with pytest.raises(TypeError):
        call(writer)


def test_request(log):
    commit = log.w.request("alice", "make it faster")
    record = record_of(log.w, commit)
    assert (commit.accepted, record.kind, record.schema) == (True, "Request", schema_id("quillane.request.v1"))
    assert record.refs == []
    rules = json.loads(log.w.receipt())["rules"]
    assert payload(log.w, commit) == {
        "attachments": [], "objective": "make it faster", "parent_request_id": None, "scope": rules["space"],
    }
    assert log.rejected_request.reason == "AuthorRoleInvalid"


@pytest.mark.parametrize(
    "author, kwargs, provenance",
    [
        ("alice", {}, "user_authored"),
        ("alice", {"provenance": "user-authored"}, "user_authored"),
        ("bot", {}, "derived"),
        ("sys", {"provenance": "derived"}, "derived"),
    ],
)
def test_requirement_provenance(log, author, kwargs, provenance):
    commit = log.w.requirement(author, log.r.id, f"key-{author}", "d", **kwargs)
    assert commit.accepted
    assert payload(log.w, commit)["provenance"] == provenance


def test_requirement(log):
    commit = log.w.requirement("alice", log.r.id, "memory", "under 1 GiB", required=False, expected_evidence="rss")
    record = record_of(log.w, commit)
    assert (record.kind, record.schema) == ("Requirement", schema_id("quillane.requirement.v1"))
    assert refs(log, commit) == [("Cause", log.r.id)]
    assert payload(log.w, commit) == {
        "description": "under 1 GiB", "expected_evidence": "rss", "key": "memory",
        "provenance": "user_authored", "required": False,
    }
    # A key already in use commits as a rejected record; retracting the
    # requirement releases the key.
    assert log.rejected_requirement.reason == "RequirementInvalid"
    assert log.w.retract("alice", log.q.id, "reworded").accepted
    assert log.w.requirement("alice", log.r.id, "latency", "p99 under 5 ms").accepted


def test_select(log):
    other = log.w.candidate("bot", TREE_B)
    chosen = log.w.select(
        "bot", "pick", [other.id, log.c.id], choose=[log.c.id], uses_eval=[log.e.id], rationale="faster")
    record = record_of(log.w, chosen)
    assert (chosen.accepted, record.kind, record.schema) == (True, "Selection", schema_id("quillane.selection.v1"))
    assert refs(log, chosen) == [("Use", log.e.id), ("Require", log.c.id)]
    assert payload(log.w, chosen) == {
        "considered": [raw(other.id), raw(log.c.id)], "objective": "pick",
        "outcome": {"selected": {"candidates": [raw(log.c.id)]}}, "rationale": "faster",
    }
    nothing = log.w.select("bot", "pick", [other.id], none=True, uses_eval=[log.e.id])
    assert refs(log, nothing) == []
    assert payload(log.w, nothing)["outcome"] == "none" and payload(log.w, nothing)["rationale"] is None
    again = log.w.select("bot", "pick", [log.c.id], choose=[log.c.id], uses_eval=[log.e.id], replaces=chosen.id)
    assert again.accepted
    assert refs(log, again) == [("Use", log.e.id), ("Require", log.c.id), ("Replace", chosen.id)]
    other_objective = log.w.select("bot", "other", [log.c.id], choose=[log.c.id], uses_eval=[log.e.id],
                                   replaces=chosen.id)
    assert other_objective.reason == "ReaffirmationInvalid"


def test_retract(log):
    commit = log.w.retract("alice", log.e.id, "flaky run")
    record = record_of(log.w, commit)
    assert (commit.accepted, record.kind, record.schema) == (True, "Retraction", schema_id("quillane.retraction.v1"))
    assert refs(log, commit) == [("Cause", log.e.id)]
    assert payload(log.w, commit) == {"reason": "flaky run", "target_id": raw(log.e.id)}
    # Refusals of the verifier are committed, never raised.
    assert log.w.retract("alice", UNKNOWN, "not here").reason == "RefUnresolved"
    assert log.w.retract("ci", log.c.id, "executors may not").reason == "AuthorRoleInvalid"
    assert log.w.retract("alice", log.w.records[1].id, "a verdict").reason == "InvalidPayload"
    assert log.w.retract("alice", commit.id, "a retraction").reason == "InvalidPayload"
    assert log.w.retract("bot", log.r.id, "not the author").reason == "AuthorRoleInvalid"


def test_candidate_bases(log):
    w = log.w
    root = w.candidate("bot", "b" * 64, git_commit="f" * 64, algo="sha256", note="first try")
    assert root.accepted
    assert payload(w, root) == {
        "basis": "root", "note": "first try", "parent": None,
        "source": {"binding": "reported", "git": {"algo": "sha256", "commit": "f" * 64, "tree": "b" * 64},
                   "manifest_hash": None},
    }
    assert refs(log, root) == []
    record = record_of(w, root)
    assert (record.kind, record.schema) == ("Candidate", schema_id("quillane.candidate.v1"))

    anchor = w.select("bot", "pick", [log.c.id], choose=[log.c.id], uses_eval=[log.e.id])
    follow = w.candidate("bot", TREE_B, continues=anchor.id, parent=log.c.id)
    assert follow.accepted
    assert (payload(w, follow)["basis"], payload(w, follow)["parent"]) == ("continuation", raw(log.c.id))
    assert refs(log, follow) == [("Cause", anchor.id)]

    merged = w.candidate("bot", TREE_B, derives_from=[root.id, log.c.id, root.id])
    assert merged.accepted and payload(w, merged)["basis"] == "derivation"
    assert refs(log, merged) == sorted({("Cause", root.id), ("Cause", log.c.id)})

    upgraded = w.candidate("bot", TREE_A, upgrades=log.c.id)
    assert upgraded.accepted
    assert (payload(w, upgraded)["basis"], payload(w, upgraded)["parent"]) == ("derivation", None)
    assert refs(log, upgraded) == [("Cause", log.c.id)]


def manifest_hash(entries):
    doc = {path: {"mode": mode, "sha256": hashlib.sha256(content).hexdigest()} for path, mode, content in entries}
    return list(hashlib.sha256(json.dumps(doc, sort_keys=True, separators=(",", ":")).encode()).digest())


def test_candidate_bound_by_manifest(log, tmp_path):
    tree = tmp_path / "tree"
    (tree / "bin").mkdir(parents=True)
    (tree / ".git").mkdir()
    (tree / ".git" / "HEAD").write_text("ignored")
    (tree / "README").write_bytes(b"hello\n")
    (tree / "bin" / "run").write_bytes(b"#!/bin/sh\n")
    os.chmod(tree / "bin" / "run", 0o755)
    os.symlink("README", tree / "link")
    expected = manifest_hash([
        ("README", "100644", b"hello\n"), ("bin/run", "100755", b"#!/bin/sh\n"), ("link", "120000", b"README"),
    ])
    bound = log.w.candidate("bot", TREE_A, manifest=str(tree))
    assert bound.accepted
    assert payload(log.w, bound)["source"] == {
        "binding": "manifest", "git": {"algo": "sha1", "commit": None, "tree": TREE_A}, "manifest_hash": expected,
    }
    # An upgrade with the same tree binds the same target by its manifest.
    upgraded = log.w.candidate("bot", TREE_A, upgrades=log.c.id, manifest=str(tree))
    assert upgraded.accepted
    assert payload(log.w, upgraded)["basis"] == "derivation"
    assert payload(log.w, upgraded)["source"]["binding"] == "manifest"
    assert refs(log, upgraded) == [("Cause", log.c.id)]
    empty = tmp_path / "empty"
    empty.mkdir()
    assert payload(log.w, log.w.candidate("bot", TREE_A, manifest=str(empty)))["source"]["manifest_hash"] == list(
        hashlib.sha256(b"{}").digest())


@pytest.mark.parametrize(
    "artifacts, written",
    [
        (None, "absent"),
        ([], []),
        (
            [ARTIFACT, {"scheme": "sha256-bytes", "digest": SHA}, "git-tree-sha1:" + "cd" * 20],
            [("git-tree-sha1", "cd" * 20, None), ("sha256-bytes", SHA, None)],
        ),
        (
            [ARTIFACT + ":b", ARTIFACT + ":a", {"scheme": "sha256-bytes", "digest": SHA, "name": "a"},
             {"scheme": "sha256-bytes", "digest": SHA, "name": None}, ARTIFACT + ":"],
            [("sha256-bytes", SHA, None), ("sha256-bytes", SHA, "a"), ("sha256-bytes", SHA, "b")],
        ),
        (["custom:" + "0f" * 64 + ":name:with:colons"], [("custom", "0f" * 64, "name:with:colons")]),
    ],
    ids=["none", "empty", "dedup-across-forms", "names-sort-after-none", "name-keeps-colons"],
)
def test_candidate_artifacts(log, artifacts, written):
    commit = log.w.candidate("bot", TREE_A, artifacts=artifacts)
    assert commit.accepted
    data = payload(log.w, commit)
    if written == "absent":
        assert "artifacts" not in data
    else:
        assert data["artifacts"] == [{"digest": d, "name": n, "scheme": s} for s, d, n in written]


def test_evaluate_v1(log):
    w = log.w
    passed = w.evaluate("ci", log.c.id, "tests", passed=True)
    record = record_of(w, passed)
    assert (record.kind, record.schema) == ("Evaluation", schema_id("quillane.evaluation.v1"))
    assert payload(w, passed) == {"candidate": raw(log.c.id), "criterion": "tests", "outcome": "passed",
                                  "procedure": None}
    assert refs(log, passed) == [("Use", log.c.id)]
    failed = w.evaluate("ci", log.c.id, "tests", failed=True, procedure="pytest -q", uses=[log.r.id, log.r.id])
    assert (payload(w, failed)["outcome"], payload(w, failed)["procedure"]) == ("failed", "pytest -q")
    assert refs(log, failed) == sorted([("Use", log.c.id), ("Use", log.r.id)])
    scored = w.evaluate("ci", log.c.id, "speed", score=-3, scale=2)
    assert payload(w, scored)["outcome"] == {"scored": {"scale": 2, "value": -3}}
    # A scale without a score is ignored.
    assert payload(w, w.evaluate("ci", log.c.id, "x", passed=True, scale=9))["outcome"] == "passed"


@pytest.mark.parametrize(
    "flags, outcome",
    [
        ({"passed": True}, "passed"),
        ({"failed": True}, "failed"),
        ({"blocked": True}, "blocked"),
        ({"insufficient": True}, "insufficient"),
        ({"stale": True}, "stale"),
        ({"not_run": True}, "not_run"),
        ({"score": 7, "scale": 3}, {"scored": {"scale": 3, "value": 7}}),
    ],
)
def test_evaluate_v2_outcomes(log, flags, outcome):
    commit = log.w.evaluate("ci", log.c.id, "tests", evaluator="bench", basis="declared", **flags)
    assert commit.accepted
    assert record_of(log.w, commit).schema == schema_id("quillane.evaluation.v2")
    assert payload(log.w, commit) == {
        "basis": "declared", "candidate": raw(log.c.id), "criterion": "tests",
        "evaluator": {"id": "bench", "input_hash": None, "procedure_hash": None, "version": None},
        "evidence": [], "outcome": outcome, "procedure": None, "requirements": [],
    }


def test_evaluate_v2_with_everything(log):
    w = log.w
    second = w.requirement("bot", log.r.id, "memory", "under 1 GiB")
    a, b = sorted([log.q.id, second.id])
    commit = w.evaluate(
        "ci", log.c.id, "tests", passed=True, evaluator="bench", evaluator_version="2.1", basis="recomputed",
        procedure_hash="01" * 32, input_hash="02" * 32, requirements=[b, a, b],
        artifacts=[ARTIFACT, {"scheme": "sha256-bytes", "digest": SHA}], uses=[log.r.id], procedure="make bench",
    )
    assert commit.accepted
    assert payload(w, commit) == {
        "basis": "recomputed", "candidate": raw(log.c.id), "criterion": "tests",
        "evaluator": {"id": "bench", "input_hash": [2] * 32, "procedure_hash": [1] * 32, "version": "2.1"},
        "evidence": [{"digest": SHA, "name": None, "scheme": "sha256-bytes"}], "outcome": "passed",
        "procedure": "make bench", "requirements": [raw(a), raw(b)],
    }
    assert refs(log, commit) == sorted([("Use", log.c.id), ("Use", a), ("Use", b), ("Use", log.r.id)])


def test_evaluate_attested(log, tmp_path):
    # Without a pinned key the verifier refuses an attested evaluation...
    unpinned = log.w.evaluate("ci", log.c.id, "tests", passed=True, evaluator="ci", basis="recomputed", attested=True)
    assert (unpinned.accepted, unpinned.reason) == (False, "SignatureInvalid")
    record = record_of(log.w, unpinned)
    assert (record.signed, record.schema) == (True, schema_id("quillane.evaluation.attested.v1"))
    # ...and with the signer's key pinned it accepts it, at a stronger class.
    rules = make_rules(author_keys={"ci": [public_key(CI_SEED, tmp_path)]})
    w = quillane.Writer(str(tmp_path / "pinned"), rules, signers={"ci": CI_SEED})
    candidate = w.candidate("bot", TREE_A)
    attested = w.evaluate("ci", candidate.id, "tests", passed=True, evaluator="ci", basis="recomputed", attested=True)
    plain = w.evaluate("ci", candidate.id, "tests", passed=True, evaluator="ci", basis="recomputed")
    assert attested.accepted and plain.accepted
    assert record_of(w, attested).schema == schema_id("quillane.evaluation.attested.v1")
    assert record_of(w, plain).schema == schema_id("quillane.evaluation.v2")
    assert payload(w, attested) == payload(w, plain)
    assert quillane.validate(w.receipt()).is_clean
