"""Names for the values the `quillane` module returns, for type annotations.

The module's stubs use these types, so a type checker knows that
`report.status` is a `Status` and `writer.descent(id)` a `DescentReport`.
They are ordinary runtime objects: import them wherever you annotate, e.g.

    from quillane_tools.types import DescentReport, Status

The Literal aliases list every value the module can return; the TypedDicts
give the keys of the dicts it returns (query reports have their keys in
ascending order, as the module produces them).
"""

from __future__ import annotations

from typing import Literal, TypeAlias, TypedDict, Union

__all__ = [
    "ArtifactDict",
    "ArtifactInput",
    "Artifact",
    "AuthorType",
    "ClauseDict",
    "CommitResult",
    "DescendantsReport",
    "DescentReport",
    "DescentStep",
    "DescentVia",
    "EvaluationBasis",
    "Evidence",
    "EvidenceEntry",
    "EvidenceReport",
    "FrontierEntry",
    "FrontierReason",
    "FrontierReport",
    "Kind",
    "Node",
    "NodeStanding",
    "ProfileId",
    "ProfileResultDict",
    "ProfileStatus",
    "Provenance",
    "ReasonCode",
    "RefDict",
    "RefType",
    "SelectedEntry",
    "SelectedReport",
    "SelectionEvidence",
    "SiblingsReport",
    "SourceAlgo",
    "StandingDict",
    "StandingReport",
    "Status",
]

# --- enumerations, as the variant names the module returns ------------------

Status: TypeAlias = Literal["clean", "tainted", "invalid"]
"""The decision of `validate` (`Report.status`)."""

Kind: TypeAlias = Literal[
    "Request",
    "Action",
    "Response",
    "Result",
    "Summary",
    "Approval",
    "Capability",
    "Usage",
    "Refusal",
    "Verdict",
    "Plan",
    "Retraction",
    "Candidate",
    "Evaluation",
    "Selection",
    "Requirement",
]
"""A record's kind (`Record.kind`, `Node["kind"]`)."""

AuthorType: TypeAlias = Literal["User", "Provider", "System", "Executor", "Verifier"]
"""An author's role (`Record.author_type`)."""

RefType: TypeAlias = Literal["Cause", "Use", "Require", "Replace"]
"""The type of a reference between records (`Record.refs`)."""

Evidence: TypeAlias = Literal["Deterministic", "Verified", "Reported", "Inferred", "Assumed"]
"""Evidence classes, strongest first (`Record.evidence`)."""

ReasonCode: TypeAlias = Literal[
    "UnknownSchema",
    "KindSchemaMismatch",
    "SignatureMissing",
    "SignatureInvalid",
    "RefUnresolved",
    "RefCrossSpace",
    "RequestMissing",
    "CapabilityMissing",
    "CapabilityDenied",
    "ApprovalMissing",
    "ApprovalExpired",
    "ActionClosed",
    "ReplacementInvalid",
    "ExternalReceiptRequired",
    "EvidenceBelowThreshold",
    "Refused",
    "InvalidPayload",
    "InvalidCheckpoint",
    "AuthorRoleInvalid",
    "AuthorityRefMissing",
    "SourceBindingInvalid",
    "LineageInvalid",
    "PayloadRefUnresolved",
    "EvaluationInvalid",
    "SelectionInvalid",
    "ReaffirmationInvalid",
    "ArtifactRefInvalid",
    "RequirementInvalid",
]
"""Why the verifier rejected a record (`Commit.reason`, `Report.reason`)."""

CommitResult: TypeAlias = Literal["accept", "reject"]
"""`Commit.result`."""

ProfileStatus: TypeAlias = Literal["Conformant", "NonConformant", "Unknown"]
"""The status of one profile result (`Report.profiles[i]["status"]`)."""

ProfileId: TypeAlias = Literal["quillane-core-v1", "quillane-core-signed-v1", "delivery-receipt-v1"]
"""The profile ids the module knows; `validate` also accepts any text (reported "Unknown")."""

NodeStanding: TypeAlias = Literal["sound", "unsound", "compromised", "n/a"]
"""A query node's standing: candidates are sound or compromised, selections sound or unsound."""

DescentVia: TypeAlias = Literal["parent", "continuation-anchor", "derivation"]
FrontierReason: TypeAlias = Literal["unconsidered", "selected-no-continuation"]
SourceAlgo: TypeAlias = Literal["sha1", "sha256"]
EvaluationBasis: TypeAlias = Literal["recomputed", "declared"]
Provenance: TypeAlias = Literal["user_authored", "user-authored", "derived"]

# --- dicts the views return ---------------------------------------------------


class RefDict(TypedDict):
    """One entry of `Record.refs`."""

    type: RefType
    target: str


class StandingDict(TypedDict):
    """`Report.standing`: hex ids, ascending."""

    compromised: list[str]
    unsound: list[str]
    restorations: dict[str, list[str]]


class ClauseDict(TypedDict):
    id: str
    passed: bool
    detail: str


class ProfileResultDict(TypedDict):
    """One entry of `Report.profiles`."""

    id: str
    hash: str
    status: ProfileStatus
    declared: bool
    declaration_matches: bool | None
    met: bool
    clauses: list[ClauseDict]


class ArtifactDict(TypedDict):
    """An artifact identity as the queries return it."""

    digest: str
    name: str | None
    scheme: str


class _ArtifactInputRequired(TypedDict):
    scheme: str
    digest: str


class ArtifactInput(_ArtifactInputRequired, total=False):
    """An artifact identity as `Writer.candidate` and `Writer.evaluate` accept it."""

    name: str | None


Artifact: TypeAlias = Union[str, ArtifactInput]
"""An artifact argument: `"scheme:digest[:name]"` or an `ArtifactInput` dict."""

# --- query reports --------------------------------------------------------------


class _NodeRequired(TypedDict):
    id: str
    kind: Kind
    retracted: bool
    standing: NodeStanding
    tainted: bool


class Node(_NodeRequired, total=False):
    """One record as the queries present it; `artifacts` and `requirements` appear when non-empty."""

    artifacts: list[ArtifactDict]
    requirements: list[str]


class DescentStep(TypedDict):
    node: Node
    via: DescentVia


class DescentReport(TypedDict):
    """q1 `descent(id)`: the line of descent of a candidate."""

    line: list[DescentStep]
    target: Node


class DescendantsReport(TypedDict):
    """q2 `descendants(id)`."""

    descendants: list[Node]
    target: Node


class SiblingsReport(TypedDict):
    """q3 `siblings(id)`."""

    siblings: list[Node]
    target: Node


class FrontierEntry(TypedDict):
    node: Node
    reason: FrontierReason


class FrontierReport(TypedDict):
    """q4 `frontier()`."""

    frontier: list[FrontierEntry]


class StandingReport(TypedDict):
    """q5 `standing(id)`."""

    node: Node
    restorations: list[str]


class EvidenceEntry(TypedDict):
    criterion: str
    node: Node
    outcome: str


class SelectionEvidence(TypedDict):
    evidence: list[EvidenceEntry]
    selection: Node


class EvidenceReport(TypedDict):
    """q6 `evidence(id)`."""

    rests_on: list[SelectionEvidence]
    target: Node


class SelectedEntry(TypedDict):
    chosen: list[Node]
    evidence: list[EvidenceEntry]
    selection: Node


class SelectedReport(TypedDict):
    """q7 `selected(objective)`."""

    objective: str
    selections: list[SelectedEntry]
