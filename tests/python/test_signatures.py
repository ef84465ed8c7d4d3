"""Every function and method publishes its signature to inspect."""
import inspect

import pytest

import quillane

QUERIES = {
    "descent": "(id)", "descendants": "(id)", "siblings": "(id)", "frontier": "()",
    "standing": "(id)", "evidence": "(id)", "selected": "(objective)",
}
WRITER = {
    "request": "(author, objective)",
    "requirement": "(author, request, key, description, *, required=True, expected_evidence=None, provenance=None)",
    "candidate": (
        "(author, git_tree, *, git_commit=None, algo='sha1', note=None, continues=None, parent=None, "
        "derives_from=None, upgrades=None, manifest=None, artifacts=None)"
    ),
    "evaluate": (
        "(author, candidate, criterion, *, passed=False, failed=False, score=None, scale=None, procedure=None, "
        "uses=None, blocked=False, insufficient=False, stale=False, not_run=False, evaluator=None, "
        "evaluator_version=None, procedure_hash=None, input_hash=None, basis=None, requirements=None, "
        "artifacts=None, attested=False)"
    ),
    "select": "(author, objective, consider, *, choose=None, uses_eval=None, none=False, replaces=None, rationale=None)",
    "retract": "(author, target, reason)",
    "receipt": "(profiles=None)",
    **QUERIES,
}


@pytest.mark.parametrize(
    "function, text",
    [
        (quillane.read, "(data)"),
        (quillane.validate, "(data, require_profile=None)"),
        (quillane.default_rules,
         "(authors, max_context=200, admins=None, reaffirmers=None, signed=False, author_keys=None)"),
        (quillane.Writer, "(log_dir, rules, signers=None)"),
    ],
    ids=lambda v: getattr(v, "__name__", ""),
)
def test_module_level(function, text):
    assert str(inspect.signature(function)) == text


@pytest.mark.parametrize("name", WRITER)
def test_writer_methods(writer, name):
    assert str(inspect.signature(getattr(writer, name))) == WRITER[name]
    unbound = "(self, /)" if WRITER[name] == "()" else "(self, /, " + WRITER[name][1:]
    assert str(inspect.signature(getattr(quillane.Writer, name))) == unbound
    assert getattr(quillane.Writer, name).__doc__.strip()  # prose follows the signature line


@pytest.mark.parametrize("name", QUERIES)
def test_receipt_methods(writer, name):
    receipt = quillane.read(writer.receipt())
    assert str(inspect.signature(getattr(receipt, name))) == QUERIES[name]
    assert getattr(quillane.Receipt, name).__doc__ == getattr(quillane.Writer, name).__doc__


def test_every_public_callable_has_a_signature(writer):
    receipt = quillane.read(writer.receipt())
    callables = [getattr(quillane, n) for n in ("read", "validate", "default_rules", "Writer")]
    callables += [getattr(writer, n) for n in dir(writer) if not n.startswith("_") and callable(getattr(writer, n))]
    callables += [getattr(receipt, n) for n in dir(receipt) if not n.startswith("_")
                  and callable(getattr(receipt, n))]
    for c in callables:
        inspect.signature(c)
