"""The seven named queries, on a live Writer and on a read() Receipt."""
import pytest

import quillane
from support import ARTIFACT, SHA, Story, make_rules, raises

ID_QUERIES = ["descent", "descendants", "siblings", "standing", "evidence"]


@pytest.fixture(scope="module")
def story(tmp_path_factory):
    w = quillane.Writer(str(tmp_path_factory.mktemp("queries") / "log"), make_rules())
    s = Story(w)
    s.rejected = w.request("bot", "providers may not ask")
    s.receipt = quillane.read(w.receipt())
    return s


def node(commit, kind, standing="n/a", tainted=False, retracted=False, artifacts=None):
    n = {"id": commit.id, "kind": kind, "retracted": retracted, "standing": standing, "tainted": tainted}
    if artifacts:
        n["artifacts"] = artifacts
    return n


ARTIFACTS = [{"digest": SHA, "name": None, "scheme": ARTIFACT.split(":")[0]}]


def answer(source, query, *args):
    try:
        return getattr(source, query)(*args)
    except ValueError as e:
        return ("ValueError", str(e))


def test_writer_and_receipt_answer_alike(story):
    w, receipt = story.writer, story.receipt
    ids = [r.id for r in w.records] + ["cd" * 32]
    for query in ID_QUERIES:
        for record_id in ids:
            assert answer(w, query, record_id) == answer(receipt, query, record_id), (query, record_id)
    assert w.frontier() == receipt.frontier()
    for objective in ["pick", "PICK", "make it fast", ""]:
        assert w.selected(objective) == receipt.selected(objective)


def test_descent_of_a_restored_continuation(story):
    s = story
    assert s.writer.descent(s.c2.id) == {
        "line": [
            {"node": node(s.s1, "Selection", "unsound", tainted=True), "via": "continuation-anchor"},
            {"node": node(s.c1, "Candidate", "sound", artifacts=ARTIFACTS), "via": "parent"},
        ],
        "target": node(s.c2, "Candidate", "sound"),
    }
    assert s.writer.descent(s.c1.id)["line"] == []


def test_descendants_and_siblings(story):
    s = story
    assert s.writer.descendants(s.s1.id) == {
        "descendants": [node(s.c2, "Candidate", "sound")],
        "target": node(s.s1, "Selection", "unsound", tainted=True),
    }
    assert s.writer.descendants(s.c1.id)["descendants"] == [node(s.c2, "Candidate", "sound")]
    assert s.writer.descendants(s.c2.id)["descendants"] == []
    assert s.writer.siblings(s.c2.id) == {"siblings": [], "target": node(s.c2, "Candidate", "sound")}


def test_frontier_keeps_retracted_candidates(story):
    s = story
    assert s.writer.frontier() == {
        "frontier": [
            {"node": node(s.c2, "Candidate", "sound"), "reason": "unconsidered"},
            {"node": node(s.c0, "Candidate", "compromised", retracted=True), "reason": "unconsidered"},
        ]
    }


@pytest.mark.parametrize(
    "name, kind, standing, tainted, retracted, restorations",
    [
        ("s1", "Selection", "unsound", True, False, ["s2"]),
        ("s2", "Selection", "sound", False, False, []),
        ("c0", "Candidate", "compromised", False, True, []),
        ("e1", "Evaluation", "n/a", False, True, []),
        ("retraction", "Retraction", "n/a", False, False, []),
    ],
)
def test_standing(story, name, kind, standing, tainted, retracted, restorations):
    commit = getattr(story, name)
    assert story.writer.standing(commit.id) == {
        "node": node(commit, kind, standing, tainted, retracted),
        "restorations": [getattr(story, r).id for r in restorations],
    }


def test_evidence(story):
    s = story
    e1 = {"criterion": "tests", "node": node(s.e1, "Evaluation", retracted=True), "outcome": "passed"}
    e2 = {"criterion": "tests", "node": node(s.e2, "Evaluation"), "outcome": "passed"}
    assert s.writer.evidence(s.c2.id) == {
        "rests_on": [{"evidence": [e1], "selection": node(s.s1, "Selection", "unsound", tainted=True)}],
        "target": node(s.c2, "Candidate", "sound"),
    }
    assert s.writer.evidence(s.s2.id)["rests_on"] == [{"evidence": [e2], "selection": node(s.s2, "Selection", "sound")}]
    assert s.writer.evidence(s.c1.id)["rests_on"] == []


def test_selected(story):
    s = story
    chosen = [node(s.c1, "Candidate", "sound", artifacts=ARTIFACTS)]
    result = s.writer.selected("pick")
    assert result["objective"] == "pick"
    assert [entry["selection"] for entry in result["selections"]] == [
        node(s.s1, "Selection", "unsound", tainted=True), node(s.s2, "Selection", "sound")]
    assert [entry["chosen"] for entry in result["selections"]] == [chosen, chosen]
    assert [[e["node"]["id"] for e in entry["evidence"]] for entry in result["selections"]] == [[s.e1.id], [s.e2.id]]
    assert s.writer.selected("PICK") == {"objective": "PICK", "selections": []}


def test_dict_keys_come_sorted(story):
    def walk(value):
        if isinstance(value, dict):
            assert list(value) == sorted(value)
            for v in value.values():
                walk(v)
        elif isinstance(value, list):
            for v in value:
                walk(v)

    s = story
    for result in [s.writer.selected("pick"), s.writer.frontier(), s.receipt.evidence(s.c2.id)]:
        walk(result)


@pytest.mark.parametrize("source", ["writer", "receipt"])
@pytest.mark.parametrize(
    "query, target, message",
    [
        ("descent", "x", 'invalid record id "x"'),
        ("standing", "C" * 64, f'invalid record id "{"C" * 64}"'),
        ("evidence", " " + "c" * 63, f'invalid record id " {"c" * 63}"'),
        ("siblings", "c" * 65, f'invalid record id "{"c" * 65}"'),
        ("descendants", "cd" * 32, f"record {'cd' * 32} not found"),
        ("standing", "{rejected}", "record {rejected} was rejected at commit"),
        ("descent", "{s1}", "record {s1} is not a Candidate"),
        ("siblings", "{request}", "record {request} is not a Candidate"),
        ("evidence", "{e1}", "record {e1} is not a Candidate or Selection"),
    ],
)
def test_query_errors(story, source, query, target, message):
    for name in ("rejected", "s1", "request", "e1"):
        commit = getattr(story, name)
        target = target.replace("{" + name + "}", commit.id)
        message = message.replace("{" + name + "}", commit.id)
    queries = story.writer if source == "writer" else story.receipt
    raises(ValueError, message, getattr(queries, query), target)


@pytest.mark.parametrize("source", ["writer", "receipt"])
@pytest.mark.parametrize(
    "call, name",
    [
        (lambda q: q.descent(5), "id"),
        (lambda q: q.standing(id=b"x"), "id"),
        (lambda q: q.selected(None), "objective"),
    ],
)
def test_query_argument_types(story, source, call, name):
    queries = story.writer if source == "writer" else story.receipt
    with pytest.raises(TypeError) as info:
        call(queries)
    assert info.value.__notes__ == [f"while processing '{name}'"]


@pytest.mark.parametrize("source", ["writer", "receipt"])
def test_query_call_shapes(story, source):
    queries = story.writer if source == "writer" else story.receipt
    for call in (lambda: queries.frontier(1), lambda: queries.descent(), lambda: queries.selected("a", "b")):
        with pytest.raises(TypeError):
            call()
    assert queries.standing(id=story.s2.id) == queries.standing(story.s2.id)
    assert queries.selected(objective="pick") == queries.selected("pick")


def test_queries_follow_the_live_log(tmp_path):
    w = quillane.Writer(str(tmp_path / "log"), make_rules())
    assert w.frontier() == {"frontier": []}
    c = w.candidate("bot", "a" * 40)
    assert [e["reason"] for e in w.frontier()["frontier"]] == ["unconsidered"]
    e = w.evaluate("ci", c.id, "tests", passed=True)
    w.select("bot", "pick", [c.id], choose=[c.id], uses_eval=[e.id])
    assert [e["reason"] for e in w.frontier()["frontier"]] == ["selected-no-continuation"]
    assert quillane.read(w.receipt()).frontier() == w.frontier()
