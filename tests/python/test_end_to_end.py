"""A whole piece of work, scripted: recorded, exported, validated and queried."""
import quillane

ADMINS = ["alice"]
ROLES = {"alice": "user", "bot": "provider", "ci": "executor"}
TAR = "git-archive-tar-v1:" + "1f" * 32
IMAGE = {"scheme": "oci-image-manifest", "digest": "2e" * 32, "name": "parser:candidate-b"}


def test_a_piece_of_work_from_request_to_reaffirmation(tmp_path):
    log_dir = str(tmp_path / "log")
    rules = quillane.default_rules(ROLES, admins=ADMINS)
    w = quillane.Writer(log_dir, rules)

    request = w.request("alice", "speed up the parser")
    latency = w.requirement("alice", request.id, "latency", "p99 parse under 10 ms", expected_evidence="bench")
    memory = w.requirement("bot", request.id, "memory", "peak RSS under 1 GiB", required=False)

    cand_a = w.candidate("bot", "a" * 40, note="table-driven lexer", artifacts=[TAR, "git-tree-sha1:" + "a" * 40])
    cand_b = w.candidate("bot", "b" * 40, note="hand-written lexer", artifacts=[IMAGE])
    eval_a = w.evaluate("ci", cand_a.id, "bench", passed=True, evaluator="ci-bench", evaluator_version="3",
                        basis="recomputed", requirements=[memory.id, latency.id], artifacts=[TAR])
    eval_b = w.evaluate("ci", cand_b.id, "bench", failed=True, evaluator="ci-bench", basis="recomputed",
                        requirements=[latency.id], artifacts=[IMAGE])
    choice = w.select("bot", "parser", [cand_a.id, cand_b.id], choose=[cand_a.id], uses_eval=[eval_a.id],
                      rationale="a is faster")
    follow_up = w.candidate("bot", "c" * 40, continues=choice.id, parent=cand_a.id, note="cache the tables")
    commits = [request, latency, memory, cand_a, cand_b, eval_a, eval_b, choice, follow_up]
    assert all(c.accepted for c in commits), commits

    # The benchmark that justified the choice turns out to be wrong.
    retraction = w.retract("alice", eval_a.id, "benchmark host was noisy")
    assert retraction.accepted
    midway = quillane.validate(w.receipt())
    assert (midway.status, midway.retracted, midway.tainted) == ("tainted", [eval_a.id], [choice.id])
    assert midway.standing == {"compromised": [follow_up.id], "unsound": [choice.id], "restorations": {}}
    assert w.standing(follow_up.id)["node"]["standing"] == "compromised"

    # A clean re-run, and a Selection that reaffirms the same choice on it.
    rerun = w.evaluate("ci", cand_a.id, "bench", passed=True, evaluator="ci-bench", evaluator_version="3",
                       basis="recomputed", requirements=[latency.id], artifacts=[TAR])
    reaffirmed = w.select("bot", "parser", [cand_a.id, cand_b.id], choose=[cand_a.id], uses_eval=[rerun.id],
                          replaces=choice.id, rationale="a is still faster")
    assert rerun.accepted and reaffirmed.accepted
    assert len(w) == 2 * 12

    data = w.receipt(["quillane-core-v1"])
    report = quillane.validate(data)
    assert (report.status, report.reason, report.problem) == ("tainted", None, None)
    assert (report.record_count, report.checked_records, report.last_time) == (24, 24, 24)
    assert report.retracted == [eval_a.id] and report.tainted == [choice.id]
    assert report.standing == {"compromised": [], "unsound": [choice.id], "restorations": {choice.id: [reaffirmed.id]}}
    (core,) = report.profiles
    assert (core["id"], core["status"], core["declaration_matches"], core["met"]) == (
        "quillane-core-v1", "Conformant", True, True)
    text = str(report)
    assert text.startswith("status:          TAINTED\n")
    assert f"restorations (1):\n  {choice.id} <- \n    {reaffirmed.id}\n" in text

    receipt = quillane.read(data)
    assert (len(receipt), receipt.spec_version) == (24, "0.4")
    assert [r.kind for r in receipt.records[::2]] == [
        "Request", "Requirement", "Requirement", "Candidate", "Candidate", "Evaluation", "Evaluation", "Selection",
        "Candidate", "Retraction", "Evaluation", "Selection"]

    # The continuation is sound again: the reaffirmation chose its parent.
    descent = receipt.descent(follow_up.id)
    assert [(step["node"]["id"], step["via"]) for step in descent["line"]] == [
        (choice.id, "continuation-anchor"), (cand_a.id, "parent")]
    assert descent["target"]["standing"] == "sound"
    assert (descent["line"][0]["node"]["standing"], descent["line"][0]["node"]["tainted"]) == ("unsound", True)
    assert receipt.standing(choice.id)["restorations"] == [reaffirmed.id]

    frontier = receipt.frontier()["frontier"]
    assert [(e["node"]["id"], e["reason"]) for e in frontier] == [(follow_up.id, "unconsidered")]

    selected = receipt.selected("parser")["selections"]
    assert [entry["selection"]["id"] for entry in selected] == [choice.id, reaffirmed.id]
    assert [[n["id"] for n in entry["chosen"]] for entry in selected] == [[cand_a.id], [cand_a.id]]
    first, second = ([e["node"] for e in entry["evidence"]] for entry in selected)
    assert [(n["id"], n["retracted"]) for n in first] == [(eval_a.id, True)]
    assert [(n["id"], n["retracted"]) for n in second] == [(rerun.id, False)]
    assert first[0]["requirements"] == sorted([latency.id, memory.id])
    assert first[0]["artifacts"] == [{"digest": "1f" * 32, "name": None, "scheme": "git-archive-tar-v1"}]

    evidence = receipt.evidence(follow_up.id)["rests_on"]
    assert [(e["selection"]["id"], [x["outcome"] for x in e["evidence"]]) for e in evidence] == [
        (choice.id, ["passed"])]
    assert receipt.siblings(cand_b.id)["siblings"] == []
    assert [n["id"] for n in receipt.descendants(cand_a.id)["descendants"]] == [follow_up.id]
    node_b = receipt.standing(cand_b.id)["node"]
    assert node_b["artifacts"] == [{"digest": "2e" * 32, "name": "parser:candidate-b", "scheme": "oci-image-manifest"}]

    # The live writer answers exactly as the receipt does.
    for query in ("descent", "descendants", "siblings", "standing", "evidence"):
        for c in (cand_a, cand_b, follow_up):
            assert getattr(w, query)(c.id) == getattr(receipt, query)(c.id)
    assert w.frontier() == receipt.frontier() and w.selected("parser") == receipt.selected("parser")

    # Reopened from disk, the log is the same log.
    head = w.head
    del w
    reopened = quillane.Writer(log_dir, rules)
    assert (len(reopened), reopened.head) == (24, head)
    assert reopened.receipt(["quillane-core-v1"]) == data
