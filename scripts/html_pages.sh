#!/usr/bin/env bash
# The HTML pages' sizes and the time headless Chromium takes to load them, up to a fleet of
# 10,000 nodes: writes a session page, a comparison, a fleet of 3 and of 10,000 synthetic
# sessions (scaled from one real report of BUILD_DIR/matbench, as scripts/scale.sh makes them),
# prints each page's size, the tool's time and peak memory to write the large fleet's page, and
# Chromium's cost to load it: the whole headless run, the same run on an empty page (its start
# alone), the page's own clock when its script ran, the peak memory of Chromium's largest process,
# the rows in the DOM, and the time of sorting the table by a column (the click to the next
# layout, three clicks, the median).
#
# Usage: scripts/html_pages.sh [BUILD_DIR] [--keep FOLDER]   (--keep leaves the pages there)
# Needs python3, GNU time and chromium (Debian packages python3, time, chromium).
set -euo pipefail

build=build
keep=
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) keep=$2; shift 2 ;;
    *) build=$1; shift ;;
  esac
done
tool=$build/matbench-speedup
bench=$build/matbench
for program in "$tool" "$bench"; do
  [ -x "$program" ] || { echo "html_pages.sh: no $program; build first" >&2; exit 1; }
done
browser=$(command -v chromium || true)
[ -n "$browser" ] || { echo "html_pages.sh: needs chromium (apt-get install chromium)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "html_pages.sh: needs GNU time (apt-get install time)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pages=${keep:-$work/pages}
mkdir -p "$pages"

"$bench" </dev/null >"$work/report.txt"
"$tool" --input "$work/report.txt" --json >"$work/seed.json"

# 10,000 sessions of ten runs from the seed's first run, each time wobbled; every 50th node 20%
# slower, and a few failed.
python3 - "$work/seed.json" "$work/fleet" <<'PY'
import json, os, random, sys
seed = json.load(open(sys.argv[1]))
base, target = seed["runs"][0], sys.argv[2]
random.seed(10000)
os.makedirs(target)
for n in range(10000):
    scale = 1.2 if n % 50 == 7 else 1.0
    out = {k: seed[k] for k in ("format", "format_version")}
    out["session"] = {"requested_runs": 10}
    out["context"] = {"host": "node%05d" % n, "processors": 2, "cpu_model": "Synthetic CPU"}
    out["runs"] = []
    for _ in range(10):
        f = scale * random.lognormvariate(0, 0.03)
        out["runs"].append({"serial_s": round(base["serial_s"] * f, 6),
                            "parallel_s": [round(t * f * random.lognormvariate(0, 0.03), 6)
                                           for t in base["parallel_s"]],
                            "failure": None if n % 1000 != 3 else "the product differs"})
    with open(os.path.join(target, "n%05d.json" % n), "w") as f:
        json.dump(out, f)
PY

"$tool" --input "$work/fleet/n00000.json" --html "$pages/session.html" >/dev/null 2>&1 || true
"$tool" compare "$work/fleet/n00000.json" "$work/fleet/n00007.json" --html "$pages/compare.html" \
  >/dev/null 2>&1 || true
"$tool" merge "$work/fleet"/n0000[0-2].json --html "$pages/fleet-3.html" >/dev/null 2>&1 || true
/usr/bin/time -f "%e %M" -o "$work/time" "$tool" merge "$work/fleet"/*.json \
  --html "$pages/fleet-10000.html" >/dev/null 2>&1 || true
read -r merge_s merge_kb < <(tail -n 1 "$work/time")

load() {  # load PAGE: prints "wall seconds" and leaves the DOM in $work/dom
  local start end
  start=$(date +%s.%N)
  timeout 300 "$browser" --headless --no-sandbox --disable-gpu --no-first-run \
    --user-data-dir="$work/profile" --virtual-time-budget=60000 --dump-dom "file://$1" \
    >"$work/dom" 2>/dev/null
  end=$(date +%s.%N)
  python3 -c "import sys; print('%.2f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$start" "$end"
}

# peak PAGE: the most memory in MB that one of Chromium's processes (the page's renderer, as a
# rule) held while showing PAGE as a reader would, read from /proc every 50 ms: a screenshot, not a
# dump of its DOM, which costs memory of its own.
peak() {
  python3 - "$browser" "$work/peak-profile" "$1" "$work/shot.png" <<'EOF'
import os, subprocess, sys, time
browser, profile, page, shot = sys.argv[1:]
run = subprocess.Popen([browser, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                        f"--user-data-dir={profile}", "--window-size=1200,900",
                        f"--screenshot={shot}", "file://" + page],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
most, deadline = 0, time.time() + 300
while run.poll() is None and time.time() < deadline:
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if profile.encode() not in open(f"/proc/{pid}/cmdline", "rb").read():
                continue
            for line in open(f"/proc/{pid}/status"):
                if line.startswith("VmRSS:"):
                    most = max(most, int(line.split()[1]))
        except OSError:
            pass
    time.sleep(0.05)
if run.poll() is None:
    run.kill()
print(most // 1024)
EOF
}

# timed PAGE OUT: PAGE with a script under its own nonce that sorts the fleet by serial time three
# times (up, down, up), each from the click to the layout after it, and notes the times.
timed() {
  python3 - "$1" >"$2" <<'EOF'
import re, sys
page = open(sys.argv[1], encoding="utf-8").read()
nonce = re.search(r'<script nonce="([0-9a-f]+)"', page).group(1)
probe = """<script nonce="%s">
var button = document.querySelectorAll('#fleet thead th button')[2], took = [];
for (var i = 0; i < 3; i += 1) {
  var start = performance.now(); button.click(); void document.body.offsetHeight;
  took.push(performance.now() - start);
}
took.sort(function (a, b) { return a - b; });
document.body.setAttribute('data-sort-ms', took.map(function (t) { return t.toFixed(0); }).join(','));
</script>""" % nonce
print(page.replace("</body>", probe + "\n</body>"), end="")
EOF
}

echo "page sizes:"
for page in "$pages"/*.html; do
  printf '  %-18s %12s bytes\n' "$(basename "$page")" "$(stat -c %s "$page")"
done
echo "merge of 10,000 sessions with --html: $merge_s s, peak $((merge_kb / 1024)) MB"
printf '<!DOCTYPE html><title>empty</title>' >"$work/empty.html"
load "$work/empty.html" >/dev/null  # warm the disk cache
empty=$(load "$work/empty.html")
for page in fleet-3 fleet-10000; do
  timed "$pages/$page.html" "$work/timed.html"
  wall=$(load "$work/timed.html")
  most=$(peak "$pages/$page.html")
  ready=$(grep -o 'data-ready-ms="[0-9]*"' "$work/dom" | grep -o '[0-9]*' || echo "?")
  sorts=$(grep -o 'data-sort-ms="[0-9,]*"' "$work/dom" | grep -o '[0-9,]*' || echo "?,?,?")
  rows=$(grep -o '<tr data-verdict=' "$work/dom" | wc -l)
  echo "chromium headless, $page: $wall s in all (an empty page: $empty s), its script ran at $ready ms;" \
    "peak $most MB (its largest process); $rows rows in the DOM;" \
    "a sort by serial time: median $(echo "$sorts" | cut -d, -f2) ms (ms of 3 sorts: $sorts)"
done
