"""read(), validate() and the read-only views Receipt, Record, Report, Commit."""
import json

import pytest

import quillane
from support import BOT_SEED, ZERO, Story, canonical, payload, raises, record_id, schema_id

STORY_TEXT = """\
status:          TAINTED
spec version:    0.4
records:         22
checked:         22
last time:       22
head hash:       575e4ef15cc1a07ffefe9098fb7574b1dbc564eeb54252d4f8cc69fad3ecee49
rules hash:      c2cdcf1380fc8375638a66230a7aa3e613fc7c72b8933587553aad5e0e527708
retracted (2):
  533282a3bbc5c454331b228354c96e0f1636858cbea731c6a83525229c77afef
  c547507bb358d692e932d80aa3fba028c6d7c6321a285170e28b51999936ddda
tainted (1):
  47142c7d8557b2e2837d071590e7005f8d745f04c99f55c62ca1ef8504c8725c
standing-compromised (1):
  c547507bb358d692e932d80aa3fba028c6d7c6321a285170e28b51999936ddda
unsound selections (1):
  47142c7d8557b2e2837d071590e7005f8d745f04c99f55c62ca1ef8504c8725c
restorations (1):
  47142c7d8557b2e2837d071590e7005f8d745f04c99f55c62ca1ef8504c8725c <- 
    c0f93dd2b64387f2942ae26324c9c0069891985d64bc41dfef04a3640f34c86b
profile quillane-core-v1: CONFORMANT (declared, declaration matches)
  hash:          93f74fd1d55213abc7e11ad911d38522283a7f212dd955b7e2b1bd827899dc8c
  ok   B1: status Tainted
  ok   B2: 5 registered author role(s)
  ok   B3: Candidate=Reported, Evaluation=Reported, Selection=Inferred
  ok   B4: max_context_records 200
  ok   B5: admin_retraction_actors [alice], reaffirmation_actors []
  ok   B6: candidates: 0 manifest-bound, 3 reported
profile nope: UNKNOWN (required)
"""
CORE_HASH = "93f74fd1d55213abc7e11ad911d38522283a7f212dd955b7e2b1bd827899dc8c"


@pytest.fixture
def story(writer):
    return Story(writer)


@pytest.fixture
def receipt_bytes(story):
    return story.writer.receipt(["quillane-core-v1"])


def test_report_of_a_small_log_prints_exactly(story, receipt_bytes):
    report = quillane.validate(receipt_bytes, require_profile="nope")
    assert str(report) == STORY_TEXT
    assert repr(report) == 'Report(status="tainted", records=22, spec_version="0.4")'


def test_report_getters(story, receipt_bytes):
    report = quillane.validate(receipt_bytes, require_profile=["nope"])
    assert (report.status, report.is_clean, report.reason, report.problem) == ("tainted", False, None, None)
    assert (report.spec_version, report.record_count, report.checked_records, report.last_time) == ("0.4", 22, 22, 22)
    assert report.head_hash == "575e4ef15cc1a07ffefe9098fb7574b1dbc564eeb54252d4f8cc69fad3ecee49"
    assert report.retracted == sorted([story.e1.id, story.c0.id])
    assert report.tainted == [story.s1.id]
    assert list(report.standing) == ["compromised", "unsound", "restorations"]
    assert report.standing == {
        "compromised": [story.c0.id],
        "unsound": [story.s1.id],
        "restorations": {story.s1.id: [story.s2.id]},
    }
    core, unknown = report.profiles
    assert list(core) == ["id", "hash", "status", "declared", "declaration_matches", "met", "clauses"]
    assert (core["id"], core["hash"], core["status"]) == ("quillane-core-v1", CORE_HASH, "Conformant")
    assert (core["declared"], core["declaration_matches"], core["met"]) == (True, True, True)
    assert core["clauses"][0] == {"id": "B1", "passed": True, "detail": "status Tainted"}
    assert [list(c) for c in core["clauses"]] == [["id", "passed", "detail"]] * 6
    assert unknown == {
        "id": "nope", "hash": ZERO, "status": "Unknown", "declared": False,
        "declaration_matches": None, "met": False, "clauses": [],
    }
    # Every getter builds a fresh value.
    assert report.standing is not report.standing and report.profiles == report.profiles


def test_a_clean_report_has_seven_lines(writer):
    writer.request("alice", "x")
    report = quillane.validate(writer.receipt())
    assert (report.status, report.is_clean, report.profiles) == ("clean", True, [])
    assert [line[:17] for line in str(report).splitlines()] == [
        "status:          ", "spec version:    ", "records:         ", "checked:         ",
        "last time:       ", "head hash:       ", "rules hash:      ",
    ]


def test_a_false_declaration_reports_a_mismatch(writer):
    writer.request("alice", "x")
    doc = json.loads(writer.receipt(["quillane-core-v1"]))
    doc["profiles"][0]["version"] = 2
    report = quillane.validate(canonical(doc))
    (core,) = report.profiles
    assert (core["declared"], core["declaration_matches"], core["met"]) == (True, False, False)
    assert "profile quillane-core-v1: CONFORMANT (declared, DECLARATION MISMATCH)\n" in str(report)
    assert report.status == "clean"


def test_validating_unusable_bytes_gives_an_invalid_report():
    report = quillane.validate(b"")
    assert (report.status, report.is_clean, report.reason, report.spec_version) == ("invalid", False, None, "")
    assert report.problem == "unparseable receipt: EOF while parsing a value at line 1 column 0"
    assert (report.record_count, report.checked_records, report.last_time) == (0, 0, 0)
    assert (report.head_hash, report.rules_hash) == (ZERO, ZERO)
    assert (report.retracted, report.tainted, report.profiles) == ([], [], [])
    assert report.standing == {"compromised": [], "unsound": [], "restorations": {}}
    assert repr(report) == 'Report(status="invalid", records=0, spec_version="")'
    assert str(report).splitlines()[:3] == [
        "status:          INVALID",
        "problem:         unparseable receipt: EOF while parsing a value at line 1 column 0",
        "spec version:    ",
    ]


@pytest.mark.parametrize(
    "require, ids",
    [
        (None, []),
        ([], []),
        ("quillane-core-v1", ["quillane-core-v1"]),
        (["quillane-core-v1"], ["quillane-core-v1"]),
        (("quillane-core-v1", "nope"), ["quillane-core-v1", "nope"]),
        (["quillane-core-v1", "quillane-core-v1"], ["quillane-core-v1"]),
    ],
)
def test_require_profile_forms(writer, require, ids):
    writer.request("alice", "x")
    report = quillane.validate(writer.receipt(), require_profile=require)
    assert [p["id"] for p in report.profiles] == ids
    assert all(not p["declared"] for p in report.profiles)


@pytest.mark.parametrize("require", [5, [5], ["quillane-core-v1", None], b"quillane-core-v1", {"a": 1}, 1.5])
def test_require_profile_refuses_other_values(writer, require):
    raises(
        ValueError, "require_profile must be a profile id (str) or a list of ids",
        quillane.validate, writer.receipt(), require_profile=require,
    )


@pytest.mark.parametrize("function", [quillane.read, quillane.validate])
@pytest.mark.parametrize("data", ["{}", bytearray(b"{}"), memoryview(b"{}"), None])
def test_receipt_bytes_must_be_bytes(function, data):
    with pytest.raises(TypeError) as info:
        function(data)
    assert info.value.__notes__ == ["while processing 'data'"]


@pytest.mark.parametrize(
    "data, message",
    [
        (b"", "not a parseable receipt: EOF while parsing a value at line 1 column 0"),
        (b'{"spec_version":"0.4"}', "not a parseable receipt: missing field `rules` at line 1 column 22"),
    ],
)
def test_read_refuses_unparseable_bytes(data, message):
    raises(ValueError, message, quillane.read, data)


def test_read_gives_the_records_as_written(story, receipt_bytes):
    receipt = quillane.read(receipt_bytes)
    w = story.writer
    assert repr(receipt) == 'Receipt(spec_version="0.4", records=22)'
    assert (len(receipt), receipt.spec_version) == (22, "0.4")
    assert [r.id for r in receipt.records] == [r.id for r in w.records]
    assert [repr(r) for r in receipt.records] == [repr(r) for r in w.records]
    assert receipt.records is not receipt.records


def test_record_getters_and_repr(story):
    w = story.writer
    candidate, verdict = w.records[4:6]
    assert repr(candidate) == 'Record(kind="Candidate", time=5, id=9931898e4770...)'
    assert (candidate.id, candidate.kind, candidate.time) == (story.c1.id, "Candidate", 5)
    assert (candidate.author_id, candidate.author_type, candidate.signed) == ("bot", "Provider", False)
    assert (candidate.evidence, candidate.schema) == ("Reported", schema_id("quillane.candidate.v1"))
    assert candidate.refs == []
    assert json.loads(candidate.payload_json) == {
        "artifacts": [{"digest": "ab" * 32, "name": None, "scheme": "sha256-bytes"}],
        "basis": "root", "note": None, "parent": None,
        "source": {"binding": "reported", "git": {"algo": "sha1", "commit": None, "tree": "a" * 40},
                   "manifest_hash": None},
    }
    assert (verdict.kind, verdict.author_type, verdict.evidence, verdict.time) == (
        "Verdict", "Verifier", "Deterministic", 6)
    assert verdict.schema == schema_id("quillane.verdict.v1")
    assert verdict.refs == [{"type": "Cause", "target": story.c1.id}]
    assert list(verdict.refs[0]) == ["type", "target"]
    assert json.loads(verdict.payload_json) == {"reason": None, "result": "Accept"}
    selection = w.records[8]
    assert selection.refs == [
        {"type": "Use", "target": story.e1.id},
        {"type": "Require", "target": story.c1.id},
    ]


def test_payload_json_replaces_invalid_utf8(writer):
    commit = writer.request("alice", "x")
    doc = json.loads(writer.receipt())
    data = doc["records"][0]["data"]
    at = bytes(data).index(b'"x"') + 1
    data[at] = 0xFF  # a forged, non-UTF-8 payload byte: read does not verify
    record = quillane.read(canonical(doc)).records[0]
    assert record.id == commit.id
    assert json.loads(record.payload_json)["objective"] == "\ufffd"


def test_a_03_receipt_reads_and_validates(writer):
    writer.request("alice", "x")
    doc = json.loads(writer.receipt())
    doc["spec_version"] = "0.3"
    receipt = quillane.read(canonical(doc))
    assert (receipt.spec_version, repr(receipt)) == ("0.3", 'Receipt(spec_version="0.3", records=2)')
    assert quillane.validate(canonical(doc)).spec_version == "0.3"


def test_commit_views(writer):
    accepted = writer.request("alice", "x")
    rejected = writer.request("bot", "y")
    assert repr(accepted) == f"Commit(id={accepted.id[:12]}..., accepted=True, reason=None)"
    assert (accepted.accepted, accepted.result, accepted.reason) == (True, "accept", None)
    assert repr(rejected) == f'Commit(id={rejected.id[:12]}..., accepted=False, reason=Some("AuthorRoleInvalid"))'
    assert (rejected.accepted, rejected.result, rejected.reason) == (False, "reject", "AuthorRoleInvalid")


@pytest.mark.parametrize("cls", [quillane.Receipt, quillane.Record, quillane.Report, quillane.Commit])
def test_views_have_no_constructor(cls):
    with pytest.raises(TypeError):
        cls()


def test_views_are_read_only(writer):
    commit = writer.request("alice", "x")
    record = writer.records[0]
    report = quillane.validate(writer.receipt())
    for view, name in [(commit, "accepted"), (record, "kind"), (report, "status")]:
        with pytest.raises(AttributeError):
            setattr(view, name, None)


def forge_payload(doc):
    data = doc["records"][2]["data"]
    data[bytes(data).index(b"aaaa")] = ord("b")  # the stored id no longer matches


def forge_signature(doc):
    """Flips a signature bit and recomputes the ids, so only the signature is wrong."""
    subject, verdict = doc["records"][2:4]
    subject["author"]["signature"]["sig"][0] ^= 1
    subject["id"] = record_id(subject)
    verdict["refs"][0]["target"] = subject["id"]
    verdict["id"] = record_id(verdict)
    del doc["records"][4:]


def forge_rules(doc):
    del doc["rules"]["author_roles"]["bot"]


@pytest.mark.parametrize(
    "forge, reason",
    [(forge_payload, "InvalidPayload"), (forge_signature, "SignatureInvalid"), (forge_rules, "AuthorRoleInvalid")],
)
def test_a_forged_receipt_reads_but_does_not_verify(log_dir, rules, forge, reason):
    w = quillane.Writer(log_dir, rules, signers={"bot": BOT_SEED})
    request = w.request("alice", "x")
    candidate = w.candidate("bot", "a" * 40)
    w.request("alice", "y")
    doc = json.loads(w.receipt())
    assert [record_id(r) for r in doc["records"]] == [r["id"] for r in doc["records"]]
    forge(doc)
    data = canonical(doc)
    receipt = quillane.read(data)
    report = quillane.validate(data)
    assert (report.status, report.reason, report.problem) == ("invalid", reason, None)
    assert f"reject reason:   {reason}\n" in str(report)
    message = f"log does not verify: Some({reason})"
    raises(ValueError, message, receipt.frontier)
    raises(ValueError, message, receipt.selected, "x")
    for query in ("descent", "descendants", "siblings", "standing", "evidence"):
        raises(ValueError, message, getattr(receipt, query), candidate.id)
    # Arguments are checked before the receipt is replayed.
    raises(ValueError, 'invalid record id "x"', receipt.standing, "x")
    with pytest.raises(TypeError) as info:
        receipt.selected(5)
    assert info.value.__notes__ == ["while processing 'objective'"]
    assert payload(receipt, request)["objective"] == "x"
