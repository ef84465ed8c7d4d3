"""The `quillane` console script, run as a user would, on receipts made here."""
import collections
import html.parser
import json
import os
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET
import zlib
from pathlib import Path

import pytest

import quillane
from support import TREE_A, Story, make_rules

SCRIPT = Path(sys.executable).parent / "quillane"
QUERY_NAMES = ["descent", "descendants", "siblings", "frontier", "standing", "evidence", "selected"]


@pytest.fixture(scope="module")
def receipts(tmp_path_factory):
    """Receipt files: tainted (the Story plus a rejected Selection), clean, invalid, not JSON."""
    root = tmp_path_factory.mktemp("receipts")
    w = quillane.Writer(str(root / "log"), make_rules())
    story = Story(w)
    rejected = w.select("bot", "pick", [story.c2.id], choose=[story.c0.id], uses_eval=[story.e2.id])
    assert rejected.reason == "RefUnresolved"
    (root / "tainted.json").write_bytes(w.receipt(["quillane-core-v1"]))

    clean = quillane.Writer(str(root / "clean-log"), make_rules())
    clean.request("alice", "make it fast")
    clean.candidate("bot", TREE_A)
    (root / "clean.json").write_bytes(clean.receipt())

    doc = json.loads(clean.receipt())
    payload = doc["records"][0]["data"]
    payload[payload.index(ord("f"))] = ord("F")  # "make it Fast": the id no longer matches
    (root / "invalid.json").write_text(json.dumps(doc))
    (root / "garbage.json").write_text("this is not a receipt\n")
    (root / "dir.json").mkdir()
    return {"root": root, "story": story, "rejected": rejected, "writer": w}


def run(*args, cwd=None, input=None):
    assert SCRIPT.exists(), f"{SCRIPT} is missing: install the package (bash scripts/demo.sh)"
    return subprocess.run(
        [str(SCRIPT), *map(str, args)], capture_output=True, text=True, timeout=60, cwd=cwd, input=input
    )


def path(receipts, name):
    return receipts["root"] / name


@pytest.mark.parametrize(
    "args, status, stdout_start, stderr_start",
    [
        (["validate", "clean.json"], 0, "status:          CLEAN\n", ""),
        (["validate", "tainted.json"], 1, "status:          TAINTED\n", ""),
        (["validate", "invalid.json"], 2, "status:          INVALID\nreject reason:   InvalidPayload\n", ""),
        (["validate", "garbage.json"], 2, "status:          INVALID\nproblem:         unparseable receipt: ", ""),
        (["validate", "missing.json"], 3, "", "quillane: cannot read missing.json: No such file or directory"),
        (["validate", "dir.json"], 3, "", "quillane: cannot read dir.json: Is a directory"),
        (["show", "garbage.json"], 3, "", "quillane: garbage.json is not a receipt (not a parseable receipt: "),
        (["query", "garbage.json", "frontier"], 3, "", "quillane: garbage.json is not a receipt"),
        (["graph", "missing.json", "-o", "x.dot"], 3, "", "quillane: cannot read missing.json"),
        (["query", "invalid.json", "frontier"], 3, "", "quillane: query frontier refused: log does not verify"),
        (["query", "tainted.json", "descent", "0000"], 3, "", "quillane: no record id starts with 0000"),
        (["query", "tainted.json", "descent", "0" * 64], 3, "", f"quillane: query descent refused: record {'0' * 64} not found"),
        (["graph", "tainted.json", "-o", "no/such/dir/x.dot"], 3, "", "quillane: cannot write no/such/dir/x.dot"),
        ([], 4, "", "usage: quillane"),
        (["frobnicate"], 4, "", "usage: quillane"),
        (["validate"], 4, "", "usage: quillane validate"),
        (["query", "tainted.json", "nosuch"], 4, "", "usage: quillane query"),
        (["query", "tainted.json", "descent"], 4, "", "usage: quillane query"),
        (["query", "tainted.json", "frontier", "extra"], 4, "", "usage: quillane query"),
        (["graph", "tainted.json"], 4, "", "usage: quillane graph"),
        (["graph", "tainted.json", "-o", "x.png"], 4, "", "usage: quillane graph"),
    ],
)
def test_exit_status_and_messages(receipts, args, status, stdout_start, stderr_start):
    done = run(*args, cwd=receipts["root"])
    assert done.returncode == status, done.stderr
    assert done.stdout.startswith(stdout_start)
    assert done.stderr.startswith(stderr_start)
    assert "Traceback" not in done.stderr
    if status == 3:
        assert done.stdout == "" and done.stderr.count("\n") == 1


@pytest.mark.parametrize("command", ["", "validate", "show", "query", "graph"])
def test_every_command_has_help(command):
    done = run(*([command] if command else []), "--help")
    assert done.returncode == 0
    assert done.stdout.startswith("usage: quillane" + (f" {command}" if command else ""))
    assert "4  malformed command line" in done.stdout


def test_validate_prints_the_report_text(receipts):
    data = path(receipts, "tainted.json").read_bytes()
    done = run("validate", path(receipts, "tainted.json"), "--profile", "quillane-core-v1", "--profile", "nope")
    assert done.stdout == str(quillane.validate(data, ["quillane-core-v1", "nope"]))


def test_validate_json_carries_every_report_field(receipts):
    data = path(receipts, "tainted.json").read_bytes()
    report = quillane.validate(data, ["nope"])
    done = run("validate", "-", "--json", "--profile", "nope", input=data.decode())
    assert done.returncode == 1
    assert json.loads(done.stdout) == {
        "status": "tainted",
        "is_clean": False,
        "reason": None,
        "problem": None,
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
    assert [p["id"] for p in report.profiles] == ["quillane-core-v1", "nope"]


def test_show_lists_every_record_with_its_verdict(receipts):
    story, rejected = receipts["story"], receipts["rejected"]
    records = quillane.read(path(receipts, "tainted.json").read_bytes()).records
    done = run("show", path(receipts, "tainted.json"))
    assert done.returncode == 0
    headline, header, *rows = done.stdout.splitlines()
    assert headline.endswith(f"tainted.json: {len(records)} records, spec 0.4, TAINTED")
    assert header.split() == ["time", "kind", "author", "id", "verdict", "notes"]
    assert [row.split()[:3] for row in rows] == [[str(r.time), r.kind, r.author_id] for r in records]
    by_id = {row.split()[4]: row for row in rows}
    expectations = {  # verdict, then notes: states, then what the record says
        story.request.id: "accept make it fast",
        story.e1.id: "accept retracted; tests: passed",
        story.s1.id: f"accept unsound; tainted; restored by {story.s2.id[:12]}; pick",
        story.c0.id: "accept retracted; compromised; abandoned",
        rejected.id: "reject (RefUnresolved) pick",
    }
    for record_id, text in expectations.items():
        assert " ".join(by_id[record_id[:12]].split(record_id[:12], 1)[1].split()) == text
    verdict_of_request = rows[1]
    assert verdict_of_request.split()[1] == "Verdict" and verdict_of_request.endswith(f"judges {story.request.id[:12]}")


def test_every_query_matches_the_module(receipts):
    story = receipts["story"]
    receipt = quillane.read(path(receipts, "tainted.json").read_bytes())
    cases = [
        ("descent", story.c2.id),
        ("descendants", story.s1.id),
        ("siblings", story.c2.id),
        ("frontier", None),
        ("standing", story.s1.id),
        ("evidence", story.c2.id),
        ("selected", "pick"),
    ]
    assert [name for name, _ in cases] == QUERY_NAMES
    for name, arg in cases:
        args = [] if arg is None else [arg[:12] if name != "selected" else arg]
        done = run("query", path(receipts, "tainted.json"), name, *args)
        assert done.returncode == 0, done.stderr
        expected = getattr(receipt, name)(*([] if arg is None else [arg]))
        assert json.loads(done.stdout) == expected
        assert done.stdout == json.dumps(expected, indent=2) + "\n"


def graph_nodes(receipts):
    return [r for r in quillane.read(path(receipts, "tainted.json").read_bytes()).records if r.kind != "Verdict"]


def test_graph_dot_has_a_node_per_record_and_an_edge_per_reference(receipts, tmp_path):
    nodes = graph_nodes(receipts)
    done = run("graph", path(receipts, "tainted.json"), "-o", tmp_path / "g.dot")
    assert (done.returncode, done.stdout) == (0, f"{tmp_path / 'g.dot'}\n")
    dot = (tmp_path / "g.dot").read_text()
    assert dot.startswith("digraph evolution {")
    declared = {line.split()[0].strip('"') for line in dot.splitlines() if "[id=" in line}
    assert declared == {r.id for r in nodes}
    story = receipts["story"]
    # Each reference is drawn from the target down to the record holding it.
    expected_edges = {(ref["target"], r.id, ref["type"]) for r in nodes for ref in r.refs}
    expected_edges.add((story.c1.id, story.c2.id, "parent"))  # the continuation's parent
    expected_edges.add((story.c2.id, receipts["rejected"].id, "considered"))  # considered, not chosen
    drawn = set()
    for line in dot.splitlines():
        if " -> " in line:
            target, _, source = line.split()[:3]
            drawn.add((target.strip('"'), source.strip('"'), line.split('label="')[1].split('"')[0]))
    assert drawn == expected_edges
    if shutil.which("dot"):
        rendered = subprocess.run(["dot", "-Tsvg", str(tmp_path / "g.dot")], capture_output=True, timeout=60)
        assert rendered.returncode == 0, rendered.stderr


@pytest.mark.parametrize("layout", ["builtin", "dot"])
def test_graph_svg_colours_each_node_by_its_state(receipts, tmp_path, layout):
    if layout == "dot" and not shutil.which("dot"):
        pytest.skip("Graphviz is not installed")
    story, rejected = receipts["story"], receipts["rejected"]
    done = run("graph", path(receipts, "tainted.json"), "-o", tmp_path / "g.svg", "--layout", layout)
    assert done.returncode == 0, done.stderr
    root = ET.parse(tmp_path / "g.svg").getroot()
    groups = {g.get("id"): g for g in root.iter("{http://www.w3.org/2000/svg}g") if g.get("id", "").startswith("n-")}
    assert set(groups) == {"n-" + r.id for r in graph_nodes(receipts)}
    fills = {
        story.c1.id: "#cdeccb",  # sound
        story.request.id: "#dfe9f6",  # live
        story.e1.id: "#f6c1bb",  # retracted
        story.s1.id: "#e2cdf3",  # unsound
        story.c0.id: "#f6c1bb",  # retracted (and compromised)
        rejected.id: "#e6e6e6",  # rejected
    }
    for record_id, fill in fills.items():
        painted = [e.get("fill") for e in groups["n-" + record_id].iter() if e.get("fill") not in (None, "none")]
        assert painted[0] == fill, record_id


def test_graph_html_page_is_self_contained(receipts, tmp_path):
    done = run("graph", path(receipts, "tainted.json"), "-o", tmp_path / "g.html", "--profile", "nope")
    assert done.returncode == 0, done.stderr
    page = (tmp_path / "g.html").read_text()
    parser = TagCollector()
    parser.feed(page)
    assert parser.tags.count("svg") == 1
    assert not [a for a in parser.links if a.startswith(("http:", "https:", "//", "file:"))]
    report = quillane.validate(path(receipts, "tainted.json").read_bytes(), ["nope"])
    assert html_text(str(report)) in page
    for profile in ("quillane-core-v1", "nope"):
        assert f"<code>{profile}</code>" in page


class TagCollector(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.tags, self.links = [], []

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)
        self.links += [v for k, v in attrs if k in ("src", "href") and v]


def html_text(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


# --- the page in a real browser ---------------------------------------------------


def chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        if shutil.which(name):
            return shutil.which(name)
    if os.environ.get("CI"):
        pytest.fail("chromium is missing: scripts/test.sh installs Debian's chromium package")
    pytest.skip("chromium is not installed")


def read_png(data):
    """Width, height and pixel colours (RGB tuples, row by row) of an 8-bit RGB or RGBA PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos : pos + 4])
        kind, body = data[pos + 4 : pos + 8], data[pos + 8 : pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and colour in (2, 6) and interlace == 0
    step = 3 if colour == 2 else 4
    raw, stride = zlib.decompress(idat), width * step
    prev, pixels = bytes(stride), []
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1 : (y + 1) * (stride + 1)])
        if kind == 2:
            line = bytearray(map(lambda x, b: (x + b) & 255, line, prev))
        elif kind in (1, 3, 4):
            for i in range(stride):
                a = line[i - step] if i >= step else 0
                b = prev[i]
                if kind == 1:
                    line[i] = (line[i] + a) & 255
                elif kind == 3:
                    line[i] = (line[i] + (a + b) // 2) & 255
                else:
                    c = prev[i - step] if i >= step else 0
                    p = a + b - c
                    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                    line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        pixels.append([bytes(line[x : x + 3]) for x in range(0, stride, step)])
        prev = line
    return width, height, pixels


@pytest.mark.parametrize("layout", ["builtin", "dot"])
def test_the_page_shows_the_graph_in_chromium(receipts, tmp_path, layout):
    if layout == "dot" and not shutil.which("dot"):
        pytest.skip("Graphviz is not installed")
    browser = chromium()
    page, shot = tmp_path / "graph.html", tmp_path / "graph.png"
    assert run("graph", path(receipts, "tainted.json"), "-o", page, "--layout", layout).returncode == 0
    # Half-scale pixels keep the picture small enough to decode here.
    done = subprocess.run(
        [browser, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars", "--window-size=1400,900",
         "--force-device-scale-factor=0.5", f"--screenshot={shot}", page.as_uri()],
        capture_output=True, timeout=120,
    )
    assert done.returncode == 0 and shot.exists(), done.stderr
    width, height, pixels = read_png(shot.read_bytes())
    assert (width, height) == (700, 450)
    # The graph fills the left of the page, beside the 34rem report column.
    graph = collections.Counter(rgb for row in pixels[30:] for rgb in row[: width - 280])
    for name, fill in [("sound", "cdeccb"), ("retracted", "f6c1bb"), ("unsound", "e2cdf3"), ("rejected", "e6e6e6")]:
        assert graph[bytes.fromhex(fill)] > 100, f"no {name} node in the screenshot"


def test_text_from_a_hostile_receipt_cannot_drive_the_terminal_or_forge_lines(receipts, tmp_path):
    doc = json.loads(path(receipts, "tainted.json").read_text())
    doc["profiles"][0]["id"] = "\x1b[2J\nprofile quillane-core-v1: CONFORMANT"
    doc["records"][0]["author"]["id"] = "alice\x1b]0;owned\x07"
    (tmp_path / "hostile.json").write_text(json.dumps(doc))
    outputs = [run(command, tmp_path / "hostile.json").stdout for command in ("validate", "show")]
    assert run("graph", tmp_path / "hostile.json", "-o", tmp_path / "g.svg", "--layout", "builtin").returncode == 0
    outputs.append((tmp_path / "g.svg").read_text())
    ET.parse(tmp_path / "g.svg")  # still well-formed XML
    for text in outputs:
        assert not any(c in text for c in "\x1b\x07")
    assert not [line for line in outputs[0].splitlines() if line.startswith("profile quillane-core-v1: CONFORMANT")]
    assert "profile \\u{1b}[2J\\u{a}profile quillane-core-v1: CONFORMANT: UNKNOWN (declared)" in outputs[0]
