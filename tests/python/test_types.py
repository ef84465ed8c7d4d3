"""The declared types describe what the module really returns.

stubtest (scripts/check_types.sh) holds the stubs' signatures to the module;
it cannot see inside the dicts and strings the module returns. These tests
hold every returned value of a varied log to the TypedDicts and Literal
aliases of quillane_tools.types that the stubs promise.
"""
import types
import typing

import pytest

import quillane
import typed_example
from quillane_tools import types as qt
from support import ARTIFACT, TREE_A, Story, make_rules


def problems(value, hint, where="value"):
    """Where `value` breaks the type `hint`; also records the optional TypedDict keys seen."""
    origin, args = typing.get_origin(hint), typing.get_args(hint)
    if hint is type(None):
        return [] if value is None else [f"{where}: {value!r} is not None"]
    if hint in (str, int, bool):
        ok = isinstance(value, hint) and (hint is bool or not isinstance(value, bool))
        return [] if ok else [f"{where}: {value!r} is not {hint.__name__}"]
    if origin is typing.Literal:
        return [] if value in args else [f"{where}: {value!r} is not one of {args}"]
    if origin in (typing.Union, types.UnionType):
        found = [problems(value, arg, where) for arg in args]
        return [] if [] in found else [f"{where}: {value!r} fits none of {args}"]
    if origin is list:
        if not isinstance(value, list):
            return [f"{where}: not a list"]
        return [p for i, item in enumerate(value) for p in problems(item, args[0], f"{where}[{i}]")]
    if origin is dict:
        if not isinstance(value, dict):
            return [f"{where}: not a dict"]
        return [p for k, v in value.items() for p in problems(k, args[0], where) + problems(v, args[1], f"{where}[{k!r}]")]
    if typing.is_typeddict(hint):
        if not isinstance(value, dict):
            return [f"{where}: not a dict"]
        hints = typing.get_type_hints(hint)
        found = [f"{where}: unexpected key {k!r}" for k in value if k not in hints]
        found += [f"{where}: missing key {k!r}" for k in hint.__required_keys__ if k not in value]
        SEEN_OPTIONAL.update((hint.__name__, k) for k in hint.__optional_keys__ if k in value)
        return found + [p for k, v in value.items() if k in hints for p in problems(v, hints[k], f"{where}.{k}")]
    raise AssertionError(f"no check for {hint!r}")


SEEN_OPTIONAL = set()


@pytest.fixture(scope="module")
def log(tmp_path_factory):
    """The Story, plus an extended evaluation (node artifacts and requirements) and a rejection."""
    w = quillane.Writer(str(tmp_path_factory.mktemp("types") / "log"), make_rules())
    story = Story(w)
    extended = w.evaluate("ci", story.c1.id, "bench", stale=True, evaluator="bench", basis="declared",
                          requirements=[story.requirement.id], artifacts=[ARTIFACT])
    rejected = w.candidate("bot", TREE_A, continues=story.s1.id, parent=story.c0.id)
    assert rejected.reason == "LineageInvalid"
    commits = [c for c in vars(story).values() if isinstance(c, quillane.Commit)] + [extended, rejected]
    return w, commits, extended, rejected


def test_commits_records_and_reports_fit_their_types(log):
    w, commits, _, _ = log
    for commit in commits:
        assert problems(commit.result, qt.CommitResult) + problems(commit.reason, qt.ReasonCode | None) == []
    for record in w.records:
        assert problems(record.kind, qt.Kind) == []
        assert problems(record.author_type, qt.AuthorType) + problems(record.evidence, qt.Evidence) == []
        assert problems(record.refs, list[qt.RefDict]) == []
    data = w.receipt(["quillane-core-v1"])
    forged = data.replace(b'"time":1}', b'"time":9}', 1)
    assert quillane.validate(forged).reason is not None
    for blob in (data, forged, b"", quillane.default_rules({"a": "user"}).encode()):
        report = quillane.validate(blob, ["quillane-core-signed-v1", "delivery-receipt-v1", "not-a-profile"])
        assert problems(report.status, qt.Status) + problems(report.reason, qt.ReasonCode | None) == []
        assert problems(report.standing, qt.StandingDict) == []
        assert problems(report.profiles, list[qt.ProfileResultDict]) == []
    assert {quillane.validate(b).status for b in (data, forged, b"")} == {"tainted", "invalid"}


def test_every_query_report_fits_its_typeddict(log):
    w, _, extended, rejected = log
    receipt = quillane.read(w.receipt())
    candidates = [r.id for r in w.records if r.kind == "Candidate" and r.id != rejected.id]
    selections = [r.id for r in w.records if r.kind == "Selection"]
    for source in (w, receipt):
        results = [(source.frontier(), qt.FrontierReport), (source.selected("pick"), qt.SelectedReport)]
        results.append((source.standing(extended.id), qt.StandingReport))
        for c in candidates:
            results += [(source.descent(c), qt.DescentReport), (source.siblings(c), qt.SiblingsReport)]
        for record_id in candidates + selections:
            results.append((source.descendants(record_id), qt.DescendantsReport))
            results.append((source.standing(record_id), qt.StandingReport))
            results.append((source.evidence(record_id), qt.EvidenceReport))
        for result, hint in results:
            assert problems(result, hint) == [], (hint.__name__, result)
    # The optional keys are not decoration: the module does return them.
    assert {("Node", "artifacts"), ("Node", "requirements")} <= SEEN_OPTIONAL


def test_literal_aliases_list_distinct_values():
    for alias in (qt.Status, qt.Kind, qt.AuthorType, qt.RefType, qt.Evidence, qt.ReasonCode, qt.ProfileStatus):
        values = typing.get_args(alias)
        assert len(values) == len(set(values))
    assert len(typing.get_args(qt.Kind)) == 16 and len(typing.get_args(qt.ReasonCode)) == 28


def test_profile_ids_are_the_ones_the_module_declares(tmp_path):
    w = quillane.Writer(str(tmp_path / "log"), make_rules())
    assert [p for p in typing.get_args(qt.ProfileId) if _unknown(w, p)] == []
    assert _unknown(w, "quillane-core-v2")


def _unknown(writer, profile):
    try:
        writer.receipt([profile])
    except ValueError as error:
        assert str(error) == f'unknown profile "{profile}"'
        return True
    return False


def test_the_typed_example_runs(tmp_path, capsys):
    assert typed_example.run(tmp_path / "log") == "clean"
    assert "clean: ['Candidate', 'Evaluation', 'Selection', 'Verdict']; unmet clauses: none" in capsys.readouterr().out
