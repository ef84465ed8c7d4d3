"""The demo, run as `bash scripts/demo.sh` runs it, and what it leaves behind."""
import json
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

import quillane

DEMO = Path(__file__).resolve().parents[2] / "scripts" / "demo.py"
PROFILES = ["quillane-core-v1", "quillane-core-signed-v1", "delivery-receipt-v1"]


@pytest.fixture(scope="module")
def demo(tmp_path_factory):
    out = tmp_path_factory.mktemp("demo")
    done = subprocess.run([sys.executable, str(DEMO), "--out", str(out)], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""
    files = dict(line.split(":", 1) for line in done.stdout.splitlines() if line.startswith(("receipt:", "graph ")))
    files = {label: Path(value.strip()) for label, value in files.items()}
    return {"stdout": done.stdout, "files": files, "out": out}


def test_it_names_its_files(demo):
    assert set(demo["files"]) == {"receipt", "graph page", "graph picture"}
    assert all(path.parent == demo["out"] and path.is_file() for path in demo["files"].values())


def test_it_prints_the_report_of_the_receipt_it_wrote(demo):
    data = demo["files"]["receipt"].read_bytes()
    report = quillane.validate(data)
    assert str(report) in demo["stdout"]
    # A retraction happened, so the receipt is tainted for good; the selection
    # resting on the retracted evaluation was restored by a reaffirmation.
    assert report.status == "tainted" and len(report.retracted) == 1
    assert report.standing["compromised"] == [] and list(report.standing["restorations"]) == report.standing["unsound"]
    # Every profile this build of the module knows is declared, and met.
    for profile in PROFILES:
        (result,) = [p for p in quillane.validate(data, profile).profiles if p["id"] == profile]
        if result["status"] != "Unknown":
            assert result["declared"] and result["met"], result


def test_the_story_has_every_step_of_an_evolution(demo):
    receipt = quillane.read(demo["files"]["receipt"].read_bytes())
    records = receipt.records
    by_id = {r.id: r for r in records}
    verdicts = {r.refs[0]["target"]: json.loads(r.payload_json) for r in records if r.kind == "Verdict"}
    subjects = [r for r in records if r.kind != "Verdict"]
    assert {r.kind for r in subjects} == {"Request", "Requirement", "Candidate", "Evaluation", "Selection", "Retraction"}
    assert all(r.signed for r in subjects)
    payloads = {r.id: json.loads(r.payload_json) for r in subjects}
    assert {payloads[r.id]["basis"] for r in subjects if r.kind == "Candidate"} == {"root", "derivation", "continuation"}
    assert {payloads[r.id]["source"]["binding"] for r in subjects if r.kind == "Candidate"} == {"manifest"}
    assert all(payloads[r.id].get("artifacts") for r in subjects if r.kind == "Candidate")
    for evaluation in (r for r in subjects if r.kind == "Evaluation"):
        candidate = by_id[bytes(payloads[evaluation.id]["candidate"]).hex()]
        assert evaluation.author_id != candidate.author_id
    assert any(ref["type"] == "Replace" for r in subjects if r.kind == "Selection" for ref in r.refs)
    rejected = [(r.kind, verdicts[r.id]["reason"]) for r in subjects if verdicts[r.id]["result"] == "Reject"]
    assert rejected == [("Retraction", "AuthorRoleInvalid")]
    # Both outcomes of real checks are on the record.
    outcomes = {payloads[r.id]["outcome"] for r in subjects if r.kind == "Evaluation"}
    assert outcomes == {"passed", "failed"}


def test_it_prints_query_results_and_draws_the_graph(demo):
    receipt = quillane.read(demo["files"]["receipt"].read_bytes())
    (continuation,) = [r for r in receipt.records if r.kind == "Candidate" and '"continuation"' in r.payload_json]
    assert f"query descent({continuation.id[:12]})" in demo["stdout"]
    for step in receipt.descent(continuation.id)["line"]:
        assert f"via {step['via']}" in demo["stdout"] and step["node"]["id"][:12] in demo["stdout"]
    for entry in receipt.frontier()["frontier"]:
        assert entry["node"]["id"][:12] in demo["stdout"]

    picture = ET.parse(demo["files"]["graph picture"]).getroot()
    drawn = {g.get("id") for g in picture.iter("{http://www.w3.org/2000/svg}g") if g.get("id", "").startswith("n-")}
    assert drawn == {"n-" + r.id for r in receipt.records if r.kind != "Verdict"}
    page = demo["files"]["graph page"].read_text()
    assert page.count("<svg") == 1 and "status:          TAINTED" in page
