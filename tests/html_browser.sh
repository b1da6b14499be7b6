#!/usr/bin/env bash
# The speedup tool's HTML pages in a real browser, headless Chromium:
#   html_browser.sh TOOL CASE TRACED_SESSION VERDICT
# TRACED_SESSION: the folder of the traced session of the real benchmark that the trace tests
# make first (tests/trace/speedup_trace.sh): its trace folder t and the page it wrote, page.html.
# VERDICT: the file where the case chromium_starts, run first, says whether Chromium starts
# here ("ok" or why not); the other cases read it rather than start Chromium once more for that,
# and find it themselves where it is missing.
# Each case writes a page from fixed inputs, loads it, and checks the DOM Chromium built (its
# numbers against the JSON the tool writes, that our script ran and nothing else did, that no
# console error was logged) or a screenshot. Exit 77 (skipped) with the reason when Chromium
# cannot be had or cannot start here.
set -u
tool=$(realpath "$1")
case_name=$2
trace_folder=$3/t
trace_page=$3/page.html
verdict_file=$4
here=$(cd "$(dirname "$0")" && pwd)
inputs=$here/golden/inputs
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

skip() {
  echo "SKIP: $*"
  exit 77
}

browser=$(command -v chromium || command -v chromium-browser || true)
[ -n "$browser" ] || skip "chromium is not installed (Debian: apt-get install chromium; scripts/install-deps --slurm installs it)"
command -v python3 >/dev/null || skip "python3 is not installed"

# chromium ARGS... : one bounded headless run with a fresh profile; its log in $work/log.
chromium_run() {
  timeout 90 "$browser" --headless --no-sandbox --disable-gpu --no-first-run \
    --user-data-dir="$work/profile" --enable-logging=stderr --v=0 "$@" 2>"$work/log"
}

# Loads `page` and writes the DOM Chromium built to `dom`; fails on a console error.
dump_dom() {
  local page=$1 dom=$2
  chromium_run --dump-dom "file://$page" >"$dom" || fail "chromium could not load $page: $(tail -5 "$work/log")"
  if grep -E 'Uncaught|CONSOLE\(|Refused to|Content Security Policy' "$work/log" | grep -v -i 'dbus' >"$work/errors"; then
    [ ! -s "$work/errors" ] || fail "console errors loading $page: $(head -5 "$work/errors")"
  fi
  grep -q 'data-page-ready="yes"' "$dom" || fail "the page's script did not run to its end in $page"
}

# Prints "ok" where Chromium starts and renders a page, else why not.
chromium_verdict() {
  if ! chromium_run --dump-dom "data:text/html,<p>ok</p>" >"$work/probe"; then
    echo "chromium cannot start here: $(tail -3 "$work/log" | tr '\n' ' ')"
  elif ! grep -q '<p>ok</p>' "$work/probe"; then
    echo "chromium started but rendered nothing here"
  else
    echo ok
  fi
}

if [ "$case_name" = chromium_starts ]; then
  verdict=$(chromium_verdict)
  { printf '%s\n' "$verdict" >"$verdict_file.new" && mv "$verdict_file.new" "$verdict_file"; } ||
    fail "cannot write the verdict to $verdict_file"
  [ "$verdict" = ok ] || skip "$verdict"
  echo "PASS: chromium starts and renders a page"
  exit 0
fi
if [ -s "$verdict_file" ]; then
  verdict=$(head -n 1 "$verdict_file")
else
  verdict=$(chromium_verdict)
fi
[ "$verdict" = ok ] || skip "$verdict"

# The checks on a dumped DOM, in Python: check.py KIND DOM JSON...
cat >"$work/check.py" <<'EOF'
import html.parser, json, sys

class Dom(html.parser.HTMLParser):
    """Every element as (tag, attributes, text inside it), and the stack of tables and rows."""
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.elements, self.open = [], []
    def handle_starttag(self, tag, attrs):
        element = {"tag": tag, "attrs": dict(attrs), "text": "", "parents": [e for e in self.open]}
        self.elements.append(element)
        if tag not in ("meta", "br", "img", "input", "link", "path", "use", "rect", "circle"):
            self.open.append(element)
    def handle_startendtag(self, tag, attrs):
        self.elements.append({"tag": tag, "attrs": dict(attrs), "text": "", "parents": list(self.open)})
    def handle_endtag(self, tag):
        for i in range(len(self.open) - 1, -1, -1):
            if self.open[i]["tag"] == tag:
                del self.open[i:]
                break
    def handle_data(self, data):
        for element in self.open:
            element["text"] += data

def parse(path):
    dom = Dom()
    dom.feed(open(path, encoding="utf-8").read())
    return dom.elements

def figures_in(elements, table_id, row_key="data-threads"):
    """{row: {key: (value, text)}} of the cells with data-k inside table `table_id`."""
    found = {}
    for e in elements:
        if "data-k" not in e["attrs"] or "data-v" not in e["attrs"]:
            continue
        table = [p for p in e["parents"] if p["tag"] == "table"]
        row = [p for p in e["parents"] if p["tag"] == "tr"]
        if not table or table[-1]["attrs"].get("id") != table_id or not row:
            continue
        key = row[-1]["attrs"].get(row_key, row[-1]["text"])
        found.setdefault(key, {})[e["attrs"]["data-k"]] = (float(e["attrs"]["data-v"]), e["text"].strip())
    return found

def lookup(record, dotted):
    for part in dotted.split("."):
        record = record[part]
    return record

def same(shown, value, cell, where):
    number, text = cell
    assert number == value, f"{where}: the page says {number}, the JSON {value}"
    decimals = len(text.split(".")[1]) if "." in text else 0
    assert text == f"{value:.{decimals}f}", f"{where}: shown {text!r}, the JSON's {value} gives {value:.{decimals}f}"

def check_session(elements, session):
    figures = figures_in(elements, "figures")
    teams = {str(t["threads"]): t for t in session["figures"]["team_sizes"]}
    checked = 0
    for row, cells in figures.items():
        for key, cell in cells.items():
            if row == "serial":
                record = session["figures"]
                value = lookup(record, key)
            else:
                value = lookup(teams[row], key)
            same(cell[1], value, cell, f"row {row} {key}")
            checked += 1
    assert set(figures) == set(teams) | {"serial"}, f"rows {sorted(figures)}"
    for row in teams:
        for key in ("seconds", "speedup_vs_serial", "speedup_vs_one_thread"):
            if teams[row][key]["low"] is not None:
                assert f"{key}.low" in figures[row] and f"{key}.high" in figures[row], f"row {row}: no interval for {key}"
    return checked

def embedded(elements, element_id):
    for e in elements:
        if e["tag"] == "script" and e["attrs"].get("id") == element_id:
            return json.loads(e["text"])
    raise AssertionError(f"no embedded JSON {element_id}")

kind, dom_path = sys.argv[1], sys.argv[2]
elements = parse(dom_path)
scripts = [e for e in elements if e["tag"] == "script"]
running = [s for s in scripts if s["attrs"].get("type") != "application/json"]
ours = 2 if kind == "fleet" and len(sys.argv) > 4 else 1  # the page's, and a test's under its nonce
assert len(running) == ours and all("nonce" in s["attrs"] for s in running), f"{len(running)} scripts that run, not {ours}"
for e in elements:
    for name, value in e["attrs"].items():
        assert not name.startswith("on"), f"an event handler {name} on <{e['tag']}>"
        assert not (name in ("src", "href") and "//" in (value or "")), f"an external reference {name}={value}"

if kind == "session":
    session = json.load(open(sys.argv[3]))
    checked = check_session(elements, session)
    assert embedded(elements, "session-json") == session, "the embedded session JSON differs from --json"
    print(f"{checked} figures equal the JSON's")
elif kind == "hostile":
    host = sys.argv[3]
    title = [e for e in elements if e["tag"] == "title"][0]["text"]
    assert title == "matbench speedup: " + host, f"a script from the session ran: title {title!r}"
    assert not any(e["tag"] == "img" for e in elements), "markup from the session became an element"
    body = [e for e in elements if e["tag"] == "body"][0]["text"]
    assert host in body, "the hostile host name is not shown as text"
    assert embedded(elements, "session-json")["context"]["host"] == host
    print("the hostile host name is text, and nothing of it ran")
elif kind == "compare":
    comparison = json.load(open(sys.argv[3]))
    rows = figures_in(elements, "comparison")
    checked = 0
    for row in comparison["rows"]:
        cells = rows[row["threads"]]
        for key in ("base_median_s", "new_median_s", "ratio"):
            same(None, row[key], cells[key], f"row {row['threads']} {key}")
        same(None, row["ratio_low"], cells["ratio.low"], f"row {row['threads']} low")
        same(None, row["ratio_high"], cells["ratio.high"], f"row {row['threads']} high")
        checked += 5
    differs = [e["text"].split("\n")[0] for e in elements if e["tag"] == "tr" and e["attrs"].get("class") == "differs"]
    for field in sys.argv[4].split(","):
        assert any(text.startswith(field) for text in differs), f"{field} differs but is not highlighted: {differs}"
    assert not any(text.startswith("host") for text in differs), "an equal field is highlighted"
    assert embedded(elements, "comparison-json") == comparison
    print(f"{checked} ratios equal the JSON's; differing fields highlighted")
elif kind == "fleet":
    fleet = json.load(open(sys.argv[3]))
    merged = {n["node"]: n for n in fleet["nodes"] if n["merged"]}
    rows = [e for e in elements if e["tag"] == "tr" and "data-verdict" in e["attrs"]]
    assert len(rows) == len(merged), f"{len(rows)} rows for {len(merged)} merged nodes"
    cells = figures_in(elements, "fleet", row_key="data-node")
    for name, node in merged.items():
        figures = node["session"]["figures"]
        row = cells[name]
        same(None, figures["serial_seconds"]["median"], row["serial_seconds.median"], f"{name} serial")
        team = figures["team_sizes"][node["team"] - 1]
        same(None, team["speedup_vs_serial"]["median"], row["speedup_vs_serial.median"], f"{name} S@p")
        same(None, team["speedup_vs_serial"]["low"], row["speedup_vs_serial.low"], f"{name} S@p low")
    failed = [e["text"] for e in elements if e["tag"] == "li" and e["parents"] and any(p["attrs"].get("id") == "failed-nodes" for p in e["parents"])]
    for node in fleet["nodes"]:
        if node["problem"]:
            assert any(node["problem"] in text for text in failed), f"{node['file']}'s problem not named"
    result = [e for e in elements if e["tag"] == "body"][0]["attrs"].get("data-test-result", "")
    if len(sys.argv) > 4:
        expected = sys.argv[4]
        assert result == expected, f"sorting and filtering gave {result!r}, not {expected!r}"
    print(f"{len(rows)} nodes equal the JSON's; failed nodes named")
elif kind == "trace":
    trace = json.load(open(sys.argv[3]))
    rows = figures_in(elements, "split")
    for team in trace["teams"]:
        cells = rows[str(team["threads"])]
        same(None, team["region_ms"]["median"], cells["region_ms.median"], f"team {team['threads']} region")
    figures = [e for e in elements if e["tag"] == "figure"]
    assert len(figures) >= 2, f"{len(figures)} charts: no split chart and timeline"
    for figure in figures:
        inner = [e for e in elements if figure in e["parents"]]
        assert any(e["tag"] == "figcaption" for e in inner), "a chart without its caption"
        assert any("aria-label" in e["attrs"] for e in inner), "a chart without its text alternative"
    print(f"{len(rows)} team sizes equal the JSON's; {len(figures)} charts with captions")
EOF

# Distinct colours of a PNG, read with zlib alone: png_colours.py FILE
cat >"$work/colours.py" <<'EOF'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
pos, idat, header = 8, b"", None
while pos < len(data):
    length, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + length]
    if kind == b"IHDR":
        header = struct.unpack(">IIBBBBB", body)
    elif kind == b"IDAT":
        idat += body
    pos += 12 + length
width, height, depth, colour_type = header[:4]
assert depth == 8 and colour_type in (2, 6), f"unexpected PNG layout {header}"
bpp = 3 if colour_type == 2 else 4
raw, stride = zlib.decompress(idat), width * bpp
previous, colours = bytearray(stride), set()
for y in range(height):
    kind = raw[y * (stride + 1)]
    line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for x in range(stride):
        a = line[x - bpp] if x >= bpp else 0
        b = previous[x]
        c = previous[x - bpp] if x >= bpp else 0
        if kind == 1: line[x] = (line[x] + a) & 255
        elif kind == 2: line[x] = (line[x] + b) & 255
        elif kind == 3: line[x] = (line[x] + (a + b) // 2) & 255
        elif kind == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    if y % 4 == 0:
        for x in range(0, stride, bpp * 3):
            colours.add(bytes(line[x:x + 3]))
    previous = line
print(len(colours))
EOF

check() { python3 "$work/check.py" "$@" || fail "the page's DOM does not hold what it must (above)"; }

# A session file whose host name and CPU model carry markup and script.
hostile_host='<script>document.title="pwned"</script><img src=x onerror="document.title=&#39;pwned&#39;">'\''&amp;'
hostile_session() {
  python3 - "$inputs/base.json" "$hostile_host" >"$work/hostile.json" <<'EOF'
import json, sys
session = json.load(open(sys.argv[1]))
session["context"]["host"] = sys.argv[2]
session["context"]["cpu_model"] = "</td></tr></table><script>document.title='pwned'</script>"
json.dump(session, sys.stdout)
EOF
}

# probe PAGE OUT JS : PAGE with JS run under the page's own nonce after the page's script; JS
# sets body's data-test-result to what it saw.
probe() {
  python3 - "$1" "$3" >"$2" <<'EOF'
import re, sys
page = open(sys.argv[1], encoding="utf-8").read()
nonce = re.search(r'<script nonce="([0-9a-f]+)"', page).group(1)
print(page.replace("</body>", f'<script nonce="{nonce}">{sys.argv[2]}</script>\n</body>'), end="")
EOF
}

# result DOM : the data-test-result the probe left in the dumped DOM.
result() {
  python3 -c 'import re,sys,html; m=re.search(r"data-test-result=\"([^\"]*)\"", open(sys.argv[1]).read()); print(html.unescape(m.group(1)) if m else "none")' "$1"
}

# every_page: writes a page of each kind from the fixed inputs, and a trace's where one can be
# made here, and names them in $pages.
every_page() {
  "$tool" --input "$inputs/base.json" --html "$work/session.html" >/dev/null 2>&1
  "$tool" compare "$inputs/base.json" "$inputs/new.json" --html "$work/compare.html" >/dev/null 2>&1
  "$tool" merge "$inputs"/fleet-n1.json "$inputs"/fleet-n2.json "$inputs"/fleet-n3.json "$inputs"/fleet-n4.json --html "$work/fleet.html" >/dev/null 2>&1
  pages="session compare fleet"
  if [ -d "$trace_folder" ] &&
    "$tool" trace --input "$trace_folder" --html "$work/trace.html" >/dev/null 2>&1; then
    pages="$pages trace"
  else
    echo "no trace page: the traced runs cannot be made here"
  fi
  for page in $pages; do
    [ -s "$work/$page.html" ] || fail "no $page page written"
  done
}

# The cases, one function each, read before the work folder becomes the current one.
# shellcheck source=/dev/null
. "$(dirname "$0")/html_browser/pages.sh" || exit 2
cd "$work" || exit 1
if ! declare -F "case_$case_name" >/dev/null; then
  echo "unknown case $case_name" >&2
  exit 2
fi
"case_$case_name"
