# shellcheck shell=bash
# The pages in headless Chromium: tables against their JSON, hostile text, fleets, traces,
# the first screen, a phone's width, the charts' keys, screenshots, the runs' dots and the CSV
# download. Sourced by html_browser.sh, whose helpers the cases use; each case is a function
# named after it.

case_session_table_equals_its_json() {
  "$tool" --input "$inputs/base.json" --html "$work/page.html" >/dev/null 2>&1
  [ -s "$work/page.html" ] || fail "no page written"
  "$tool" --input "$inputs/base.json" --json >"$work/session.json" 2>/dev/null
  dump_dom "$work/page.html" "$work/dom.html"
  check session "$work/dom.html" "$work/session.json"
  # The JSON is kept once; opening its section shows it as --json writes it, '<' and all.
  [ "$(grep -c '"format_version"' "$work/page.html")" = 1 ] || fail "the session JSON is not stored exactly once"
  probe "$work/page.html" "$work/probed.html" "var raw = document.querySelector('#raw details');
raw.addEventListener('toggle', function () { setTimeout(function () {
  document.body.setAttribute('data-test-result', raw.querySelector('pre').textContent); }, 0); });
raw.open = true;"
  chromium_run --virtual-time-budget=5000 --dump-dom "file://$work/probed.html" >"$work/dom.html" || fail "chromium could not load the page"
  python3 -c 'import re,sys,html; m=re.search(r"data-test-result=\"([^\"]*)\"", open(sys.argv[1]).read()); sys.stdout.write(html.unescape(m.group(1)) if m else "none")' "$work/dom.html" >"$work/shown.json"
  cmp -s "$work/shown.json" "$work/session.json" || fail "the opened raw section does not show the session JSON: $(head -c 200 "$work/shown.json")"
  echo "the raw section shows the JSON kept once"
  # Its save button hands the browser that JSON as session.json (the file caught, not written).
  probe "$work/page.html" "$work/probed.html" "var saved = null, name = null;
URL.createObjectURL = function (blob) { saved = blob; return 'blob:caught'; };
HTMLAnchorElement.prototype.click = function () { name = this.download; };
document.querySelector('button[data-download=\"session-json\"]').click();
saved.text().then(function (text) { document.body.setAttribute('data-test-result', name + '\n' + text); });"
  chromium_run --virtual-time-budget=5000 --dump-dom "file://$work/probed.html" >"$work/dom.html" || fail "chromium could not load the page"
  python3 -c 'import re,sys,html; m=re.search(r"data-test-result=\"([^\"]*)\"", open(sys.argv[1]).read()); sys.stdout.write(html.unescape(m.group(1)) if m else "none")' "$work/dom.html" >"$work/saved"
  [ "$(head -n 1 "$work/saved")" = session.json ] || fail "the JSON is not saved as session.json: $(head -c 100 "$work/saved")"
  tail -n +2 "$work/saved" | cmp -s - "$work/session.json" || fail "the saved file is not the session JSON"
  echo "the save button gives session.json, the session JSON"
}

case_hostile_host_name_is_shown_as_text_and_runs_nothing() {
  hostile_session
  "$tool" --input "$work/hostile.json" --html "$work/page.html" >/dev/null 2>&1
  [ -s "$work/page.html" ] || fail "no page written"
  dump_dom "$work/page.html" "$work/dom.html"
  check hostile "$work/dom.html" "$hostile_host"
}

case_compare_ratios_equal_its_json_and_differences_are_highlighted() {
  "$tool" compare "$inputs/base.json" "$inputs/new.json" --html "$work/page.html" >/dev/null 2>&1
  [ -s "$work/page.html" ] || fail "no page written"
  "$tool" compare "$inputs/base.json" "$inputs/new.json" --json >"$work/compare.json" 2>/dev/null
  dump_dom "$work/page.html" "$work/dom.html"
  check compare "$work/dom.html" "$work/compare.json" "compiler,openmp runtime"
}

case_fleet_sorts_filters_and_names_failed_nodes() {
  fleet=("$inputs"/fleet-n1.json "$inputs"/fleet-n2.json "$inputs"/fleet-n3.json "$inputs"/fleet-n4.json "$inputs"/fleet-empty.json)
  "$tool" merge "${fleet[@]}" --html "$work/page.html" >/dev/null 2>&1
  [ -s "$work/page.html" ] || fail "no page written"
  "$tool" merge "${fleet[@]}" --json >"$work/fleet.json" 2>/dev/null
  # What clicking "serial s" twice (descending) and choosing "slower" must show, from the JSON.
  expected=$(python3 - "$work/fleet.json" <<'EOF'
import json, sys
nodes = [n for n in json.load(open(sys.argv[1]))["nodes"] if n["merged"]]
order = sorted(nodes, key=lambda n: -n["session"]["figures"]["serial_seconds"]["median"])
slower = [n["node"] for n in nodes if n["verdict"].startswith("slower")]
print(",".join(n["node"] for n in order) + "|" + ",".join(slower) + "|" + str(len(slower)))
EOF
)
  # A test script under the page's own nonce: it clicks like a reader, then writes what it saw.
  python3 - "$work/page.html" >"$work/clicked.html" <<'EOF'
import re, sys
page = open(sys.argv[1], encoding="utf-8").read()
nonce = re.search(r'<script nonce="([0-9a-f]+)"', page).group(1)
test = f"""<script nonce="{nonce}">
var heads = document.querySelectorAll('#fleet thead th');
var serial = Array.prototype.filter.call(heads, function (th) {{ return th.textContent === 'serial s'; }})[0];
serial.querySelector('button').click(); serial.querySelector('button').click();
var order = Array.prototype.map.call(document.querySelectorAll('#fleet tbody tr'), function (r) {{ return r.cells[0].textContent; }});
var filter = document.getElementById('verdict-filter');
filter.value = 'slower'; filter.dispatchEvent(new Event('change'));
var shown = Array.prototype.filter.call(document.querySelectorAll('#fleet tbody tr'), function (r) {{ return !r.hidden; }})
  .map(function (r) {{ return r.cells[0].textContent; }});
document.body.setAttribute('data-test-result', order.join(',') + '|' + shown.join(',') + '|' + document.getElementById('shown-count').textContent);
filter.value = ''; filter.dispatchEvent(new Event('change'));
</script>"""
print(page.replace("</body>", test + "\n</body>"), end="")
EOF
  dump_dom "$work/clicked.html" "$work/dom.html"
  check fleet "$work/dom.html" "$work/fleet.json" "$expected"
}

case_fleet_of_many_nodes_draws_rows_on_demand_and_sorts_them_all() {
  # 260 nodes: more than the table draws at first. The slow one is listed first; sorting by name
  # must reach the nodes not yet drawn, and scrolling on must draw the rest, each as the JSON says.
  python3 - "$inputs" "$work" <<'EOF'
import json, sys
inputs, work = sys.argv[1], sys.argv[2]
for i in range(260):
    session = json.load(open(f"{inputs}/fleet-n{2 if i == 7 else 1 + 2 * (i % 2)}.json"))
    session["context"]["host"] = session["context"]["slurm_node"] = f"many-{i:03d}"
    json.dump(session, open(f"{work}/many{i:03d}.json", "w"))
EOF
  "$tool" merge "$work"/many*.json --html "$work/page.html" >/dev/null 2>&1
  "$tool" merge "$work"/many*.json --json >"$work/fleet.json" 2>/dev/null
  [ -s "$work/page.html" ] || fail "no page written"
  ! grep -q '<tr data-verdict=' "$work/page.html" || fail "the page holds its rows as elements up front"
  probe "$work/page.html" "$work/probed.html" "var table = document.getElementById('fleet');
var first = table.tBodies[0].rows.length + '/' + table.getAttribute('data-rows-at-once');
var leading = table.tBodies[0].rows[0].cells[0].textContent;
var node = table.querySelector('thead th button'); node.click(); node.click();
var sorted = table.tBodies[0].rows[0].cells[0].textContent;
var more = document.getElementById('more-rows');
while (!more.hidden) more.click();
document.body.setAttribute('data-test-result', first + '|' + leading + '|' + sorted + '|' + table.tBodies[0].rows.length);"
  dump_dom "$work/probed.html" "$work/dom.html"
  check fleet "$work/dom.html" "$work/fleet.json" "200/200|many-007|many-259|260"
}

case_names_outside_utf8_are_shown_escaped_and_break_nothing() {
  # A session file whose name is bytes outside UTF-8 (and markup) names its node and a
  # comparison's side: each page loads, runs its script, shows the name as \xFF text, never as
  # a replacement character or an element, and keeps its JSON readable.
  odd=$(printf 'n\377\376<b>x.json')
  python3 - "$inputs/fleet-n1.json" "$work/$odd" <<'EOF'
import json, sys
session = json.load(open(sys.argv[1]))
for field in ("host", "slurm_node"):
    session["context"].pop(field, None)
json.dump(session, open(sys.argv[2].encode("utf-8", "surrogateescape"), "w"))
EOF
  "$tool" merge "$work/$odd" "$inputs/fleet-n3.json" --html "$work/fleet.html" >/dev/null 2>&1
  "$tool" compare "$inputs/fleet-n3.json" "$work/$odd" --html "$work/compare.html" >/dev/null 2>&1
  for page in fleet compare; do
    [ -s "$work/$page.html" ] || fail "no $page page written"
    dump_dom "$work/$page.html" "$work/dom.html"
    python3 - "$work/dom.html" "$page" <<'EOF' || fail "the $page page does not show the name escaped (above)"
import json, re, sys, html
raw = open(sys.argv[1], "rb").read()
text = raw.decode("utf-8")  # fails on a byte outside UTF-8
shown = re.sub(r"<script[^>]*>.*?</script>", "", text, flags=re.S)
assert "\ufffd" not in shown, "a replacement character is shown"
assert "<b>x" not in shown, "the name's markup became an element"
assert "n\\xFF\\xFE&lt;b&gt;x.json" in shown, "the name is not shown as n\\xFF\\xFE<b>x.json"
for block in re.findall(r'<script type="application/json" id="[^"]+">(.*?)</script>', text, re.S):
    json.loads(block)
print(f"{sys.argv[2]} page: the name shown escaped; its JSON reads")
EOF
  done
}

case_trace_page_holds_the_split_and_timelines() {
  # The page the traced session wrote as it ran.
  [ -s "$trace_page" ] || skip "no traced session could be made here (speedup_trace.make_traced_session)"
  cp "$trace_page" "$work/page.html"
  "$tool" trace --input "$trace_folder" --json >"$work/trace.json" 2>/dev/null
  dump_dom "$work/page.html" "$work/dom.html"
  check trace "$work/dom.html" "$work/trace.json"
  # Read back, the folder gives the same page but for its nonce.
  "$tool" trace --input "$trace_folder" --html "$work/again.html" >/dev/null 2>&1
  nonce='s/[0-9a-f]\{32\}/NONCE/g'
  diff <(sed "$nonce" "$work/page.html") <(sed "$nonce" "$work/again.html") >/dev/null ||
    fail "the page read back from the folder differs from the page of the run"
}

case_headline_is_on_the_first_screen_and_ids_are_unique() {
  # Each kind of page answers within its first 800 px at 1200 px wide, and names no id twice.
  every_page
  js="var h = document.getElementById('headline'); var ids = {}, twice = [];
Array.prototype.forEach.call(document.querySelectorAll('[id]'), function (e) { if (ids[e.id]) twice.push(e.id); ids[e.id] = 1; });
document.body.setAttribute('data-test-result', (h ? Math.round(h.getBoundingClientRect().bottom) : -1) + '|' + twice.join(','));"
  for page in $pages; do
    probe "$work/$page.html" "$work/probed.html" "$js"
    chromium_run --window-size=1200,800 --dump-dom "file://$work/probed.html" >"$work/dom.html" || fail "chromium could not load the $page page"
    seen=$(result "$work/dom.html")
    bottom=${seen%%|*}
    [ "$bottom" -gt 0 ] || fail "the $page page has no headline"
    [ "$bottom" -le 800 ] || fail "the $page page's headline ends at $bottom px, below the first 800"
    [ -z "${seen#*|}" ] || fail "the $page page names ids twice: ${seen#*|}"
    ! grep -q 'gnuplot_plot' "$work/dom.html" || fail "the $page page shows gnuplot's plot names as tooltips"
    echo "$page page: headline ends at $bottom px; every id once"
  done
}

case_every_page_fits_a_phone() {
  # At 390 px wide nothing outside a scrolling box reaches past the screen's edge, so the text
  # never scrolls sideways, and the headline is whole on the first screen.
  every_page
  js="var wide = [], w = document.documentElement.clientWidth, h = document.getElementById('headline');
Array.prototype.forEach.call(document.body.querySelectorAll('*'), function (e) {
  if (e.closest('.scroll, .chart, details:not([open]), script, style')) return;
  var r = e.getBoundingClientRect();
  if (r.width > 0 && r.right > w + 1) wide.push(e.tagName.toLowerCase() + (e.id ? '#' + e.id : '') + (e.className && e.className.baseVal === undefined ? '.' + e.className : '') + ' to ' + Math.round(r.right));
});
var box = h ? h.getBoundingClientRect() : null;
parent.postMessage(w + '|' + document.documentElement.scrollWidth + '|' +
  (box ? Math.round(box.top) + ',' + Math.round(box.bottom) + ',' + Math.round(box.right) : 'none') + '|' + wide.slice(0, 5).join('; '), '*');"
  # Headless Chromium's window is 500 px at the least: the page is shown in a frame 390 px wide
  # as a phone would, and tells the frame's holder what it saw.
  printf '%s\n' '<!DOCTYPE html><body style="margin:0"><iframe src="probed.html" width="390" height="800" style="border:0"></iframe>' \
    '<script>addEventListener("message", function (e) { document.body.setAttribute("data-test-result", e.data); });</script></body>' >"$work/phone.html"
  for page in $pages; do
    probe "$work/$page.html" "$work/probed.html" "$js"
    chromium_run --window-size=600,900 --virtual-time-budget=10000 --dump-dom "file://$work/phone.html" >"$work/dom.html" || fail "chromium could not load the $page page"
    IFS='|' read -r width scrolled box wide <<<"$(result "$work/dom.html")"
    [ "$box" != none ] || fail "the $page page has no headline"
    IFS=, read -r top bottom right <<<"$box"
    [ "$width" -le 390 ] || fail "the $page page is laid out $width px wide on a 390 px screen"
    [ -z "$wide" ] || fail "on a 390 px screen the $page page's text reaches past the edge: $wide"
    [ "$scrolled" -le "$width" ] || fail "the $page page scrolls sideways on a 390 px screen: $scrolled px"
    [ "$bottom" -le 800 ] && [ "$right" -le "$width" ] || fail "the $page page's headline is not whole on the first screen: top $top, bottom $bottom, right $right"
    echo "$page page at $width px: nothing past the edge; headline $top to $bottom px"
  done
}

case_fleet_chart_key_names_every_node_slow_first() {
  command -v gnuplot >/dev/null || skip "gnuplot is not installed: no chart to read"
  # Six nodes with 50-character host names, one carrying a right-to-left override.
  python3 - "$inputs" "$work" <<'EOF'
import json, sys
inputs, work = sys.argv[1], sys.argv[2]
for i in range(6):
    session = json.load(open(f"{inputs}/fleet-n{1 + i % 4}.json"))
    host = f"node-{i}-" + "x" * 36 + f"-rack{i:02d}"
    if i == 3: host = "evil\u202eEVIL-" + host
    session["context"]["host"] = host
    json.dump(session, open(f"{work}/node{i}.json", "w"))
EOF
  "$tool" merge "$work"/node?.json --html "$work/page.html" >/dev/null 2>&1
  "$tool" merge "$work"/node?.json --json >"$work/fleet.json" 2>/dev/null
  [ -s "$work/page.html" ] || fail "no page written"
  # Only the inert JSON for programs may hold it as it is; nothing shown may.
  python3 -c 'import re,sys; p=open(sys.argv[1],encoding="utf-8").read(); sys.exit("\u202e" in re.sub(r"<script[^>]*>.*?</script>","",p,flags=re.S))' "$work/page.html" ||
    fail "a raw right-to-left override is shown in the page"
  dump_dom "$work/page.html" "$work/dom.html"
  python3 - "$work/dom.html" "$work/fleet.json" <<'EOF' || fail "the chart's key does not name every node (above)"
import json, re, sys, html
dom = open(sys.argv[1], encoding="utf-8").read()
svg = dom[dom.index("<svg"):dom.index("</svg>")]
texts = [html.unescape(t) for t in re.findall(r"<text[^>]*>([^<]*)</text>", svg)]
nodes = [n for n in json.load(open(sys.argv[2]))["nodes"] if n["merged"]]
slow = [n["node"] for n in nodes if n["verdict"].startswith("slower")]
order = []
for n in nodes:
    shown = n["node"].replace("\u202e", "\\u202E")[:30]
    hits = [i for i, t in enumerate(texts) if t.startswith(shown)]
    assert hits, f"no key entry for {n['node']!r} among {texts}"
    order.append((hits[0], n["node"]))
first = [name for _, name in sorted(order)][:len(slow)]
assert sorted(first) == sorted(slow), f"the slower nodes {slow} are not first in the key: {first}"
print(f"{len(nodes)} nodes named in the key, the {len(slow)} slower first")
EOF
}

case_screenshots_of_every_page_are_not_blank() {
  hostile_session
  "$tool" --input "$inputs/base.json" --html "$work/session.html" >/dev/null 2>&1
  "$tool" compare "$inputs/base.json" "$inputs/new.json" --html "$work/compare.html" >/dev/null 2>&1
  "$tool" merge "$inputs"/fleet-n1.json "$inputs"/fleet-n2.json "$inputs"/fleet-n3.json --html "$work/fleet.html" >/dev/null 2>&1
  for page in session compare fleet; do
    [ -s "$work/$page.html" ] || fail "no $page page written"
    chromium_run --screenshot="$work/$page.png" --window-size=1200,900 "file://$work/$page.html" >/dev/null ||
      fail "no screenshot of the $page page: $(tail -3 "$work/log")"
    colours=$(python3 "$work/colours.py" "$work/$page.png") || fail "the $page screenshot is not a PNG"
    [ "$colours" -gt 8 ] || fail "the $page screenshot is blank or nearly: $colours colours"
    echo "$page page: $colours colours"
  done
}

case_runs_are_dots_and_the_csv_equals_the_table() {
  # A session whose host, and a comparison whose BASE file, a spreadsheet would run as formulas.
  python3 - "$inputs/base.json" <<'EOF_PY'
import json, sys
session = json.load(open(sys.argv[1]))
session["context"]["host"] = '=HYPERLINK("http://x.invalid","ok")'
json.dump(session, open("formula.json", "w"))
json.dump(session, open("=base.json", "w"))
many = dict(session, runs=[session["runs"][i % len(session["runs"])] for i in range(1000)])
many["requested_runs"] = 1000
json.dump(many, open("many.json", "w"))
EOF_PY
  "$tool" --input formula.json --html "$work/session.html" >/dev/null 2>&1
  "$tool" --input many.json --html "$work/many.html" >/dev/null 2>&1
  "$tool" compare "=base.json" "$inputs/new.json" --html "$work/compare.html" >/dev/null 2>&1
  for page in session many compare; do [ -s "$work/$page.html" ] || fail "no $page page written"; done
  # Each group of dots counted as Chromium drew it, and the text the CSV button hands the browser.
  js="var saved = null, name = null;
URL.createObjectURL = function (blob) { saved = blob; return 'blob:caught'; };
HTMLAnchorElement.prototype.click = function () { name = this.download; };
var dots = {};
document.querySelectorAll('svg[id^=runs-] g[data-threads]').forEach(function (g) {
  var key = g.closest('svg').id + '/' + g.getAttribute('data-threads') + '/' + (g.getAttribute('data-side') || '');
  dots[key] = [g.querySelectorAll('circle').length, Number(g.getAttribute('data-runs')), Number(g.getAttribute('data-step') || 1)];
});
var ids = {}, twice = [];
document.querySelectorAll('[id]').forEach(function (e) { if (ids[e.id]) twice.push(e.id); ids[e.id] = 1; });
var captions = Array.prototype.map.call(document.querySelectorAll('#runs figcaption'), function (c) { return c.textContent; });
document.querySelector('button[data-csv]').click();
saved.text().then(function (text) {
  document.body.setAttribute('data-test-result', JSON.stringify({file: name, type: saved.type, csv: text, dots: dots, captions: captions, twice: twice}));
});"
  for page in session many compare; do
    probe "$work/$page.html" "$work/probed.html" "$js"
    chromium_run --virtual-time-budget=5000 --dump-dom "file://$work/probed.html" >"$work/$page-dom.html" || fail "chromium could not load the $page page"
    result "$work/$page-dom.html" >"$work/$page-seen.json"
  done
  python3 - "$work" "$work/check.py" <<'EOF_PY' || fail "the runs' plots or the CSV do not hold what the page shows (above)"
import csv, io, json, sys
work = sys.argv[1]
sys.argv = [sys.argv[2], "none", work + "/session-dom.html"]
source = open(sys.argv[0]).read()
exec(source[:source.index("kind, dom_path = sys.argv[1]")])  # parse and figures_in, not the checks

def seen(page):
    return json.load(open(f"{work}/{page}-seen.json"))

def csv_name(key):
    base, part = key.removeprefix("serial_").split(".")
    if base == "seconds":
        return {"median": "median_s", "low": "low_s", "high": "high_s", "iqr": "iqr_s", "outliers": "outliers"}[part]
    return base if part == "median" else base + "_" + part

def same_rows(page, table, lead, name_of):
    got = seen(page)
    assert not got["twice"], f"{page}: ids named twice: {got['twice']}"
    assert got["type"] == "text/csv", f"{page}: saved as {got['type']}"
    rows = list(csv.DictReader(io.StringIO(got["csv"])))
    cells = figures_in(parse(f"{work}/{page}-dom.html"), table)
    assert [r["threads"] for r in rows] == list(cells), f"{page}: CSV rows {[r['threads'] for r in rows]}, table rows {list(cells)}"
    checked = 0
    for row in rows:
        for column, text in lead.items():
            assert row[column] == text, f"{page}: {column} is {row[column]!r}, not {text!r}"
        for key, (value, _) in cells[row["threads"]].items():
            assert float(row[name_of(key)]) == value, f"{page} row {row['threads']} {key}: CSV {row[name_of(key)]}, table {value}"
            checked += 1
    return got, len(rows), checked

host = '=HYPERLINK("http://x.invalid","ok")'
got, rows, checked = same_rows("session", "figures", {"host": "'" + host}, csv_name)
assert got["file"] == "session.csv", got["file"]
runs = json.load(open(f"{work}/formula.json"))
passed = sum(1 for r in runs["runs"] if not r["failure"])
for key, (circles, counted, step) in got["dots"].items():
    assert counted == passed and circles == passed, f"{key}: {circles} dots for {counted} runs, not {passed}"
assert len(got["dots"]) == 21 + 2, f"{len(got['dots'])} groups of dots: {sorted(got['dots'])}"
print(f"session: {rows} CSV rows, {checked} cells equal the table's, the host defused; a dot for each of {passed} runs")

got, rows, checked = same_rows("compare", "comparison", {"base": "'=base.json"},
                               lambda key: key.replace(".", "_"))
for key, (circles, counted, _) in got["dots"].items():
    assert circles == counted, f"{key}: {circles} dots for {counted} runs"
sides = {key.split("/")[2] for key in got["dots"]}
assert sides == {"base", "new"} and len(got["dots"]) == 42, f"groups {sorted(got['dots'])}"
print(f"compare: {rows} CSV rows, {checked} cells equal the table's, the file name defused; both sides' runs as dots")

got = seen("many")
for key, (circles, counted, step) in got["dots"].items():
    want = 100 if key.startswith("runs-strip") else -(-counted // step)
    assert counted > 900 and circles == want, f"{key}: {circles} dots of {counted} runs, not {want}"
assert any("100 per row are drawn" in c for c in got["captions"]), f"the thinning is not said: {got['captions']}"
assert any("one is drawn" in c for c in got["captions"]), f"the run order's thinning is not said: {got['captions']}"
page = open(f"{work}/many.html", encoding="utf-8").read()
section = page[page.index('<section id="runs"'):]
section = section[:section.index("</section>")]
assert len(section) < 200 << 10, f"the plots of 1000 runs weigh {len(section)} B"
print(f"1000 runs: 100 dots a row and the run order thinned, each caption saying so; {len(section)} B")
EOF_PY
}
