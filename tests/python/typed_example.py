"""A small typed program over quillane: it must pass `mypy --strict`.

Records a candidate, its evaluation, a selection and a continuation, then
reads the results through the typed views. The block under TYPE_CHECKING
holds misuses that the stubs must refuse: each carries the `type: ignore`
of the error it causes, and `--strict` (warn_unused_ignores) fails if the
stubs ever stop catching one.
"""

from __future__ import annotations

import sys
import tempfile
from pathlib import Path
from typing import TYPE_CHECKING, Literal

import quillane
from quillane_tools.types import DescentReport, Node, ProfileResultDict, Status

TREE_A = "a" * 40
TREE_B = "b" * 40
BUILD = "sha256-bytes:" + "ab" * 32


def describe(node: Node) -> str:
    flags = [word for word, on in (("retracted", node["retracted"]), ("tainted", node["tainted"])) if on]
    artifacts = [f"{a['scheme']}:{a['digest'][:8]}" for a in node.get("artifacts", [])]
    return f"{node['kind']} {node['id'][:12]} {node['standing']} {' '.join(flags + artifacts)}".rstrip()


def unmet(profiles: list[ProfileResultDict]) -> list[str]:
    return [f"{p['id']}/{c['id']}" for p in profiles for c in p["clauses"] if not c["passed"]]


def run(log_dir: Path) -> Status:
    rules = quillane.default_rules({"alice": "user", "bot": "provider", "ci": "executor"}, admins=["alice"])
    writer = quillane.Writer(str(log_dir), rules)
    first = writer.candidate("bot", TREE_A, artifacts=[BUILD, {"scheme": "git-tree-sha1", "digest": TREE_A}])
    check = writer.evaluate("ci", first.id, "tests", passed=True)
    choice = writer.select("alice", "ship it", [first.id], choose=[first.id], uses_eval=[check.id])
    follow_up = writer.candidate("bot", TREE_B, continues=choice.id, parent=first.id)
    assert all(c.accepted and c.reason is None for c in (first, check, choice, follow_up))

    line: DescentReport = writer.descent(follow_up.id)
    for step in line["line"]:
        print(f"{step['via']:<20} {describe(step['node'])}")
    for entry in writer.frontier()["frontier"]:
        print(f"frontier: {entry['reason']} {describe(entry['node'])}")

    receipt = writer.receipt(profiles=["quillane-core-v1"])
    report = quillane.validate(receipt)
    kinds = {record.kind for record in quillane.read(receipt).records}
    print(f"{report.status}: {sorted(kinds)}; unmet clauses: {unmet(report.profiles) or 'none'}")

    if TYPE_CHECKING:
        wrong_status: Literal["clean"] = report.status  # type: ignore[assignment]
        writer.evaluate("ci", first.id, "tests", passed=True, basis="guessed")  # type: ignore[arg-type]
        writer.candidate("bot", TREE_A, artifacts=[{"scheme": "sha256-bytes"}])  # type: ignore[list-item]
        quillane.read("not bytes")  # type: ignore[arg-type]
        line["line"][0]["node"]["standing"] == 1  # type: ignore[comparison-overlap]
    return report.status


if __name__ == "__main__":
    with tempfile.TemporaryDirectory() as scratch:
        sys.exit(0 if run(Path(scratch) / "log") == "clean" else 1)
