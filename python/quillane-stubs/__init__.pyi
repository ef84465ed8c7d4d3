# Type stubs for the `quillane` extension module.
#
# Installed as the stub-only package `quillane-stubs` next to the extension,
# where type checkers look for the stubs of a single-file module.
#
# The Literal aliases and TypedDicts used below live in the runtime module
# `quillane_tools.types`, installed with this package; import them from there
# to annotate your own code:
#
#     from quillane_tools.types import DescentReport, Status

from collections.abc import Sequence
from typing import final

from quillane_tools.types import (
    Artifact,
    AuthorType,
    CommitResult,
    DescendantsReport,
    DescentReport,
    EvaluationBasis,
    Evidence,
    EvidenceReport,
    FrontierReport,
    Kind,
    ProfileResultDict,
    Provenance,
    ReasonCode,
    RefDict,
    SelectedReport,
    SiblingsReport,
    SourceAlgo,
    StandingDict,
    StandingReport,
    Status,
)
from typing_extensions import TypeAlias

__version__: str

# ---------------------------------------------------------------------------
# Module functions.

_SecretKey: TypeAlias = str | bytes | bytearray | Sequence[int]

def default_rules(
    authors: dict[str, str],
    max_context: int = 200,
    admins: Sequence[str] | None = None,
    reaffirmers: Sequence[str] | None = None,
    signed: bool = False,
    author_keys: dict[str, list[str]] | dict[str, tuple[str, ...]] | dict[str, Sequence[str]] | None = None,
) -> str: ...
def read(data: bytes) -> Receipt: ...
def validate(data: bytes, require_profile: str | Sequence[str] | None = None) -> Report: ...

# ---------------------------------------------------------------------------
# Classes.

@final
class Commit:
    """The outcome of committing one record."""

    @property
    def id(self) -> str: ...
    @property
    def accepted(self) -> bool: ...
    @property
    def result(self) -> CommitResult: ...
    @property
    def reason(self) -> ReasonCode | None: ...

@final
class Record:
    """One record in a receipt or log, a read-only view."""

    @property
    def id(self) -> str: ...
    @property
    def kind(self) -> Kind: ...
    @property
    def time(self) -> int: ...
    @property
    def author_id(self) -> str: ...
    @property
    def author_type(self) -> AuthorType: ...
    @property
    def signed(self) -> bool: ...
    @property
    def evidence(self) -> Evidence: ...
    @property
    def schema(self) -> str: ...
    @property
    def refs(self) -> list[RefDict]: ...
    @property
    def payload_json(self) -> str: ...

@final
class Report:
    """The result of validating a receipt; `str(report)` is its text form."""

    @property
    def status(self) -> Status: ...
    @property
    def is_clean(self) -> bool: ...
    @property
    def reason(self) -> ReasonCode | None: ...
    @property
    def problem(self) -> str | None: ...
    @property
    def spec_version(self) -> str: ...
    @property
    def record_count(self) -> int: ...
    @property
    def checked_records(self) -> int: ...
    @property
    def last_time(self) -> int: ...
    @property
    def head_hash(self) -> str: ...
    @property
    def rules_hash(self) -> str: ...
    @property
    def retracted(self) -> list[str]: ...
    @property
    def tainted(self) -> list[str]: ...
    @property
    def standing(self) -> StandingDict: ...
    @property
    def profiles(self) -> list[ProfileResultDict]: ...

@final
class Receipt:
    """A parsed receipt, for inspection (reading does not verify)."""

    @property
    def spec_version(self) -> str: ...
    @property
    def records(self) -> list[Record]: ...
    def __len__(self) -> int: ...
    def descent(self, id: str) -> DescentReport: ...
    def descendants(self, id: str) -> DescendantsReport: ...
    def siblings(self, id: str) -> SiblingsReport: ...
    def frontier(self) -> FrontierReport: ...
    def standing(self, id: str) -> StandingReport: ...
    def evidence(self, id: str) -> EvidenceReport: ...
    def selected(self, objective: str) -> SelectedReport: ...

@final
class Writer:
    """Records evolution to a persistent, single-writer log.

    `artifacts` arguments are typed as sequences so that a `list[str]` fits;
    the module itself wants a `list` there (a tuple raises TypeError).
    """

    def __new__(
        cls,
        log_dir: str,
        rules: str,
        signers: dict[str, str] | dict[str, bytes] | dict[str, _SecretKey] | None = None,
    ) -> Writer: ...
    def __len__(self) -> int: ...
    @property
    def head(self) -> str: ...
    @property
    def records(self) -> list[Record]: ...
    def receipt(self, profiles: Sequence[str] | None = None) -> bytes: ...
    def request(self, author: str, objective: str) -> Commit: ...
    def requirement(
        self,
        author: str,
        request: str,
        key: str,
        description: str,
        *,
        required: bool = True,
        expected_evidence: str | None = None,
        provenance: Provenance | None = None,
    ) -> Commit: ...
    def candidate(
        self,
        author: str,
        git_tree: str,
        *,
        git_commit: str | None = None,
        algo: SourceAlgo = "sha1",
        note: str | None = None,
        continues: str | None = None,
        parent: str | None = None,
        derives_from: Sequence[str] | None = None,
        upgrades: str | None = None,
        manifest: str | None = None,
        artifacts: Sequence[Artifact] | None = None,
    ) -> Commit: ...
    def evaluate(
        self,
        author: str,
        candidate: str,
        criterion: str,
        *,
        passed: bool = False,
        failed: bool = False,
        score: int | None = None,
        scale: int | None = None,
        procedure: str | None = None,
        uses: Sequence[str] | None = None,
        blocked: bool = False,
        insufficient: bool = False,
        stale: bool = False,
        not_run: bool = False,
        evaluator: str | None = None,
        evaluator_version: str | None = None,
        procedure_hash: str | None = None,
        input_hash: str | None = None,
        basis: EvaluationBasis | None = None,
        requirements: Sequence[str] | None = None,
        artifacts: Sequence[Artifact] | None = None,
        attested: bool = False,
    ) -> Commit: ...
    def select(
        self,
        author: str,
        objective: str,
        consider: Sequence[str],
        *,
        choose: Sequence[str] | None = None,
        uses_eval: Sequence[str] | None = None,
        none: bool = False,
        replaces: str | None = None,
        rationale: str | None = None,
    ) -> Commit: ...
    def retract(self, author: str, target: str, reason: str) -> Commit: ...
    def descent(self, id: str) -> DescentReport: ...
    def descendants(self, id: str) -> DescendantsReport: ...
    def siblings(self, id: str) -> SiblingsReport: ...
    def frontier(self) -> FrontierReport: ...
    def standing(self, id: str) -> StandingReport: ...
    def evidence(self, id: str) -> EvidenceReport: ...
    def selected(self, objective: str) -> SelectedReport: ...
