"""The evolution graph of a receipt, as plain data for pictures and listings.

`load(data)` reads and validates receipt bytes and returns an `Evolution`:
one `Node` per judged record (every record except the verifier's Verdict
records, whose outcome is folded into the node they judge), one `Edge` per
typed reference between two nodes, plus two payload edges that the refs do
not show (a continuation's `parent`, and a Selection's considered but not
chosen candidates). Each node carries the state a picture colours it by.

The colours come from the report of `quillane.validate`, never from the
receipt's own claims: a node is only marked sound when replay says so.
"""

from __future__ import annotations

import hashlib
import json
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any

import quillane

if TYPE_CHECKING:
    from quillane import Receipt, Record, Report

SCHEMA_NAMES: dict[str, str] = {
    hashlib.sha256(name.encode()).hexdigest(): name
    for name in (
        "quillane.request.v1",
        "quillane.action.v1",
        "quillane.response.v1",
        "quillane.result.v1",
        "quillane.result.external_receipt.v1",
        "quillane.result.effect_confirmation.v1",
        "quillane.capability.v1",
        "quillane.approval.v1",
        "quillane.summary.v1",
        "quillane.refusal.v1",
        "quillane.usage.v1",
        "quillane.verdict.v1",
        "quillane.plan.v1",
        "quillane.retraction.v1",
        "quillane.candidate.v1",
        "quillane.evaluation.v1",
        "quillane.selection.v1",
        "quillane.requirement.v1",
        "quillane.evaluation.v2",
        "quillane.evaluation.attested.v1",
    )
}

# Node states, from the most to the least severe; a node shows the first that
# applies. "unverified" is used for every accepted record of an invalid
# receipt, whose replay did not get through.
STATES = ("rejected", "retracted", "compromised", "unsound", "tainted", "unverified", "sound", "live")

STATE_TEXT = {
    "rejected": "rejected by the verifier when it was committed",
    "retracted": "retracted: its content was declared wrong",
    "compromised": "candidate whose line of descent is no longer sound",
    "unsound": "selection that rests on retracted content",
    "tainted": "rests on retracted content",
    "unverified": "not verified: the receipt is invalid",
    "sound": "candidate or selection in good standing",
    "live": "accepted, nothing retracted beneath it",
}

# Edge types: the four reference types, then the two payload links.
EDGE_TEXT = {
    "Cause": "Cause: came about because of",
    "Use": "Use: rests on (carries evidence and taint)",
    "Require": "Require: chose / requires",
    "Replace": "Replace: reaffirms or supersedes",
    "parent": "parent: the candidate a continuation builds on",
    "considered": "considered: weighed by a selection, not chosen",
}

SUMMARY_WIDTH = 44


def short(record_id: str) -> str:
    """The first 12 hex characters of an id, as the module's own texts show them."""
    return record_id[:12]


def printable(text: str) -> str:
    """`text` with control and other unprintable characters written as \\u{hex} escapes.

    Receipts come from anywhere: an author id or an objective must not be able
    to move a terminal's cursor, forge a line of output or break an SVG file.
    """
    return "".join(c if c.isprintable() else f"\\u{{{ord(c):x}}}" for c in text)


def clip(text: str, width: int = SUMMARY_WIDTH) -> str:
    """One printable line of at most `width` characters."""
    text = printable(" ".join(text.split()))
    return text if len(text) <= width else text[: width - 1] + "…"


def report_text(report: Report) -> str:
    """The report's text form, safe to print: the texts it copies from the
    receipt (profile ids, the problem, the spec version) are escaped when they
    hold unprintable characters, so that none can forge a line of the report."""
    text = str(report)
    copied = [p["id"] for p in report.profiles] + [report.problem or "", report.spec_version]
    for raw in sorted(set(copied), key=len, reverse=True):
        if raw and not raw.isprintable():
            text = text.replace(raw, printable(raw))
    return "\n".join(printable(line) for line in text.split("\n"))


def outcome_label(outcome: Any) -> str:
    """The text of an evaluation outcome: passed, failed, scored 875e-2, stale, ..."""
    if isinstance(outcome, dict) and isinstance(outcome.get("scored"), dict):
        scored = outcome["scored"]
        return f"scored {scored.get('value')}e-{scored.get('scale')}"
    return str(outcome)


def hex_id(value: Any) -> str | None:
    """A payload id (an array of 32 byte values) as hex, or None."""
    if isinstance(value, list) and len(value) == 32 and all(isinstance(b, int) and 0 <= b < 256 for b in value):
        return bytes(value).hex()
    return None


@dataclass
class Node:
    id: str
    time: int
    kind: str
    author: str
    author_type: str
    signed: bool
    evidence: str
    schema: str
    summary: list[str]
    verdict: str | None = None  # "accept", "reject", or None when no Verdict judges it
    reason: str | None = None
    retracted: bool = False
    tainted: bool = False
    standing: str = "n/a"  # "sound", "unsound", "compromised" or "n/a"
    restored_by: list[str] = field(default_factory=list)
    verified: bool = True

    @property
    def short(self) -> str:
        return short(self.id)

    @property
    def state(self) -> str:
        if self.verdict == "reject":
            return "rejected"
        if not self.verified:
            return "unverified"
        if self.retracted:
            return "retracted"
        if self.standing in ("compromised", "unsound"):
            return self.standing
        if self.tainted:
            return "tainted"
        return "sound" if self.standing == "sound" else "live"

    @property
    def flags(self) -> list[str]:
        """Every state word that applies, for labels and listings."""
        words: list[str] = []
        if self.verdict == "reject":
            words.append(f"rejected ({self.reason})" if self.reason else "rejected")
        elif self.verdict is None:
            words.append("no verdict")
        if not self.verified:
            words.append("unverified")
        if self.retracted:
            words.append("retracted")
        if self.standing in ("compromised", "unsound"):
            words.append(self.standing)
        if self.tainted:
            words.append("tainted")
        if self.restored_by:
            words.append("restored by " + ", ".join(short(r) for r in self.restored_by))
        return words


@dataclass
class Edge:
    source: str  # the newer record, which holds the reference
    target: str  # the earlier record it points at
    type: str  # a key of EDGE_TEXT


@dataclass
class Evolution:
    nodes: list[Node]
    edges: list[Edge]
    report: Report
    spec_version: str
    record_count: int

    def node(self, record_id: str) -> Node:
        return next(n for n in self.nodes if n.id == record_id)


def _payload(record: Record) -> dict[str, Any]:
    try:
        value = json.loads(record.payload_json)
    except ValueError:
        return {}
    return value if isinstance(value, dict) else {}


def _summary(record: Record, payload: dict[str, Any], schema: str) -> list[str]:
    kind = record.kind
    lines: list[str] = []
    if kind == "Request":
        lines.append(str(payload.get("objective", "")))
    elif kind == "Requirement":
        required = "required" if payload.get("required", True) else "informational"
        lines.append(f"{payload.get('key', '')} ({required})")
        lines.append(str(payload.get("description", "")))
    elif kind == "Candidate":
        source = payload.get("source") or {}
        git = source.get("git") or {}
        if payload.get("note"):
            lines.append(str(payload["note"]))
        lines.append(f"{payload.get('basis', '?')}, {source.get('binding', '?')}-bound")
        lines.append(f"tree {str(git.get('tree', ''))[:12]}")
        if payload.get("artifacts"):
            lines.append(f"{len(payload['artifacts'])} artifact(s)")
    elif kind == "Evaluation":
        lines.append(f"{payload.get('criterion', '')}: {outcome_label(payload.get('outcome'))}")
        evaluator = payload.get("evaluator")
        if isinstance(evaluator, dict):
            by = f"by {evaluator.get('id', '')}, {payload.get('basis', '')}"
            lines.append(by + (", attested" if schema == "quillane.evaluation.attested.v1" else ""))
    elif kind == "Selection":
        lines.append(str(payload.get("objective", "")))
        considered = payload.get("considered") or []
        outcome = payload.get("outcome")
        if isinstance(outcome, dict) and isinstance(outcome.get("selected"), dict):
            chosen = outcome["selected"].get("candidates") or []
            lines.append(f"chose {len(chosen)} of {len(considered)}")
        else:
            lines.append(f"chose none of {len(considered)}")
        replaced = [ref["target"] for ref in record.refs if ref["type"] == "Replace"]
        if replaced:
            lines.append("reaffirms " + short(replaced[0]))
    elif kind == "Retraction":
        target = hex_id(payload.get("target_id"))
        if target:
            lines.append("retracts " + short(target))
        lines.append(str(payload.get("reason", "")))
    return [clip(line) for line in lines if line]


def build(receipt: Receipt, report: Report) -> Evolution:
    """The evolution graph of a parsed receipt, coloured by its report."""
    records = receipt.records
    verdicts: dict[str, tuple[str, str | None]] = {}
    for record in records:
        if record.kind != "Verdict":
            continue
        causes = [ref["target"] for ref in record.refs if ref["type"] == "Cause"]
        payload = _payload(record)
        if causes:
            result = str(payload.get("result", "")).lower()
            reason = payload.get("reason")
            verdicts[causes[0]] = (result, reason if isinstance(reason, str) else None)

    verified = report.status != "invalid"
    retracted = set(report.retracted)
    tainted = set(report.tainted)
    compromised = set(report.standing["compromised"])
    unsound = set(report.standing["unsound"])
    restorations = report.standing["restorations"]

    nodes: list[Node] = []
    edges: list[Edge] = []
    payloads: dict[str, dict[str, Any]] = {}
    for record in records:
        if record.kind == "Verdict":
            continue
        payload = _payload(record)
        payloads[record.id] = payload
        schema = SCHEMA_NAMES.get(record.schema, short(record.schema))
        verdict, reason = verdicts.get(record.id, (None, None))
        standing = "n/a"
        if verified and verdict == "accept":
            if record.kind == "Candidate":
                standing = "compromised" if record.id in compromised else "sound"
            elif record.kind == "Selection":
                standing = "unsound" if record.id in unsound else "sound"
        nodes.append(
            Node(
                id=record.id,
                time=record.time,
                kind=record.kind,
                author=record.author_id,
                author_type=record.author_type,
                signed=record.signed,
                evidence=record.evidence,
                schema=schema,
                summary=_summary(record, payload, schema),
                verdict=verdict,
                reason=reason,
                retracted=record.id in retracted,
                tainted=record.id in tainted,
                standing=standing,
                restored_by=list(restorations.get(record.id, [])),
                verified=verified,
            )
        )
        for ref in record.refs:
            edges.append(Edge(record.id, ref["target"], ref["type"]))

    in_graph = {n.id for n in nodes}
    for node in nodes:
        payload = payloads[node.id]
        if node.kind == "Candidate":
            parent = hex_id(payload.get("parent"))
            if parent:
                edges.append(Edge(node.id, parent, "parent"))
        elif node.kind == "Selection":
            required = {e.target for e in edges if e.source == node.id and e.type == "Require"}
            for value in payload.get("considered") or []:
                considered = hex_id(value)
                if considered and considered not in required:
                    edges.append(Edge(node.id, considered, "considered"))
    edges = [e for e in edges if e.source in in_graph and e.target in in_graph]
    return Evolution(nodes, edges, report, receipt.spec_version, len(records))


def load(data: bytes, profiles: list[str] | None = None) -> Evolution:
    """Reads and validates receipt bytes; `ValueError` if they do not parse."""
    receipt = quillane.read(data)
    report = quillane.validate(data, profiles or None)
    return build(receipt, report)
