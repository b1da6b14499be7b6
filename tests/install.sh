#!/usr/bin/env bash
# Installs the build into a scratch prefix and packs it as cluster nodes would get it:
# install.sh BUILD_DIR
set -u
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$work/prefix" >/dev/null || fail "cmake --install failed"
for program in bin/matbench bin/matbench-fine bin/matbench-speedup \
  share/matbench/matbench.sbatch; do
  [ -x "$work/prefix/$program" ] || fail "$program not installed"
done
# What a user of the package looks for: manual pages, completion, the README and the copyright.
documents=(share/man/man1/matbench.1.gz share/man/man1/matbench-fine.1.gz
  share/bash-completion/completions/matbench-speedup
  share/doc/matbench/README.md share/doc/matbench/copyright)
command -v help2man >/dev/null && documents+=(share/man/man1/matbench-speedup.1.gz)
for document in "${documents[@]}"; do
  [ -s "$work/prefix/$document" ] || fail "$document not installed"
done
# The copyright file is Debian's machine-readable format: the project's files under the MIT
# licence, with LICENSE's very text, and every licence named has its text.
python3 - "$work/prefix/share/doc/matbench/copyright" "$(dirname "$0")/../LICENSE" <<'PY' ||
import re, sys
paragraphs = [p for p in re.split(r"\n\s*\n(?=\S)", open(sys.argv[1]).read()) if p.strip()]
fields = [dict(re.findall(r"^(\S[^:\n]*): ?(.*(?:\n .*)*)", p, re.M)) for p in paragraphs]
assert fields[0].get("Format", "").startswith("https://www.debian.org/doc/packaging-manuals/copyright-format/1.0"), "no Format line"
project = [f for f in fields if f.get("Files") == "*"]
assert project and project[0]["License"] == "MIT", "the project's files are not under MIT"
texts = {f["License"].split("\n")[0]: f["License"] for f in fields if "Files" not in f and "License" in f and "Format" not in f}
named = {f["License"].split("\n")[0] for f in fields if "Files" in f}
assert named <= set(texts), f"licences without their text: {named - set(texts)}"
words = lambda t: re.sub(r"[\s.]+", " ", t).strip()
licence = open(sys.argv[2]).read().split("\n\n", 2)[2]
assert words(licence) in words(texts["MIT"].split("\n", 1)[1]), "MIT text differs from LICENSE"
assert "2026 the matbench authors" in open(sys.argv[2]).read(), "LICENSE names no copyright holder"
PY
  fail "the installed copyright file is not the MIT licence in Debian's format"
documents+=(share/doc/matbench/changelog.gz)
page=$work/prefix/share/man/man1/matbench-speedup.1.gz
if command -v man >/dev/null && [ -f "$page" ]; then
  MANWIDTH=200 man -l "$page" 2>/dev/null >"$work/page.txt"
  # Every command's options, not only the top level's.
  for option in --export-markdown --warmup --fail-if-slower --timeline --otf2 --team; do
    grep -q -e "$option" "$work/page.txt" || fail "the tool's manual page lacks $option"
  done
  grep -q "matbench-speedup $("$work/prefix/bin/matbench-speedup" --version | cut -d' ' -f2)" \
    "$work/page.txt" || fail "the tool's manual page does not carry its version"
fi
# groff refuses what it cannot typeset, such as an unknown escape; -ww warns of every doubt.
if command -v groff >/dev/null; then
  for installed in "$work"/prefix/share/man/man1/*.gz; do
    warnings=$(gzip -dc "$installed" | groff -man -ww -z 2>&1)
    [ -z "$warnings" ] || fail "groff warns of ${installed##*/}: $warnings"
  done
fi
# The installed tool must find the installed benchmark, not the one in the build folder.
"$work/prefix/bin/matbench-speedup" --runs 1 --json >"$work/session.json" 2>/dev/null ||
  fail "the installed tool could not run the installed benchmark"
grep -q '"serial_s"' "$work/session.json" || fail "no run in the installed tool's session"
# Where the trace tool was built, the installed speedup tool finds the installed trace tool.
if [ -f "$build/tools/trace/libmatbench-trace.so" ]; then
  [ -f "$work/prefix/libexec/matbench/libmatbench-trace.so" ] || fail "the trace tool is not installed"
  "$work/prefix/bin/matbench-speedup" trace --runs 1 --out "$work/trace" >/dev/null 2>"$work/err" ||
    fail "the installed tool could not trace: $(cat "$work/err")"
  [ -s "$work/trace/run-001.trace" ] || fail "the installed trace tool wrote no trace"
fi

command -v dpkg-deb >/dev/null || { echo "SKIP: dpkg-deb missing, no package check"; exit 77; }
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null || fail "cpack failed"
deb=$(ls "$work"/package/*.deb) || fail "no Debian package made"
contents=$(dpkg-deb -c "$deb")
for program in bin/matbench bin/matbench-fine bin/matbench-speedup share/matbench/matbench.sbatch \
  "${documents[@]}"; do
  grep -qE "usr/$program( -> [^/]+)?\$" <<<"$contents" || fail "$program missing from the package"
done
if [ -f "$build/tools/trace/libmatbench-trace.so" ]; then
  grep -q "usr/libexec/matbench/libmatbench-trace.so\$" <<<"$contents" ||
    fail "the trace tool is missing from the package"
fi
dpkg-deb -f "$deb" Depends | grep -q libhwloc || fail "the package does not depend on hwloc"
# What Debian's checker calls an error: unstripped binaries, uncompressed pages, no changelog,
# no description or copyright, a made-up address, ldconfig where no system library is.
if command -v lintian >/dev/null; then
  lintian --no-cfg "$deb" >"$work/lintian" 2>&1
  ! grep '^E:' "$work/lintian" || fail "lintian reports errors"
fi
echo "PASS: installed and packed"
