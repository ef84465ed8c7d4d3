"""A delivery recorded through the Writer, judged by all three profiles; then
each single change that should flip some of their clauses."""
import json

import pytest

import quillane
from support import BOT_SEED, CI_SEED, canonical, public_key

CORE, SIGNED, DELIVERY = "quillane-core-v1", "quillane-core-signed-v1", "delivery-receipt-v1"
PROFILES = [CORE, SIGNED, DELIVERY]
ROLES = {"alice": "user", "bot": "provider", "ci": "executor"}
SEEDS = {"alice": "33" * 32, "bot": BOT_SEED, "ci": CI_SEED}
TAR = "git-archive-tar-v1:" + "1f" * 32
IMAGE = "oci-image-manifest:" + "2e" * 32
PROCEDURE_HASH, INPUT_HASH = "4a" * 32, "5b" * 32


def short(commit):
    return commit.id[:12]


@pytest.fixture(scope="module")
def keys(tmp_path_factory):
    return {actor: public_key(seed, tmp_path_factory.mktemp(actor)) for actor, seed in SEEDS.items()}


@pytest.fixture
def w(tmp_path, keys):
    """A writer whose rules demand signatures and pin every actor's key."""
    rules = quillane.default_rules(
        ROLES, admins=["alice"], signed=True, author_keys={actor: [key] for actor, key in keys.items()})
    return quillane.Writer(str(tmp_path / "log"), rules, signers=SEEDS)


class Delivery:
    """A user's request with two required requirements and an informational
    one, the provider's candidate with two artifacts, and the executor's
    attested evaluations of latency and memory, each citing one artifact.
    `memory` overrides the memory evaluation's author or outcome."""

    def __init__(self, w, memory_author="ci", **memory):
        self.w = w
        self.request = w.request("alice", "speed up the parser")
        self.latency = w.requirement("alice", self.request.id, "latency", "p99 parse under 10 ms")
        self.memory = w.requirement("alice", self.request.id, "memory", "peak RSS under 1 GiB")
        self.docs = w.requirement("bot", self.request.id, "docs", "document the lexer", required=False)
        self.candidate = w.candidate("bot", "a" * 40, note="table-driven lexer", artifacts=[TAR, IMAGE])
        self.e_latency = self.evaluate("ci", self.latency, TAR, passed=True)
        self.e_memory = self.evaluate(memory_author, self.memory, IMAGE, **(memory or {"passed": True}))
        self.selection = None

    def evaluate(self, author, requirement, artifact, **outcome):
        commit = self.w.evaluate(
            author, self.candidate.id, "bench", evaluator="ci-bench", evaluator_version="3",
            procedure_hash=PROCEDURE_HASH, input_hash=INPUT_HASH, basis="recomputed",
            requirements=[requirement.id], artifacts=[artifact], attested=True, **outcome)
        assert commit.accepted, commit
        return commit

    def choose(self, *evaluations):
        commit = self.w.select("bot", "parser", [self.candidate.id], choose=[self.candidate.id],
                               uses_eval=[e.id for e in evaluations])
        assert commit.accepted, commit
        return commit

    def retract(self, commit):
        retraction = self.w.retract("alice", commit.id, "benchmark host was noisy")
        assert retraction.accepted, retraction


def failures(report):
    return {(p["id"], c["id"]): c["detail"] for p in report.profiles for c in p["clauses"] if not c["passed"]}


def test_a_signed_delivery_meets_all_three_profiles(w):
    d = Delivery(w)
    d.selection = d.choose(d.e_latency, d.e_memory)
    report = quillane.validate(w.receipt(profiles=PROFILES))
    assert report.status == "clean"
    assert [(p["id"], p["status"], p["declared"], p["declaration_matches"], p["met"]) for p in report.profiles] == [
        (id, "Conformant", True, True, True) for id in PROFILES]
    text = str(report)
    s, r = short(d.selection), short(d.request)
    assert (f"profile {DELIVERY}: CONFORMANT (declared, declaration matches)\n"
            f"  hash:          {report.profiles[2]['hash']}\n"
            f"  ok   D0: claim {s} for request {r}\n"
            f"  ok   D1: {s}: 2 required requirement(s) covered\n"
            f"  ok   D2: {s}: every used evaluation of a required requirement passed\n"
            f"  ok   D3: {s}: 2 evaluation(s) bound to the chosen candidate, evidence on the record\n"
            f"  ok   D4: {s}: producer \"bot\", every evaluator distinct\n"
            f"  ok   D5: {s}: weakest basis recomputed\n"
            f"  ok   D6: {CORE}: Conformant (declared, declaration matches)\n"
            f"  ok   D7: {s}: sound, untainted\n") in text
    assert (f"profile {SIGNED}: CONFORMANT (declared, declaration matches)\n"
            f"  hash:          {report.profiles[1]['hash']}\n"
            f"  ok   S0: {CORE}: Conformant (declared, declaration matches)\n"
            f"  ok   S1: signatures required for Candidate, Evaluation, Selection, Retraction, Requirement\n"
            f"  ok   S2: 3 pinned author(s) of evolution records: [alice, bot, ci]\n"
            f"  ok   S3: 2 evaluation(s) used by selections, all attested\n") in text

    # Requested rather than declared, the two profiles judge the same log.
    required = quillane.validate(w.receipt(), require_profile=[SIGNED, DELIVERY])
    assert [(p["id"], p["status"], p["declared"], p["declaration_matches"]) for p in required.profiles] == [
        (SIGNED, "Conformant", False, None), (DELIVERY, "Conformant", False, None)]
    assert f"profile {DELIVERY}: CONFORMANT (required)\n" in str(required)
    assert f"  ok   D6: {CORE}: Conformant (not declared; evaluated as the fallback)\n" in str(required)


def uncovered(w):
    d = Delivery(w)
    d.selection = d.choose(d.e_latency)
    return d, {(DELIVERY, "D1"): f"{short(d.selection)}: uncovered memory"}


def stale(w):
    d = Delivery(w, stale=True)
    d.selection = d.choose(d.e_latency, d.e_memory)
    s = short(d.selection)
    return d, {(DELIVERY, "D1"): f"{s}: uncovered memory",
               (DELIVERY, "D2"): f"{s}: non-passing {short(d.e_memory)} stale"}


def producer_evaluates(w):
    d = Delivery(w, memory_author="bot")
    d.selection = d.choose(d.e_latency, d.e_memory)
    return d, {(DELIVERY, "D4"): f"{short(d.selection)}: producer \"bot\" authored evaluation(s) {short(d.e_memory)}"}


def retracted(w):
    d = Delivery(w)
    d.selection = d.choose(d.e_latency, d.e_memory)
    d.retract(d.e_memory)
    s = short(d.selection)
    return d, {(DELIVERY, "D1"): f"{s}: uncovered memory", (DELIVERY, "D7"): f"{s}: unsound, tainted"}


def superseded(w):
    d, _ = retracted(w)
    rerun = d.evaluate("ci", d.memory, IMAGE, passed=True)
    earlier, d.selection = d.selection, d.choose(d.e_latency, rerun)
    d.superseded = earlier
    return d, {}


@pytest.mark.parametrize("change", [uncovered, stale, producer_evaluates, retracted, superseded])
def test_each_change_flips_exactly_its_clauses(w, change):
    d, expected = change(w)
    report = quillane.validate(w.receipt(profiles=PROFILES))
    assert failures(report) == expected
    flipped = {profile for profile, _ in expected}
    assert [(p["id"], p["status"]) for p in report.profiles] == [
        (id, "NonConformant" if id in flipped else "Conformant") for id in PROFILES]
    text = str(report)
    for (_, clause), detail in expected.items():
        assert f"  FAIL {clause}: {detail}\n" in text
    if change is superseded:
        assert report.status == "tainted"
        assert (f"  ok   D0: claim {short(d.selection)} for request {short(d.request)}; "
                f"superseded: {short(d.superseded)}\n") in text
        assert f"  ok   D7: {short(d.selection)}: sound, untainted\n" in text


def test_a_declaration_with_a_wrong_version(w):
    d = Delivery(w)
    d.choose(d.e_latency, d.e_memory)
    receipt = json.loads(w.receipt(profiles=PROFILES))
    assert receipt["profiles"][0]["id"] == CORE
    receipt["profiles"][0]["version"] = 2
    report = quillane.validate(canonical(receipt))
    mismatch = f"{CORE}: Conformant (declared, DECLARATION MISMATCH)"
    assert failures(report) == {(SIGNED, "S0"): mismatch, (DELIVERY, "D6"): mismatch}
    assert [(p["id"], p["status"], p["declaration_matches"], p["met"]) for p in report.profiles] == [
        (CORE, "Conformant", False, False), (SIGNED, "NonConformant", True, False),
        (DELIVERY, "NonConformant", True, False)]
    text = str(report)
    assert f"profile {CORE}: CONFORMANT (declared, DECLARATION MISMATCH)\n" in text
    assert f"  FAIL S0: {mismatch}\n" in text and f"  FAIL D6: {mismatch}\n" in text
