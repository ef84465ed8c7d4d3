"""The `quillane` command: validate, list, query and draw receipts.

Exit status: 0 clean (or the command did its job), 1 tainted, 2 invalid (these
three from `validate`), 3 when the input cannot be used (unreadable file, not
a receipt, a query the receipt refuses, an output that cannot be written),
4 for a malformed command line.
"""

from __future__ import annotations

import argparse
import json
import os
import sys
import textwrap
from pathlib import Path
from typing import TYPE_CHECKING, Any, NoReturn

import quillane

from . import evolution, render

if TYPE_CHECKING:
    from collections.abc import Sequence

    from quillane import Receipt, Report

EXIT_CLEAN = 0
EXIT_TAINTED = 1
EXIT_INVALID = 2
EXIT_ERROR = 3
EXIT_USAGE = 4

STATUS_EXIT = {"clean": EXIT_CLEAN, "tainted": EXIT_TAINTED, "invalid": EXIT_INVALID}

# Query name -> what its argument is (None: it takes none).
QUERIES: dict[str, str | None] = {
    "descent": "id",
    "descendants": "id",
    "siblings": "id",
    "frontier": None,
    "standing": "id",
    "evidence": "id",
    "selected": "objective",
}

EXIT_TEXT = """exit status:
  0  clean (validate), or the command did its job
  1  tainted: valid, but something was retracted (validate)
  2  invalid: the receipt does not verify (validate)
  3  the input cannot be used: unreadable file, not a receipt,
     a query the receipt refuses, an output that cannot be written
  4  malformed command line"""


class Failure(Exception):
    """A user-facing error: one line on stderr and EXIT_ERROR."""


class Formatter(argparse.HelpFormatter):
    """Wraps prose to the terminal, keeps indented lines (the exit-status table) as written."""

    def _fill_text(self, text: str, width: int, indent: str) -> str:
        lines = []
        for line in text.splitlines():
            if line and not line[0].isspace():
                lines.append(textwrap.fill(line, width, initial_indent=indent, subsequent_indent=indent))
            else:
                lines.append(indent + line)
        return "\n".join(lines)


class Parser(argparse.ArgumentParser):
    """Reports a malformed command line with EXIT_USAGE, keeping 2 for invalid receipts."""

    def error(self, message: str) -> NoReturn:
        self.print_usage(sys.stderr)
        self.exit(EXIT_USAGE, f"{self.prog}: error: {message}\n")


def read_bytes(path: str) -> bytes:
    if path == "-":
        return sys.stdin.buffer.read()
    try:
        return Path(path).read_bytes()
    except OSError as error:
        raise Failure(f"cannot read {path}: {error.strerror or error}") from error


def read_receipt(path: str) -> tuple[bytes, Receipt]:
    data = read_bytes(path)
    try:
        return data, quillane.read(data)
    except ValueError as error:
        raise Failure(f"{path} is not a receipt ({error})") from error


def report_dict(report: Report) -> dict[str, Any]:
    """Every field of a report as a JSON-ready dict, plus its text form."""
    return {
        "status": report.status,
        "is_clean": report.is_clean,
        "reason": report.reason,
        "problem": report.problem,
        "spec_version": report.spec_version,
        "record_count": report.record_count,
        "checked_records": report.checked_records,
        "last_time": report.last_time,
        "head_hash": report.head_hash,
        "rules_hash": report.rules_hash,
        "retracted": report.retracted,
        "tainted": report.tainted,
        "standing": report.standing,
        "profiles": report.profiles,
        "text": str(report),
    }


# --- commands -----------------------------------------------------------------


def cmd_validate(args: argparse.Namespace) -> int:
    report = quillane.validate(read_bytes(args.receipt), args.profile or None)
    if args.json:
        print(json.dumps(report_dict(report), indent=2))
    else:
        sys.stdout.write(evolution.report_text(report))
    return STATUS_EXIT[report.status]


def cmd_show(args: argparse.Namespace) -> int:
    data, receipt = read_receipt(args.receipt)
    evo = evolution.build(receipt, quillane.validate(data))
    report = evo.report
    spec = evolution.printable(receipt.spec_version)
    headline = f"{args.receipt}: {evo.record_count} records, spec {spec}, {report.status.upper()}"
    if report.problem:
        headline += f" ({evolution.printable(report.problem)})"
    elif report.reason:
        headline += f" ({report.reason})"
    print(headline)
    nodes = {n.id: n for n in evo.nodes}
    rows = [("time", "kind", "author", "id", "verdict", "notes")]
    for record in receipt.records:
        author = f"{evolution.printable(record.author_id)} ({record.author_type}{', signed' if record.signed else ''})"
        node = nodes.get(record.id)
        if node is None:  # a Verdict record
            subject = next((r["target"] for r in record.refs if r["type"] == "Cause"), "")
            rows.append((str(record.time), record.kind, author, record.id[:12], "", f"judges {subject[:12]}"))
            continue
        verdict = node.verdict or "none"
        if node.reason:
            verdict += f" ({node.reason})"
        flags = [f for f in node.flags if not f.startswith(("rejected", "no verdict"))]
        notes = "; ".join(flags + node.summary[:1])
        rows.append((str(record.time), record.kind, author, record.id[:12], verdict, notes))
    widths = [max(len(row[i]) for row in rows) for i in range(5)]
    for row in rows:
        cells = [row[0].rjust(widths[0])] + [row[i].ljust(widths[i]) for i in range(1, 5)] + [row[5]]
        print("  ".join(cells).rstrip())
    return EXIT_CLEAN


def resolve_id(receipt: Receipt, text: str) -> str:
    """A full id from a unique prefix of at least 4 hex characters (as `show` prints)."""
    if len(text) == 64 or len(text) < 4 or any(c not in "0123456789abcdef" for c in text):
        return text
    matches = [r.id for r in receipt.records if r.id.startswith(text)]
    if len(matches) == 1:
        return matches[0]
    if matches:
        raise Failure(f"id prefix {text} matches {len(matches)} records; give more characters")
    raise Failure(f"no record id starts with {text}")


def cmd_query(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    takes = QUERIES[args.name]
    if takes is None and args.arg is not None:
        parser.error(f"query {args.name} takes no argument")
    if takes is not None and args.arg is None:
        parser.error(f"query {args.name} needs an argument: the {'record id' if takes == 'id' else 'objective'}")
    _, receipt = read_receipt(args.receipt)
    try:
        if args.name == "frontier":
            result: Any = receipt.frontier()
        elif args.name == "selected":
            result = receipt.selected(args.arg)
        else:
            result = getattr(receipt, args.name)(resolve_id(receipt, args.arg))
    except ValueError as error:
        raise Failure(f"query {args.name} refused: {error}") from error
    print(json.dumps(result, indent=2))
    return EXIT_CLEAN


def cmd_graph(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    suffix = Path(args.output).suffix.lower()
    if suffix not in (".dot", ".html", ".svg"):
        parser.error(f"cannot tell the format of {args.output}: use a .dot, .html or .svg file name")
    data, receipt = read_receipt(args.receipt)
    evo = evolution.build(receipt, quillane.validate(data, args.profile or None))
    try:
        if suffix == ".dot":
            text = render.to_dot(evo)
        elif suffix == ".svg":
            text = render.svg(evo, args.layout)
        else:
            title = "stdin" if args.receipt == "-" else Path(args.receipt).name
            text = render.to_html(evo, title, args.layout)
    except RuntimeError as error:
        raise Failure(str(error)) from error
    try:
        Path(args.output).write_text(text, encoding="utf-8")
    except OSError as error:
        raise Failure(f"cannot write {args.output}: {error.strerror or error}") from error
    print(args.output)
    return EXIT_CLEAN


# --- parser -------------------------------------------------------------------


def build_parser() -> Parser:
    parser = Parser(
        prog="quillane",
        description="Validate, list, query and draw quillane receipts. "
        "RECEIPT is a receipt file exported by Writer.receipt(), or - for standard input.",
        epilog=EXIT_TEXT,
        formatter_class=Formatter,
    )
    parser.add_argument("--version", action="version", version=f"quillane {quillane.__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=Parser, required=True)

    def command(name: str, summary: str, description: str) -> argparse.ArgumentParser:
        sub = commands.add_parser(
            name,
            help=summary,
            description=description,
            epilog=EXIT_TEXT,
            formatter_class=Formatter,
        )
        sub.add_argument("receipt", metavar="RECEIPT", help="receipt file, or - for standard input")
        sub.set_defaults(parser=sub)
        return sub

    validate = command(
        "validate",
        "replay a receipt and print its report",
        "Replay the receipt from nothing, re-derive every id and verdict, and print the report. "
        "The exit status is the decision: 0 clean, 1 tainted, 2 invalid (a file that is not a "
        "receipt at all is invalid too).",
    )
    validate.add_argument(
        "--profile",
        metavar="ID",
        action="append",
        help="also evaluate this profile (repeatable), e.g. quillane-core-v1, "
        "quillane-core-signed-v1, delivery-receipt-v1",
    )
    validate.add_argument(
        "--json",
        action="store_true",
        help="print the report as a JSON object: every report field, and the text form under \"text\"",
    )

    command(
        "show",
        "list the records, one line each",
        "List every record in log order: logical time, kind, author (role, whether signed), short id, "
        "the verifier's verdict, and notes (retracted, tainted, unsound, compromised, what it says). "
        "Verdict records name the record they judge.",
    )

    query = command(
        "query",
        "answer one of the seven named queries, as JSON",
        "Answer a named query over the receipt and print the result as indented JSON. "
        "Queries that take an id accept a full 64-character id or a unique prefix of at least 4 "
        "characters (the 12 that `show` prints will do). `selected` takes an objective, `frontier` nothing.",
    )
    query.add_argument("name", metavar="NAME", choices=list(QUERIES), help="one of: " + ", ".join(QUERIES))
    query.add_argument("arg", metavar="ARG", nargs="?", help="record id, or the objective for `selected`")

    graph = command(
        "graph",
        "draw the evolution graph (.dot, .html or .svg)",
        "Draw the evolution graph: requests, requirements, candidates, evaluations, selections and "
        "retractions, with an edge per reference (Cause, Use, Require, Replace) and, dotted, a "
        "continuation's parent and a selection's considered-but-not-chosen candidates. The format "
        "follows the output name: .dot is Graphviz source; .svg a picture; .html a self-contained page "
        "with the picture, the report, the profile results and a legend. Nodes are coloured by the "
        "validated state: rejected, retracted, compromised or unsound, tainted, sound.",
    )
    graph.add_argument("-o", "--output", metavar="FILE", required=True, help="output file: .dot, .html or .svg")
    graph.add_argument(
        "--layout",
        choices=("auto", "dot", "builtin"),
        default="auto",
        help="how to lay out the picture: Graphviz dot, our own plain layout, or auto "
        "(dot when installed; the default)",
    )
    graph.add_argument("--profile", metavar="ID", action="append", help="also evaluate this profile (repeatable)")
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        if args.command == "validate":
            return cmd_validate(args)
        if args.command == "show":
            return cmd_show(args)
        if args.command == "query":
            return cmd_query(args, args.parser)
        return cmd_graph(args, args.parser)
    except Failure as error:
        print(f"quillane: {error}", file=sys.stderr)
        return EXIT_ERROR
    except BrokenPipeError:
        # The reader went away (`quillane show r.json | head`): stop quietly.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_CLEAN


if __name__ == "__main__":
    sys.exit(main())
