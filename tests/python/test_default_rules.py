import inspect
import json

import pytest

import quillane

KEY = "ab" * 32
FIELDS = [
    "space", "kind_schema_map", "signature_required_kinds", "author_keys", "author_roles",
    "admin_retraction_actors", "allowed_summary_types", "evidence_thresholds", "max_context_records",
    "min_binding", "selection_requires_evaluation", "reaffirmation_actors", "max_considered",
    "selection_requires_approval", "reject_compromised_continuation",
]


def rules(*args, **kwargs):
    return json.loads(quillane.default_rules(*args, **kwargs))


def test_module_surface():
    assert quillane.__version__ == "0.11.0"
    assert quillane.__doc__ == ""
    assert str(inspect.signature(quillane.default_rules)) == (
        "(authors, max_context=200, admins=None, reaffirmers=None, signed=False, author_keys=None)"
    )
    public = [name for name in vars(quillane) if not name.startswith("__")]
    assert public == ["validate", "read", "default_rules", "Report", "Receipt", "Record", "Writer", "Commit"]


def test_baseline_text():
    text = quillane.default_rules({"alice": "User"})
    assert " " not in text and "\n" not in text
    r = json.loads(text)
    assert list(r) == FIELDS
    assert r["space"] == list(bytes.fromhex("976250746895a79f9f1442ea02d679c380c4bb1096fec807cf99088021555e7e"))
    assert len(r["kind_schema_map"]) == 20
    assert r["author_roles"] == {"alice": "User"}
    assert r["evidence_thresholds"] == {"Candidate": "Reported", "Evaluation": "Reported", "Selection": "Inferred"}
    assert r["allowed_summary_types"] == ["Procedure", "Pattern", "Lesson", "StateSnapshot"]
    assert r["max_context_records"] == 200
    assert (r["min_binding"], r["selection_requires_evaluation"], r["max_considered"]) == ("reported", True, 4096)
    assert r["signature_required_kinds"] == [] and r["author_keys"] == {}
    assert not r["selection_requires_approval"] and not r["reject_compromised_continuation"]


def test_arguments_shape_the_rules():
    r = rules(
        {"bob": "PROVIDER", "alice": "vErIfIeR", "carol": "user"},
        max_context=0,
        admins=["alice", "alice"],
        reaffirmers=("carol",),
        signed=True,
        author_keys={"alice": [f"  {KEY}\n", KEY], "bob": ["\u2003" + "cd" * 32]},
    )
    assert r["author_roles"] == {"alice": "Verifier", "bob": "Provider", "carol": "User"}
    assert r["max_context_records"] == 0
    assert r["admin_retraction_actors"] == ["alice"]
    assert r["reaffirmation_actors"] == ["carol"]
    assert r["signature_required_kinds"] == ["Retraction", "Candidate", "Evaluation", "Selection", "Requirement"]
    assert r["author_keys"] == {"alice": [[0xAB] * 32], "bob": [[0xCD] * 32]}
    assert rules({"a": "user"}, admins=[], reaffirmers=None, author_keys={})["admin_retraction_actors"] == []


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"authors": {}, "admins": ["x"], "author_keys": {"x": ["bad"]}},
         "default_rules needs at least one author binding"),
        ({"authors": {"": "user"}}, "author id must be non-empty"),
        ({"authors": {" a": "user", "b": "ADMIN"}}, 'invalid role "admin" (user|provider|system|executor|verifier)'),
        ({"authors": {"a": " user"}}, 'invalid role " user" (user|provider|system|executor|verifier)'),
        ({"authors": {"a": ""}}, 'invalid role "" (user|provider|system|executor|verifier)'),
        ({"authors": {"a": "user\n"}}, 'invalid role "user\\n" (user|provider|system|executor|verifier)'),
        ({"authors": {"a": "user"}, "admins": ["bob"], "reaffirmers": ["eve"]},
         'admins entry "bob" has no author binding; add it to authors'),
        ({"authors": {"a": "user"}, "admins": ["a"], "reaffirmers": ["bob"]},
         'reaffirmers entry "bob" has no author binding; add it to authors'),
        ({"authors": {"a": "user"}, "admins": ["A"]}, 'admins entry "A" has no author binding; add it to authors'),
        ({"authors": {"a": "user"}, "author_keys": {"z": [KEY], "b": []}},
         'author_keys entry "b" has no author binding; add it to authors'),
        ({"authors": {"a": "user"}, "author_keys": {"a": []}}, 'author_keys entry "a" lists no keys'),
        ({"authors": {"a": "user"}, "author_keys": {"a": [KEY.upper()]}},
         'author_keys entry "a": a public key must be 64 lowercase hex characters'),
        ({"authors": {"a": "user"}, "author_keys": {"a": [KEY[:63]]}},
         'author_keys entry "a": a public key must be 64 lowercase hex characters'),
        ({"authors": {"a": "user"}, "author_keys": {"a": [KEY + "0"]}},
         'author_keys entry "a": a public key must be 64 lowercase hex characters'),
    ],
)
def test_rule_violations(kwargs, message):
    with pytest.raises(ValueError) as info:
        quillane.default_rules(**kwargs)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "kwargs, exc, name",
    [
        ({"authors": ["a"]}, TypeError, "authors"),
        ({"authors": {1: "user"}}, TypeError, "authors"),
        ({"authors": {"a": 1}}, TypeError, "authors"),
        ({"authors": {"\ud800": "user"}}, UnicodeEncodeError, "authors"),
        ({"authors": {"a": "user"}, "max_context": -1}, OverflowError, "max_context"),
        ({"authors": {"a": "user"}, "max_context": 2**32}, OverflowError, "max_context"),
        ({"authors": {"a": "user"}, "max_context": 1.5}, TypeError, "max_context"),
        ({"authors": {"a": "user"}, "admins": "a"}, TypeError, "admins"),
        ({"authors": {"a": "user"}, "reaffirmers": [1]}, TypeError, "reaffirmers"),
        ({"authors": {"a": "user"}, "signed": 1}, TypeError, "signed"),
        ({"authors": {"a": "user"}, "author_keys": {"a": KEY}}, TypeError, "author_keys"),
        # A type error is reported before any rule violation.
        ({"authors": {}, "signed": "yes"}, TypeError, "signed"),
    ],
)
def test_conversion_errors_carry_the_parameter(kwargs, exc, name):
    with pytest.raises(exc) as info:
        quillane.default_rules(**kwargs)
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_call_shape_errors():
    with pytest.raises(TypeError):
        quillane.default_rules()
    with pytest.raises(TypeError):
        quillane.default_rules({"a": "user"}, bogus=1)
    assert quillane.default_rules({"a": "user"}, 7) == quillane.default_rules(authors={"a": "user"}, max_context=7)


def test_only_the_entry_point_is_exported():
    import shutil
    import subprocess

    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    out = subprocess.run([nm, "-D", "--defined-only", quillane.__file__], capture_output=True, text=True, check=True)
    assert [line.split()[-1] for line in out.stdout.splitlines()] == ["PyInit_quillane"]
