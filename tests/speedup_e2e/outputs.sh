# shellcheck shell=bash
# Written outputs and charts: failed writes, exports, gnuplot and a full disk.
# Sourced by speedup_e2e.sh, whose helpers the cases use; each case is a function named
# after it.

case_failed_writes_are_reported() {
  saved_report
  for format in "" --csv --long-csv --json; do
    "$tool" --input "$work/report.txt" $format >/dev/full 2>"$work/err"
    [ $? -eq 1 ] || fail "exit status $? on a full disk for '$format'"
    grep -q 'cannot write standard output: No space left on device' "$work/err" || fail "no message: $(cat "$work/err")"
    "$tool" --input "$work/report.txt" $format >&- 2>"$work/err"
    [ $? -eq 1 ] || fail "exit status $? with standard output closed"
    grep -q 'cannot write standard output' "$work/err" || fail "no message for a closed standard output"
  done
  # A saved report carries no tick: it is found from the times, and said.
  "$tool" --input "$work/report.txt" >/dev/null 2>"$work/err" || fail "exit status $?"
  grep -q "warning: the clock's tick is not recorded: 1 ms, found from the times" "$work/err" ||
    fail "the tick found from a saved report is not said: $(cat "$work/err")"
  # An export into a missing folder is refused in one line before any work (and any warning).
  "$tool" --input "$work/report.txt" --export-json "$work/none/session.json" >"$work/out" 2>"$work/err"
  [ $? -eq 2 ] || fail "exit status $? for an export into a missing folder"
  [ "$(wc -l <"$work/err")" -eq 1 ] && grep -q "none/session.json.*does not exist" "$work/err" ||
    fail "not one line naming the export: $(cat "$work/err")"
  [ ! -s "$work/out" ] || fail "the report was made before the export was refused"
  # The reader is gone before the tool starts: a reader that closed only as the tool began raced
  # with its first write, which then fitted in the pipe and succeeded.
  python3 -c 'import os, subprocess, sys
r, w = os.pipe()
os.close(r)
sys.exit(subprocess.run(sys.argv[1:], stdout=w).returncode)' "$tool" --input "$work/report.txt" --long-csv 2>"$work/err"
  status=$?
  [ "$status" -eq 1 ] || fail "exit status $status when the reader goes away (141 is death by SIGPIPE)"
}

case_exports_are_written_while_the_table_shows() {
  noisy_bench 0.2
  "$tool" --bench "$work/noisy" --runs 3 --export-json "$work/s.json" --export-csv "$work/s.csv" \
    --export-long-csv "$work/l.csv" --export-markdown "$work/s.md" >"$work/out" 2>"$work/err" ||
    fail "exit status $?: $(cat "$work/err")"
  grep -q 'matbench speedup over 3 of 3 runs' "$work/out" || fail "no table on standard output"
  # The exported session reads back to the very table, and every other export is its format.
  "$tool" --input "$work/s.json" >"$work/again" 2>/dev/null || fail "the exported JSON does not read back"
  cmp -s "$work/out" "$work/again" || fail "the exported JSON gives another table"
  for format in csv long-csv json markdown; do
    case $format in
      csv) file=s.csv ;; long-csv) file=l.csv ;; json) file=s.json ;; markdown) file=s.md ;;
    esac
    if [ $format = markdown ]; then
      "$tool" --input "$work/s.json" --export-markdown "$work/expected" >/dev/null 2>&1
    else
      "$tool" --input "$work/s.json" --$format >"$work/expected" 2>/dev/null
    fi
    cmp -s "$work/expected" "$work/$file" || fail "the $format export differs from --$format"
  done
  [ "$(grep -c '^| [0-9]' "$work/s.md")" -eq 20 ] || fail "the Markdown table lacks team sizes"
}

case_plot_draws_speedup_with_intervals() {
  command -v gnuplot >/dev/null || { echo "SKIP: gnuplot not installed"; exit 77; }
  # Times that Amdahl's law describes, serial fraction 0.1 on 2 processors, whatever this
  # machine's own: the fit is drawn only for a fraction within [0, 1].
  saved_report
  perl -pi -e 's/(\( (\d+) .*?= )\d+\.\d{6}/$1 . sprintf("%.6f", 0.010 + 0.090 \/ ($2 < 2 ? $2 : 2))/e;
    s/(SerialMulti = +)\d+\.\d{6}/${1}0.100000/' "$work/report.txt"
  noisy_bench 0.05
  "$tool" --bench "$work/noisy" --runs 6 --plot "$work/chart.svg" >/dev/null 2>"$work/err" ||
    fail "exit status $?: $(cat "$work/err")"
  [ -s "$work/chart.svg" ] || fail "no chart written"
  for series in "speedup vs serial" "ideal" "efficiency" "processors" "Amdahl fit"; do
    grep -q "$series" "$work/chart.svg" || fail "series '$series' missing from the chart"
  done
  [ "$(ls "$work")" = "$(printf 'chart.svg\nerr\nnoisy\nreport.txt')" ] || fail "files left beside the chart: $(ls "$work")"
}

case_plot_without_gnuplot_keeps_a_script_to_draw_later() {
  saved_report
  mkdir "$work/bin" "$work/tmp"
  TMPDIR=$work/tmp PATH=$work/bin "$tool" --input "$work/report.txt" --plot "$work/chart.png" >"$work/out" 2>"$work/err" ||
    fail "exit status $?"
  grep -q 'gnuplot' "$work/err" || fail "no word about gnuplot: $(cat "$work/err")"
  sed -i "/warning: the clock's tick is not recorded/d" "$work/err"  # a saved report's, said
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "more than one line on standard error"
  [ ! -e "$work/chart.png" ] && [ ! -e "$work/chart.gp" ] && [ ! -e "$work/chart.dat" ] || fail "files written beside the chart"
  script=$(ls "$work"/tmp/matbench-plot-*/chart.gp) || fail "no script kept"
  grep -q -F "$(dirname "$script")" "$work/err" || fail "the message does not say where the script is"
  grep -q '^ serial ' "$work/out" || fail "table not printed"
  if command -v gnuplot >/dev/null; then
    (cd "$(dirname "$script")" && gnuplot chart.gp) || fail "the kept script does not draw"
    [ -s "$(dirname "$script")/chart.png" ] || fail "the kept script drew nothing"
  fi
}

case_plot_path_is_never_a_command() {
  command -v gnuplot >/dev/null || { echo "SKIP: gnuplot not installed"; exit 77; }
  saved_report
  cd "$work" || fail "no work folder"
  hostile=$'x\nsystem "touch PWNED"\n`touch PWNED2`\'"#.svg'
  for path in "$hostile" "-e.svg"; do
    "$tool" --input report.txt --plot "$path" >/dev/null 2>err || fail "exit status $? for $(printf %q "$path"): $(cat err)"
    [ -s "./$path" ] || fail "no chart at exactly $(printf %q "$path")"
  done
  [ ! -e PWNED ] && [ ! -e PWNED2 ] || fail "a command in the chart's name ran"
  "$tool" --input report.txt --plot /nonexistent/chart.svg >/dev/null 2>err
  [ $? -eq 2 ] || fail "a chart into a missing folder was not refused before the work"
  [ "$(wc -l <err)" -eq 1 ] && grep -q '/nonexistent/chart.svg' err || fail "not one message naming the path: $(cat err)"
}

case_chart_cut_short_is_not_drawn() {
  saved_report
  mkdir "$work/bin"
  for kind in svg png; do
    # gnuplot exits 0 though the disk filled: the chart it leaves is cut short.
    if [ "$kind" = svg ]; then
      printf '#!/bin/sh\nprintf "<svg>\\n<g>" >chart.svg\n' >"$work/bin/gnuplot"
    else
      printf '#!/bin/sh\nprintf "\\211PNG\\r\\n\\032\\nIHDR" >chart.png\n' >"$work/bin/gnuplot"
    fi
    chmod +x "$work/bin/gnuplot"
    PATH=$work/bin:$PATH "$tool" --input "$work/report.txt" --plot "$work/chart.$kind" >"$work/out" 2>"$work/err"
    status=$?
    [ "$status" -eq 1 ] || fail "exit status $status for a $kind chart cut short"
    grep -q "chart is cut short" "$work/err" || fail "not named: $(cat "$work/err")"
    [ ! -e "$work/chart.$kind" ] || fail "the $kind chart cut short was copied"
  done
  # The page embeds its chart: one cut short was left out of it with exit status 0 and no word.
  printf '#!/bin/sh\nprintf "<svg>\\n<g>" >chart.svg\n' >"$work/bin/gnuplot"
  PATH=$work/bin:$PATH "$tool" --input "$work/report.txt" --html "$work/page.html" >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -eq 1 ] || fail "exit status $status for a page whose chart was cut short"
  grep -q "page.html\" has no chart: .*chart is cut short" "$work/err" || fail "not named: $(cat "$work/err")"
  grep -q "no-chart" "$work/page.html" || fail "the page does not say its chart is missing"
}

case_outputs_are_checked_before_any_run() {
  saved_report
  "$tool" --input "$work/report.txt" --json >"$work/session.json" 2>/dev/null
  cp "$work/session.json" "$work/kept.json"
  # A benchmark that notes each run, so a refusal after the runs shows.
  printf '#!/bin/sh\necho ran >>%q\ncat %q\n' "$work/ran" "$work/report.txt" >"$work/fake"
  chmod +x "$work/fake"
  mkdir "$work/sub"
  while IFS='|' read -r what args; do
    rm -f "$work/ran"
    eval "set -- $args"
    expect_refusal "$what" "$tool" "$@"
    [ ! -e "$work/ran" ] || fail "the benchmark ran before the refusal of: $args"
    [ "$(wc -l <"$work/err")" -eq 1 ] || fail "not one line for $args: $(cat "$work/err")"
    cmp -s "$work/session.json" "$work/kept.json" || fail "the input was changed by: $args"
  done <<CASES
"/nonexistent" does not exist|--bench "$work/fake" --runs 2 --export-json /nonexistent/x.json
does not exist|--bench "$work/fake" --runs 2 --plot "$work/none/c.svg"
would write over an input|--input "$work/session.json" --export-csv "$work/session.json"
would write over an input|--input "$work/session.json" --export-csv "$work/sub/../session.json"
would write over an input|merge "$work/session.json" --html "$work/./session.json"
would write over an input|compare "$work/session.json" "$work/kept.json" --html "$work/kept.json"
is also the path of --export-json|--bench "$work/fake" --runs 2 --export-json "$work/o" --html "$work/o"
is also the path of --export-csv|--input "$work/session.json" --export-csv "$work/o" --export-markdown "$work/sub/../o"
lies in the input folder|trace --input "$work/sub" --chrome "$work/sub/trace.json"
CASES
}

case_full_disk_leaves_no_file_cut_short() {
  saved_report
  "$tool" --input "$work/report.txt" --json >"$work/session.json" 2>/dev/null
  mkdir "$work/full" "$work/roomy"
  mount -t tmpfs -o size=12k tmpfs "$work/full" 2>/dev/null || {
    echo "SKIP: no small tmpfs can be mounted here (needs root)"
    exit 77
  }
  trap 'umount "$work/full"; rm -rf "$work"' EXIT
  outputs() {  # outputs FOLDER
    echo --export-json "$1/s.json" --export-csv "$1/s.csv" --export-markdown "$1/s.md" \
      --export-long-csv "$1/l.csv" --html "$1/p.html"
  }
  "$tool" --input "$work/session.json" $(outputs "$work/roomy") >/dev/null 2>&1 || fail "exit status $? with room"
  "$tool" --input "$work/session.json" $(outputs "$work/full") >/dev/null 2>"$work/err"
  [ $? -eq 1 ] || fail "exit status $? on a full disk"
  grep -q "No space left on device" "$work/err" || fail "the full disk is not named: $(cat "$work/err")"
  for file in s.json s.csv s.md l.csv p.html; do
    [ ! -e "$work/full/$file" ] || cmp -s "$work/full/$file" "$work/roomy/$file" ||
      fail "$file was left cut short"
  done
  ! ls -A "$work/full" | grep -q partial || fail "a temporary file was left: $(ls -A "$work/full")"
  [ -n "$(ls -A "$work/full")" ] || fail "not even the small outputs fitted: the check proves nothing"
}
