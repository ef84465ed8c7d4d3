"""Pictures of an evolution graph: Graphviz DOT, SVG and a self-contained HTML page.

Time flows downwards: a record sits below the records it references, and each
arrow points from a record to the earlier record it references, styled by the
reference type. Nodes are filled by their state (see `evolution.STATES`).

SVG comes from the Graphviz `dot` program when it is installed, and from a
plain layered layout of our own otherwise (`svg(..., layout="builtin")`).
"""

from __future__ import annotations

import html
import shutil
import subprocess
from collections import defaultdict

from .evolution import EDGE_TEXT, STATE_TEXT, STATES, Edge, Evolution, Node, printable, report_text

# State -> (fill, stroke, dashed border)
STATE_STYLE: dict[str, tuple[str, str, bool]] = {
    "rejected": ("#e6e6e6", "#7a7a7a", True),
    "retracted": ("#f6c1bb", "#b03a2e", False),
    "compromised": ("#e2cdf3", "#7d3c98", False),
    "unsound": ("#e2cdf3", "#7d3c98", False),
    "tainted": ("#ffd9a0", "#c35a00", False),
    "unverified": ("#ffffff", "#9a9a9a", True),
    "sound": ("#cdeccb", "#2e7d32", False),
    "live": ("#dfe9f6", "#44627f", False),
}

# Edge type -> (colour, dash pattern for SVG or "", Graphviz style)
EDGE_STYLE: dict[str, tuple[str, str, str]] = {
    "Cause": ("#555555", "", "solid"),
    "Use": ("#1f6fb2", "", "solid"),
    "Require": ("#2e7d32", "", "bold"),
    "Replace": ("#b03a2e", "6 3", "dashed"),
    "parent": ("#8a8a8a", "2 3", "dotted"),
    "considered": ("#b5b5b5", "2 3", "dotted"),
}

# Kind -> (Graphviz shape, extra style, peripheries)
DOT_SHAPES: dict[str, tuple[str, str, int]] = {
    "Request": ("folder", "", 1),
    "Requirement": ("note", "", 1),
    "Candidate": ("box", ",rounded", 1),
    "Evaluation": ("box", "", 1),
    "Selection": ("box", ",rounded", 2),
    "Retraction": ("box", ",diagonals", 1),
}

STATUS_COLOUR = {"clean": "#2e7d32", "tainted": "#c35a00", "invalid": "#b03a2e"}


def node_lines(node: Node) -> list[str]:
    """The text lines of a node's label: kind and id, time and author, summary, flags."""
    signed = ", signed" if node.signed else ""
    lines = [f"{node.kind} {node.short}", f"t{node.time} · {printable(node.author)} ({node.author_type}{signed})"]
    lines += node.summary
    lines += [flag.upper() if flag in ("retracted", "compromised", "unsound") else flag for flag in node.flags]
    return lines


def _dot_quote(text: str) -> str:
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def to_dot(evolution: Evolution) -> str:
    """The graph as Graphviz DOT text."""
    out = [
        "digraph evolution {",
        "  rankdir=TB; ranksep=0.45; nodesep=0.3;",
        '  node [fontname="Helvetica", fontsize=10, margin="0.12,0.06"];',
        '  edge [fontname="Helvetica", fontsize=8, arrowsize=0.7];',
    ]
    for node in evolution.nodes:
        fill, stroke, dashed = STATE_STYLE[node.state]
        shape, extra, peripheries = DOT_SHAPES.get(node.kind, ("box", "", 1))
        attrs = {
            "id": f"n-{node.id}",
            "label": "\n".join(node_lines(node)),
            "shape": shape,
            "style": "filled" + extra + (",dashed" if dashed else ""),
            "peripheries": str(peripheries),
            "fillcolor": fill,
            "color": stroke,
            "tooltip": f"{node.id}\n{STATE_TEXT[node.state]}",
        }
        rendered = ", ".join(f"{k}={_dot_quote(v)}" for k, v in attrs.items())
        out.append(f"  {_dot_quote(node.id)} [{rendered}];")
    for edge in evolution.edges:
        colour, _, style = EDGE_STYLE[edge.type]
        # Written target -> source with dir=back, so that earlier records rank
        # above later ones while the arrow still points at the target.
        out.append(
            f"  {_dot_quote(edge.target)} -> {_dot_quote(edge.source)} "
            f'[dir=back, label={_dot_quote(edge.type)}, color="{colour}", fontcolor="{colour}", style={style}];'
        )
    out.append("}")
    return "\n".join(out) + "\n"


def dot_available() -> bool:
    return shutil.which("dot") is not None


def dot_svg(evolution: Evolution) -> str:
    """SVG rendered by Graphviz; `RuntimeError` when `dot` is missing or fails."""
    program = shutil.which("dot")
    if program is None:
        raise RuntimeError("the Graphviz program `dot` is not installed")
    try:
        done = subprocess.run(
            [program, "-Tsvg"], input=to_dot(evolution).encode(), capture_output=True, timeout=60, check=False
        )
    except (OSError, subprocess.TimeoutExpired) as error:
        raise RuntimeError(f"dot failed: {error}") from error
    if done.returncode != 0:
        raise RuntimeError("dot failed: " + done.stderr.decode(errors="replace").strip())
    text = done.stdout.decode()
    return text[text.index("<svg") :]


# --- the builtin layered layout -------------------------------------------

CHAR_W = 6.7  # width of one character of the 11px monospace font
LINE_H = 15
PAD_X, PAD_Y = 9, 7
GAP_X, GAP_Y = 26, 58
MARGIN = 20


def _ranks(evolution: Evolution) -> list[list[Node]]:
    """Layers: a node sits one layer below the lowest node it references."""
    targets: dict[str, list[str]] = defaultdict(list)
    for edge in evolution.edges:
        targets[edge.source].append(edge.target)
    rank: dict[str, int] = {}
    for node in sorted(evolution.nodes, key=lambda n: n.time):
        rank[node.id] = 1 + max((rank.get(t, -1) for t in targets[node.id]), default=-1)
    layers: list[list[Node]] = [[] for _ in range(1 + max(rank.values(), default=-1))]
    for node in sorted(evolution.nodes, key=lambda n: n.time):
        layers[rank[node.id]].append(node)

    # A few barycentre sweeps to cut edge crossings.
    neighbours: dict[str, list[str]] = defaultdict(list)
    for edge in evolution.edges:
        neighbours[edge.source].append(edge.target)
        neighbours[edge.target].append(edge.source)
    for sweep in range(4):
        order = range(1, len(layers)) if sweep % 2 == 0 else range(len(layers) - 2, -1, -1)
        for index in order:
            fixed = layers[index - 1] if sweep % 2 == 0 else layers[index + 1]
            position = {n.id: i for i, n in enumerate(fixed)}
            # Scale both to 0..1 so that unconnected nodes keep their place.
            span_fixed = max(len(fixed) - 1, 1)
            span_here = max(len(layers[index]) - 1, 1)
            barycentre: dict[str, float] = {}
            for i, node in enumerate(layers[index]):
                near = [position[m] / span_fixed for m in neighbours[node.id] if m in position]
                barycentre[node.id] = sum(near) / len(near) if near else i / span_here
            layers[index].sort(key=lambda n: (barycentre[n.id], n.time))
    return layers


def builtin_svg(evolution: Evolution) -> str:
    """SVG of the graph in a plain layered layout, without external programs."""
    layers = _ranks(evolution)
    size: dict[str, tuple[float, float]] = {}
    for node in evolution.nodes:
        lines = node_lines(node)
        size[node.id] = (max(len(line) for line in lines) * CHAR_W + 2 * PAD_X, len(lines) * LINE_H + 2 * PAD_Y)
    widths = [sum(size[n.id][0] for n in layer) + GAP_X * max(len(layer) - 1, 0) for layer in layers]
    total_w = max(widths, default=0) + 2 * MARGIN
    pos: dict[str, tuple[float, float]] = {}
    y = float(MARGIN)
    for layer, width in zip(layers, widths):
        x = (total_w - width) / 2
        height = max((size[n.id][1] for n in layer), default=0.0)
        for node in layer:
            pos[node.id] = (x, y)
            x += size[node.id][0] + GAP_X
        y += height + GAP_Y
    total_h = y - GAP_Y + MARGIN

    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{total_w:.0f}" height="{total_h:.0f}" '
        f'viewBox="0 0 {total_w:.0f} {total_h:.0f}" font-family="DejaVu Sans Mono, Menlo, Consolas, monospace" '
        'font-size="11">',
        "<defs>",
    ]
    for kind, (colour, _, _) in EDGE_STYLE.items():
        out.append(
            f'<marker id="arrow-{kind}" viewBox="0 0 10 10" refX="9" refY="5" markerWidth="7" markerHeight="7" '
            f'orient="auto-start-reverse"><path d="M0,0 L10,5 L0,10 z" fill="{colour}"/></marker>'
        )
    out.append("</defs>")
    out.append(f'<rect width="{total_w:.0f}" height="{total_h:.0f}" fill="#ffffff"/>')

    # Spread the ends of several edges along a node's edge.
    outgoing: dict[str, list[Edge]] = defaultdict(list)
    incoming: dict[str, list[Edge]] = defaultdict(list)
    for edge in evolution.edges:
        outgoing[edge.source].append(edge)
        incoming[edge.target].append(edge)

    def centre_x(record_id: str) -> float:
        return pos[record_id][0] + size[record_id][0] / 2

    def anchor(record_id: str, edge: Edge, edges: list[Edge], other: str) -> float:
        ordered = sorted(edges, key=lambda e: centre_x(getattr(e, other)))
        x, _ = pos[record_id]
        width = size[record_id][0]
        return x + width * (ordered.index(edge) + 1) / (len(ordered) + 1)

    for edge in evolution.edges:
        colour, dash, _ = EDGE_STYLE[edge.type]
        sx = anchor(edge.source, edge, outgoing[edge.source], "target")
        sy = pos[edge.source][1]
        tx = anchor(edge.target, edge, incoming[edge.target], "source")
        ty = pos[edge.target][1] + size[edge.target][1]
        bend = max((sy - ty) * 0.45, 20)
        dash_attr = f' stroke-dasharray="{dash}"' if dash else ""
        width = 2 if edge.type == "Require" else 1.3
        out.append(
            f'<path class="edge edge-{edge.type}" d="M{sx:.1f},{sy:.1f} C{sx:.1f},{sy - bend:.1f} '
            f'{tx:.1f},{ty + bend:.1f} {tx:.1f},{ty:.1f}" fill="none" stroke="{colour}" stroke-width="{width}"'
            f'{dash_attr} marker-end="url(#arrow-{edge.type})"><title>{html.escape(edge.type)}: '
            f"{edge.source[:12]} → {edge.target[:12]}</title></path>"
        )

    for node in evolution.nodes:
        left, top = pos[node.id]
        w, h = size[node.id]
        fill, stroke, dashed = STATE_STYLE[node.state]
        dash_attr = ' stroke-dasharray="5 3"' if dashed else ""
        out.append(f'<g class="node state-{node.state}" id="n-{node.id}">')
        out.append(f"<title>{html.escape(node.id)}&#10;{html.escape(STATE_TEXT[node.state])}</title>")
        out.append(
            f'<rect x="{left:.1f}" y="{top:.1f}" width="{w:.1f}" height="{h:.1f}" rx="6" fill="{fill}" '
            f'stroke="{stroke}" stroke-width="1.5"{dash_attr}/>'
        )
        if node.kind == "Selection":  # a double border, as in the Graphviz picture
            out.append(
                f'<rect x="{left + 3:.1f}" y="{top + 3:.1f}" width="{w - 6:.1f}" height="{h - 6:.1f}" rx="4" '
                f'fill="none" stroke="{stroke}" stroke-width="1"{dash_attr}/>'
            )
        for i, line in enumerate(node_lines(node)):
            weight = ' font-weight="bold"' if i == 0 else ""
            out.append(
                f'<text x="{left + PAD_X:.1f}" y="{top + PAD_Y + LINE_H * (i + 1) - 4:.1f}"{weight} '
                f'fill="#1b1b1b">{html.escape(line)}</text>'
            )
        out.append("</g>")
    out.append("</svg>")
    return "\n".join(out) + "\n"


def svg(evolution: Evolution, layout: str = "auto") -> str:
    """SVG of the graph: `layout` is "dot", "builtin" or "auto" (dot when installed)."""
    if layout == "dot" or (layout == "auto" and dot_available()):
        return dot_svg(evolution)
    return builtin_svg(evolution)


# --- the HTML page ----------------------------------------------------------


def declaration_note(profile_declared: bool, matches: bool | None) -> str:
    """The note the report text writes after a profile's status."""
    if not profile_declared:
        return "required"
    if matches is None:
        return "declared"
    return "declared, declaration matches" if matches else "declared, DECLARATION MISMATCH"


PAGE_STYLE = """
body { margin: 0; font: 14px/1.4 system-ui, -apple-system, "Segoe UI", sans-serif; color: #1b1b1b; }
header { padding: 10px 18px; border-bottom: 1px solid #ddd; display: flex; gap: 14px; align-items: baseline;
  flex-wrap: wrap; }
header h1 { font-size: 18px; margin: 0; }
.badge { display: inline-block; padding: 1px 9px; border-radius: 10px; color: #fff; font-weight: 600;
  font-size: 13px; }
.facts { color: #555; font-size: 13px; }
main { display: grid; grid-template-columns: minmax(0, 1fr) 34rem; height: calc(100vh - 48px); }
#graph { overflow: auto; padding: 10px; background: #fafafa; }
#graph svg { display: block; }
body:has(#fit:checked) #graph svg { max-width: 100%; height: auto; }
label.fit { font-size: 13px; color: #555; margin-left: auto; }
aside { overflow: auto; border-left: 1px solid #ddd; padding: 4px 16px 16px; }
aside h2 { font-size: 15px; margin: 16px 0 6px; }
pre { font-size: 11px; background: #f4f4f4; padding: 8px; overflow-x: auto; margin: 0; }
table { border-collapse: collapse; font-size: 12.5px; width: 100%; }
td, th { text-align: left; padding: 2px 6px; vertical-align: top; border-bottom: 1px solid #eee; }
.pass { color: #2e7d32; font-weight: 600; } .fail { color: #b03a2e; font-weight: 600; }
.profile { margin-bottom: 12px; } .profile td:nth-child(-n+2) { width: 1%; white-space: nowrap; } .profile h3 { font-size: 14px; margin: 6px 0 2px; }
.swatch { display: inline-block; width: 14px; height: 11px; border: 1.5px solid; border-radius: 3px;
  vertical-align: middle; margin-right: 6px; }
.line { display: inline-block; width: 26px; vertical-align: middle; margin-right: 6px; border-top-width: 2px; }
code { font-size: 12px; }
"""


def _profiles_html(evolution: Evolution) -> str:
    profiles = evolution.report.profiles
    if not profiles:
        return "<p>No profile declared or requested.</p>"
    parts: list[str] = []
    for profile in profiles:
        status = profile["status"]
        colour = {"Conformant": "#2e7d32", "NonConformant": "#b03a2e"}.get(status, "#777")
        if profile["declaration_matches"] is False:
            colour = "#b03a2e"
        note = declaration_note(profile["declared"], profile["declaration_matches"])
        parts.append('<div class="profile">')
        parts.append(
            f'<h3><code>{html.escape(printable(profile["id"]))}</code> <span class="badge" style="background:{colour}">'
            f"{html.escape(status)}</span></h3><div class=\"facts\">{html.escape(note)}"
            f"{', met' if profile['met'] else ', not met'}</div>"
        )
        if profile["clauses"]:
            parts.append("<table>")
            for clause in profile["clauses"]:
                mark = '<span class="pass">ok</span>' if clause["passed"] else '<span class="fail">FAIL</span>'
                parts.append(
                    f"<tr><td>{mark}</td><td>{html.escape(clause['id'])}</td>"
                    f"<td>{html.escape(printable(clause['detail']))}</td></tr>"
                )
            parts.append("</table>")
        parts.append("</div>")
    return "\n".join(parts)


def _legend_html(evolution: Evolution) -> str:
    shown = {n.state for n in evolution.nodes}
    rows = []
    for state in STATES:
        if state not in shown:
            continue
        fill, stroke, dashed = STATE_STYLE[state]
        border = "dashed" if dashed else "solid"
        rows.append(
            f'<tr><td><span class="swatch" style="background:{fill};border-color:{stroke};'
            f'border-style:{border}"></span>{state}</td><td>{html.escape(STATE_TEXT[state])}</td></tr>'
        )
    used = {e.type for e in evolution.edges}
    for kind, text in EDGE_TEXT.items():
        if kind not in used:
            continue
        colour, dash, _ = EDGE_STYLE[kind]
        style = "dashed" if dash.startswith("6") else ("dotted" if dash else "solid")
        rows.append(
            f'<tr><td><span class="line" style="border-top:2px {style} {colour}"></span>{kind}</td>'
            f"<td>{html.escape(text.split(': ', 1)[1])}</td></tr>"
        )
    return "<table>" + "\n".join(rows) + "</table><p class=\"facts\">Arrows point from a record to the " \
        "earlier record it references; time runs downwards.</p>"


def _records_html(evolution: Evolution) -> str:
    rows = []
    for node in evolution.nodes:
        flags = ", ".join(node.flags) or node.state
        rows.append(
            f'<tr><td>{node.time}</td><td>{node.kind}</td><td><code title="{node.id}">{node.short}</code></td>'
            f"<td>{html.escape(printable(node.author))}</td><td>{html.escape(flags)}</td></tr>"
        )
    return "<table><tr><th>t</th><th>kind</th><th>id</th><th>author</th><th>state</th></tr>" + "\n".join(
        rows
    ) + "</table>"


def to_html(evolution: Evolution, title: str, layout: str = "auto") -> str:
    """A self-contained page: the graph, the report text, the profile results and a legend."""
    picture = svg(evolution, layout)
    report = evolution.report
    status = report.status
    facts = (
        f"{evolution.record_count} records · spec {html.escape(printable(evolution.spec_version) or '?')} · "
        f"head <code>{report.head_hash[:12]}</code> · rules <code>{report.rules_hash[:12]}</code>"
    )
    return f"""<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>{html.escape(printable(title))}: evolution graph ({status})</title>
<style>{PAGE_STYLE}</style>
</head>
<body>
<header>
<h1>Evolution of <code>{html.escape(printable(title))}</code></h1>
<span class="badge" style="background:{STATUS_COLOUR[status]}">{status.upper()}</span>
<span class="facts">{facts}</span>
<label class="fit"><input type="checkbox" id="fit" checked> fit the graph to the page</label>
</header>
<main>
<section id="graph">
{picture}
</section>
<aside>
<h2>Report</h2>
<pre>{html.escape(report_text(report))}</pre>
<h2>Profiles</h2>
{_profiles_html(evolution)}
<h2>Legend</h2>
{_legend_html(evolution)}
<h2>Records</h2>
{_records_html(evolution)}
</aside>
</main>
</body>
</html>
"""
