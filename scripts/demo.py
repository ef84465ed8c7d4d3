"""The quillane demo: one piece of work, recorded, exported, checked and drawn.

A user asks for a change to a small tool; a builder proposes source trees; a
separate CI identity really runs each tree's checks and records what it
found; the user selects a candidate, the builder continues from it; the CI
retracts an evaluation it no longer trusts and records a fresh one, and the
user reaffirms the choice. The log is exported as a receipt that declares
profiles, validated offline, queried, and drawn.

Run with no arguments (`bash scripts/demo.sh` does). Files go to build/demo/
in the repository unless `--out DIR` says otherwise; the source trees and
the log directory live in a scratch directory that is removed at the end.
"""

from __future__ import annotations

import argparse
import hashlib
import io
import json
import subprocess
import sys
import tarfile
import tempfile
import time
from pathlib import Path

import quillane
from quillane_tools import evolution, render
from quillane_tools.keys import public_key
from quillane_tools.types import Node

ROOT = Path(__file__).resolve().parent.parent
OBJECTIVE = "wordcount: add a --json output flag"
PROFILES = ["quillane-core-v1", "quillane-core-signed-v1", "delivery-receipt-v1"]

# Who is who. The seeds are fixed so that every run records the same ids;
# real deployments keep them in a secret store (quillane_tools.keys.generate_seed).
ROLES = {"alice": "user", "builder": "provider", "ci": "system"}
SEEDS = {name: hashlib.sha256(f"quillane demo seed: {name}".encode()).hexdigest() for name in ROLES}

# --- the work: three versions of a tiny word counter -------------------------

TOOL_V1 = '''"""Count the words of a file."""
import json
import sys


def count(text):
    return len(text.splitlines())


def main(argv):
    as_json = "--json" in argv
    path = [a for a in argv if a != "--json"][0]
    n = count(open(path, encoding="utf-8").read())
    print(json.dumps({"words": n}) if as_json else n)


if __name__ == "__main__":
    main(sys.argv[1:])
'''
TOOL_V2 = TOOL_V1.replace("len(text.splitlines())", "len(text.split())")
TESTS = '''import unittest

from wordcount import count


class CountTest(unittest.TestCase):
    def test_words_on_one_line(self):
        self.assertEqual(count("three small words"), 3)

    def test_blank_text(self):
        self.assertEqual(count(""), 0)
'''
README = "# wordcount\n\n`python wordcount.py FILE` prints the number of words.\n"
README_V3 = README + "`python wordcount.py --json FILE` prints `{\"words\": N}`.\n"
SAMPLE = "the quick brown fox\njumps over the lazy dog\n"

TREES = {
    "v1": {"wordcount.py": TOOL_V1, "test_wordcount.py": TESTS, "README.md": README, "sample.txt": SAMPLE},
    "v2": {"wordcount.py": TOOL_V2, "test_wordcount.py": TESTS, "README.md": README, "sample.txt": SAMPLE},
    "v3": {"wordcount.py": TOOL_V2, "test_wordcount.py": TESTS, "README.md": README_V3, "sample.txt": SAMPLE},
}


def write_tree(root: Path, files: dict[str, str]) -> Path:
    root.mkdir(parents=True)
    for name, text in files.items():
        (root / name).write_text(text, encoding="utf-8")
    return root


def git_tree_id(files: dict[str, str]) -> str:
    """The id `git write-tree` gives a flat directory of regular files."""
    entries = b""
    for name in sorted(files):
        data = files[name].encode()
        blob = hashlib.sha1(b"blob %d\0" % len(data) + data).digest()
        entries += b"100644 " + name.encode() + b"\0" + blob
    return hashlib.sha1(b"tree %d\0" % len(entries) + entries).hexdigest()


def source_archive(files: dict[str, str]) -> bytes:
    """A reproducible tar of the tree: the artifact a candidate is bound to."""
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.USTAR_FORMAT) as tar:
        for name in sorted(files):
            data = files[name].encode()
            info = tarfile.TarInfo(name)
            info.size, info.mode, info.mtime = len(data), 0o644, 0
            tar.addfile(info, io.BytesIO(data))
    return buffer.getvalue()


def sha256(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


# --- the CI: really runs the checks -------------------------------------------

CHECKS = {
    "unit tests": [sys.executable, "-m", "unittest", "-q", "test_wordcount"],
    "json output": [sys.executable, "wordcount.py", "--json", "sample.txt"],
}


def run_check(criterion: str, tree: Path) -> bool:
    done = subprocess.run(CHECKS[criterion], cwd=tree, capture_output=True, text=True, timeout=60)
    if criterion == "json output":
        try:
            return done.returncode == 0 and json.loads(done.stdout) == {"words": 9}
        except ValueError:
            return False
    return done.returncode == 0


# --- the story --------------------------------------------------------------


def say(actor: str, what: str, commit: quillane.Commit) -> None:
    verdict = "accepted" if commit.accepted else f"REJECTED ({commit.reason})"
    print(f"  {actor:<8} {what:<58} {commit.id[:12]}  {verdict}")


def record_story(writer: quillane.Writer, trees: dict[str, Path]) -> dict[str, quillane.Commit]:
    w = writer
    c: dict[str, quillane.Commit] = {}
    archives = {name: source_archive(TREES[name]) for name in TREES}
    artifact = {name: f"sha256-bytes:{sha256(data)}:wordcount-{name}.tar" for name, data in archives.items()}

    c["request"] = w.request("alice", OBJECTIVE)
    say("alice", f"asks: {OBJECTIVE}", c["request"])
    for key, text, required in (
        ("json-output", "`wordcount --json FILE` prints {\"words\": N}", True),
        ("tests-pass", "the unit tests pass", True),
        ("docs", "the README mentions --json", False),
    ):
        c[key] = w.requirement("alice", c["request"].id, key, text, required=required)
        say("alice", f"requires {key}" + ("" if required else " (informational)"), c[key])

    def propose(
        name: str, note: str, derives_from: list[str] | None = None, continues: str | None = None
    ) -> quillane.Commit:
        commit = w.candidate(
            "builder",
            git_tree_id(TREES[name]),
            manifest=str(trees[name]),
            artifacts=[artifact[name]],
            note=note,
            derives_from=derives_from,
            continues=continues,
            parent=c["c2"].id if continues else None,
        )
        say("builder", f"proposes tree {name}: {note}", commit)
        return commit

    def evaluate(name: str, candidate: quillane.Commit, criterion: str, requirement: str) -> quillane.Commit:
        passed = run_check(criterion, trees[name])
        commit = w.evaluate(
            "ci",
            candidate.id,
            criterion,
            passed=passed,
            failed=not passed,
            procedure=" ".join(CHECKS[criterion][1:]),
            evaluator="ci/python-unittest",
            evaluator_version="1",
            procedure_hash=sha256(json.dumps(CHECKS[criterion][1:]).encode()),
            input_hash=sha256(archives[name]),
            basis="recomputed",
            requirements=[c[requirement].id],
            artifacts=[artifact[name]],
            attested=True,
        )
        say("ci", f"runs {criterion} on tree {name}: {'passed' if passed else 'failed'}", commit)
        return commit

    c["c1"] = propose("v1", "first attempt")
    c["e1"] = evaluate("v1", c["c1"], "unit tests", "tests-pass")
    # The builder tries to make the failing evaluation go away: refused, and
    # the refusal itself stays in the log.
    c["hide"] = w.retract("builder", c["e1"].id, "flaky")
    say("builder", "tries to retract the CI's failing evaluation", c["hide"])
    c["c2"] = propose("v2", "count words, not lines", derives_from=[c["c1"].id])
    c["e2_tests"] = evaluate("v2", c["c2"], "unit tests", "tests-pass")
    c["e2_json"] = evaluate("v2", c["c2"], "json output", "json-output")
    c["s1"] = w.select(
        "alice",
        OBJECTIVE,
        [c["c1"].id, c["c2"].id],
        choose=[c["c2"].id],
        uses_eval=[c["e2_tests"].id, c["e2_json"].id],
        rationale="v2 passes both checks; v1 fails its tests",
    )
    say("alice", "selects tree v2", c["s1"])
    c["c3"] = propose("v3", "document --json", continues=c["s1"].id)
    c["retraction"] = w.retract("ci", c["e2_tests"].id, "that run reused a stale build cache")
    say("ci", "retracts its test run of v2 (stale cache)", c["retraction"])
    c["e2_rerun"] = evaluate("v2", c["c2"], "unit tests", "tests-pass")
    c["s2"] = w.select(
        "alice",
        OBJECTIVE,
        [c["c1"].id, c["c2"].id],
        choose=[c["c2"].id],
        uses_eval=[c["e2_rerun"].id, c["e2_json"].id],
        replaces=c["s1"].id,
        rationale="clean re-run; same choice",
    )
    say("alice", "reaffirms the choice of v2 on the fresh run", c["s2"])
    return c


def export(writer: quillane.Writer) -> bytes:
    """The receipt, declaring every profile this build of the module knows."""
    known = []
    for profile in PROFILES:
        try:
            writer.receipt(profiles=[profile])
        except ValueError as error:
            print(f"  (not declaring {profile}: {error})")
            continue
        known.append(profile)
    return writer.receipt(profiles=known)


def node_line(node: Node, via: str) -> str:
    words: list[str] = [node["standing"]] if node["standing"] != "n/a" else []
    words += [word for word, flag in (("retracted", node["retracted"]), ("tainted", node["tainted"])) if flag]
    return f"    {via:<24} {node['kind']:<10} {node['id'][:12]}  {', '.join(words)}"


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="Run the quillane demo.")
    parser.add_argument("--out", type=Path, default=ROOT / "build" / "demo", help="where to write the files")
    args = parser.parse_args(argv)
    started = time.monotonic()
    out: Path = args.out
    out.mkdir(parents=True, exist_ok=True)

    print(f"quillane {quillane.__version__}: recording the evolution of one change\n")
    rules = quillane.default_rules(
        ROLES,
        admins=["alice"],
        reaffirmers=["alice"],
        signed=True,
        author_keys={name: [public_key(seed)] for name, seed in SEEDS.items()},
    )
    with tempfile.TemporaryDirectory(prefix="quillane-demo-") as scratch:
        trees = {name: write_tree(Path(scratch) / "trees" / name, files) for name, files in TREES.items()}
        writer = quillane.Writer(str(Path(scratch) / "log"), rules, signers=SEEDS)
        commits = record_story(writer, trees)
        data = export(writer)
        del writer  # releases the log's lock before the scratch directory goes

    receipt = quillane.read(data)
    report = quillane.validate(data)
    print(f"\nvalidate(receipt): {len(data)} bytes, {len(receipt)} records\n")
    print(str(report), end="")

    c3 = commits["c3"].id
    print(f"\nquery descent({c3[:12]}): where the continuation comes from")
    for step in receipt.descent(c3)["line"]:
        print(node_line(step["node"], "via " + step["via"]))
    print("query frontier(): what is still open")
    for entry in receipt.frontier()["frontier"]:
        print(node_line(entry["node"], entry["reason"]))

    evo = evolution.build(receipt, report)
    files = {
        "receipt": out / "receipt.json",
        "graph page": out / "evolution.html",
        "graph picture": out / "evolution.svg",
    }
    files["receipt"].write_bytes(data)
    files["graph page"].write_text(render.to_html(evo, "receipt.json"), encoding="utf-8")
    files["graph picture"].write_text(render.svg(evo), encoding="utf-8")
    print()
    for label, path in files.items():
        print(f"{label + ':':<15}{path}")
    print(f"\ndone in {time.monotonic() - started:.1f} s; next: quillane show {files['receipt']}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
