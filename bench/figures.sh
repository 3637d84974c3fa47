#!/usr/bin/env bash
# Figures of the real program, build/qvr1pc, on sixteen libmodbus sensors
# over a pseudo-terminal (bench/bus_peer, real wire timing at 57600 baud),
# under a virtual X server with its window shown:
#   - polling pace, all sensors answering and with sensor 57 silent, each as a
#     ratio to the tick design below;
#   - CPU (percent of one core) and resident memory at full pace with the
#     log on, with the line chart and with the gauges;
#   - the time from the exec of the program to the first request on the bus,
#     with AutoConnect and Update on.
#
# With the mode cpu-pages instead, the program's CPU on each page against a
# floor (bench/floor: a shown window of the same size with the same timers and
# no work), interleaved in one run: the program with "Wykresy" shown (the line
# chart, selected by a click on its tab as an operator would, with xdotool),
# the floor, the program on "Wskaźniki" (the page it starts on), the floor.
# Each program interval pairs with the floor measured right after it; the
# difference is what the program costs above an idle shown Qt window woken at
# the same pace. After each interval screenshots check the page shown (the tab
# bar, against the one before the click) and that the traffic log scrolls.
#
# Usage: bench/figures.sh BUILD_DIR [cpu-pages]
#   FIGURES_SECONDS  the measured interval of each run (default 60)
#   FIGURES_WARMUP   seconds from the first reading to the interval (default 5)
#   FIGURES_STARTS   starts timed to the first request (default 5)
#   FIGURES_KEEP=1   keep the temporary folder (settings, logs, the peer's readings)
#   FIGURES_ROUNDS   cpu-pages: rounds of the four intervals (default 1)
# It needs the targets qvr1pc, bus_peer and clock_exec (cpu-pages: and floor,
# and xdotool and ImageMagick):
#   cmake --build BUILD_DIR --target qvr1pc bus_peer clock_exec floor
#
# The tick design (ui/main_link.cpp, link/receiver.h, ui/main_polling.cpp):
#   The 20 ms receive tick fetches the bytes waiting; a frame ends on the
#   second tick in a row without bytes, and handling a reply sends the next
#   request at once. A reply (8 + 7 bytes on the wire, about 4 ms with the
#   turnaround) is in before the next tick, so each answering sensor takes
#   3 ticks: 60 ms, 1000 / 60 = 16.67 readings/s.
#   A silent sensor's request also goes out from a receive tick; its 200 ms
#   time-out (TimeoutTimerTimer) sends the next request at once, just after
#   the tick 10 ticks later, and that reply is handled on the third tick after
#   it. The time-out is a whole number of ticks, so it adds no rounding tick:
#   a round is 15 x 60 ms + 200 ms = 1100 ms for 15 readings, 13.64 readings/s.
#   (The time-out is a coarse Qt timer, allowed 5 % either way: one that fires
#   more than about 6 ms early has its reply handled a tick sooner.)
set -euo pipefail
. "$(dirname "$0")/program_config.sh"

if [ $# -lt 1 ] || [ $# -gt 2 ] || { [ $# -eq 2 ] && [ "$2" != cpu-pages ]; }; then
  echo "Usage: $0 BUILD_DIR [cpu-pages]" >&2
  exit 2
fi
build="$(cd "$1" && pwd)"
mode="${2:-all}"
program="$build/qvr1pc"
peer="$build/bench/bus_peer"
clock="$build/bench/clock_exec"
floor="$build/bench/floor"
needed=("$program" "$peer" "$clock")
[ "$mode" = all ] || needed+=("$floor")
for f in "${needed[@]}"; do
  if [ ! -x "$f" ]; then
    echo "$f is missing: cmake --build $1 --target qvr1pc bus_peer clock_exec floor" >&2
    exit 2
  fi
done
tools=(xvfb-run)
[ "$mode" = all ] || tools+=(xdotool import convert compare)
for t in "${tools[@]}"; do
  command -v "$t" >/dev/null || { echo "$t is missing (tools/install-deps.sh)" >&2; exit 2; }
done

seconds="${FIGURES_SECONDS:-60}"
warmup="${FIGURES_WARMUP:-5}"
starts="${FIGURES_STARTS:-5}"
hz="$(getconf CLK_TCK)"

# Design values.
tick_ms=20
timeout_ms=200
reading_ms=$((3 * tick_ms))
design_all="$(awk -v r=$reading_ms 'BEGIN { printf "%.4f", 1000 / r }')"
design_silent="$(awk -v r=$reading_ms -v t=$timeout_ms 'BEGIN { printf "%.4f", 15 * 1000 / (15 * r + t) }')"

work="$(mktemp -d /tmp/qvr-figures.XXXXXX)"
started=() # pids of what this script started, ended on exit
cleanup() {
  for p in "${started[@]}"; do
    kill -TERM "$p" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  if [ "${FIGURES_KEEP:-0}" = 1 ]; then
    echo "kept: $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
# forget PID: it has been waited for, so its number may already be another's.
forget() {
  local keep=() p
  for p in "${started[@]}"; do
    [ "$p" = "$1" ] || keep+=("$p")
  done
  started=("${keep[@]}")
}

now_ms() { "$clock"; }
loadavg() { cut -d' ' -f1-3 /proc/loadavg; }
fail() {
  echo "figures: $*" >&2
  exit 1
}

# pause SECONDS: a sleep without starting a process (a read that times out on
# a pipe nobody writes), so that waiting in small steps loads the machine less.
exec {idle}<> <(:)
pause() { read -rt "$1" -u "$idle" _ || true; }

# wait_for SECONDS COMMAND...: polls every 10 ms until COMMAND succeeds.
wait_for() {
  local limit=$(($1 * 100))
  shift
  for ((i = 0; i < limit; i++)); do
    "$@" && return 0
    pause 0.01
  done
  return 1
}
has_line() { [ -s "$1" ] && [ "$(wc -l <"$1")" -ge "$2" ]; }
has_data() { [ -s "$1" ]; }

# start_peer NAME BUS_PEER_OPTION...: the sixteen sensors on $work/NAME.bus.
start_peer() {
  local name="$1"
  shift
  "$peer" --link "$work/$name.bus" "$@" >"$work/$name.peer" 2>&1 &
  peer_pid=$!
  started+=("$peer_pid")
  wait_for 10 has_line "$work/$name.peer" 1 || fail "$name: bus_peer did not start"
}

# stop_peer NAME: its summary line in $summary.
stop_peer() {
  kill -TERM "$peer_pid"
  local rc=0
  wait "$peer_pid" || rc=$?
  forget "$peer_pid"
  [ "$rc" -eq 0 ] || fail "$1: bus_peer exited with $rc"
  summary="$(tail -n 1 "$work/$1.peer")"
}

# start_program NAME CHART_TYPE [EXECUTABLE]: a copy of the program (or of
# EXECUTABLE) in $work/NAME with its own config.ini naming the peer's terminal,
# under xvfb-run; $pid is the program's process, $xvfb_pid the xvfb-run around
# it. The monotonic time just before the exec of the program goes to
# $work/NAME/exec_ms, the X display and its authority file to $work/NAME/x.
start_program() {
  local name="$1" chart="$2" exe="${3:-$program}" dir="$work/$1"
  mkdir -p "$dir"
  cp "$exe" "$dir/"
  write_program_config "$dir/config.ini" "$dir" "$chart" "$work/$name.bus"
  (
    cd "$dir"
    exec env LC_ALL=pl_PL.UTF-8 QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
      sh -c 'echo $$ > pid; echo "$DISPLAY $XAUTHORITY" > x; exec "$0" exec_ms "./$1"' \
      "$clock" "$(basename "$exe")"
  ) >"$dir/output" 2>&1 &
  xvfb_pid=$!
  started+=("$xvfb_pid")
  wait_for 30 has_data "$dir/exec_ms" || fail "$name: the program did not start: $(cat "$dir/output")"
  pid="$(cat "$dir/pid")"
  started=("$pid" "${started[@]}") # the program before the xvfb-run around it
}

# stop_program NAME: SIGTERM, as at the end of a session; exit code 0 expected.
stop_program() {
  local rc=0
  kill -TERM "$pid"
  wait "$xvfb_pid" || rc=$?
  forget "$pid"
  forget "$xvfb_pid"
  [ "$rc" -eq 0 ] || fail "$1: the program exited with $rc: $(tail -n 5 "$work/$1/output")"
}

# Where the main thread's time went from the exec (ms, given then) to now:
# on a CPU, ready but waiting for one, and the rest blocked (the X server,
# the disk). Read a few ms after the first request, so an upper bound for it.
# Sets $sched; no process is started before the figures are read.
sched_ms() {
  local run queued _ now
  read -r run queued _ <"/proc/$pid/schedstat"
  now="$(now_ms)"
  sched="$(awk -v a="$1" -v b="$now" -v r="$run" -v q="$queued" 'BEGIN {
    e = b - a; printf "at +%.0f ms: cpu %.0f, run queue %.0f, blocked %.0f ms", e, r / 1e6, q / 1e6, e - (r + q) / 1e6 }')"
}
cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12, $13 }' "/proc/$pid/stat"; } # user, system
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status"; }
log_lines() { if [ -f "$1" ]; then wc -l <"$1"; else echo 0; fi; }

# run NAME CHART_TYPE BUS_PEER_OPTION...: the program polls sixteen sensors;
# after the first reading and the warm-up, one interval of FIGURES_SECONDS is
# measured. Sets readings_s, cpu_pct (cpu_split: user and system), rss0_mb,
# rss1_mb, log_s, load, summary.
run() {
  local name="$1" chart="$2"
  shift 2
  start_peer "$name" --log "$work/$name.readings" "$@"
  start_program "$name" "$chart"
  wait_for 30 has_line "$work/$name.readings" 2 || fail "$name: no reading in 30 s"
  sleep "$warmup"

  local t0 t1 u0 u1 s0 s1 r0 r1 l0 l1
  read -r u0 s0 < <(cpu_ticks)
  t0="$(now_ms)" r0="$(rss_kb)" l0="$(log_lines "$work/$name/pomiar.csv")"
  sleep "$seconds"
  read -r u1 s1 < <(cpu_ticks)
  t1="$(now_ms)" r1="$(rss_kb)" l1="$(log_lines "$work/$name/pomiar.csv")"
  load="$(loadavg)"

  stop_program "$name"
  stop_peer "$name"
  readings_s="$(awk -F';' -v a="$t0" -v b="$t1" \
    'NR > 1 && $1 >= a && $1 < b { n++ } END { printf "%.3f", n * 1000 / (b - a) }' \
    "$work/$name.readings")"
  cpu_pct="$(awk -v c="$((u1 - u0 + s1 - s0))" -v hz="$hz" -v a="$t0" -v b="$t1" \
    'BEGIN { printf "%.2f", 100 * c / hz / ((b - a) / 1000) }')"
  cpu_split="$(awk -v u="$((u1 - u0))" -v s="$((s1 - s0))" -v hz="$hz" -v a="$t0" -v b="$t1" \
    'BEGIN { d = hz * (b - a) / 1000; printf "user %.2f, system %.2f", 100 * u / d, 100 * s / d }')"
  rss0_mb="$(awk -v k="$r0" 'BEGIN { printf "%.1f", k / 1024 }')"
  rss1_mb="$(awk -v k="$r1" 'BEGIN { printf "%.1f", k / 1024 }')"
  log_s="$(awk -v n="$((l1 - l0))" -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", n * 1000 / (b - a) }')"
  echo "  $name: readings $readings_s/s, cpu $cpu_pct % ($cpu_split), rss $rss0_mb -> $rss1_mb MiB," \
    "log $log_s lines/s, load $load, exit 0"
  echo "    bus_peer: $summary"
}

# Round lengths with a silent sensor: from one reading of sensor 50 to the next.
rounds() {
  awk -F';' 'NR > 1 && $2 == 50 { if (p) { d = $1 - p; s += d; n++; h[int((d + 10) / 20) * 20]++ } p = $1 }
    END { printf "mean %.1f ms over %d rounds;", s / n, n; for (k in h) printf " %d ms: %d", k, h[k]; print "" }' \
    "$work/$1.readings"
}

ratio() { awk -v m="$1" -v d="$2" 'BEGIN { printf "%.3f", m / d }'; }

# on_x NAME COMMAND...: COMMAND on the X display of the program started as NAME.
on_x() {
  local name="$1" display auth
  shift
  read -r display auth <"$work/$name/x"
  DISPLAY="$display" XAUTHORITY="$auth" "$@"
}
# window_of NAME: the shown window of the program started as NAME ($pid).
window_of() { on_x "$1" xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1; }
has_window() { [ -n "$(window_of "$1")" ]; }

# place NAME: waits for the window, sets $wx $wy (its top-left on the screen)
# and moves the pointer off it, so no run has a hovered widget.
place() {
  wait_for 30 has_window "$1" || fail "$1: no window shown"
  read -r wx wy < <(on_x "$1" xdotool getwindowgeometry --shell "$(window_of "$1")" |
    awk -F= '$1 == "X" { x = $2 } $1 == "Y" { y = $2 } END { print x, y }')
  on_x "$1" xdotool mousemove --sync 1000 750
}

# shot NAME FILE: a screenshot of the whole screen.
shot() { on_x "$1" import -window root "$work/$1/$2"; }
# pixels_differ NAME FILE1 FILE2 GEOMETRY: how many pixels differ in the region
# GEOMETRY (WxH+X+Y) of two screenshots of NAME.
pixels_differ() {
  local d="$work/$1"
  convert "$d/$2" -crop "$4" +repage "$d/a.png"
  convert "$d/$3" -crop "$4" +repage "$d/b.png"
  { compare -metric AE "$d/a.png" "$d/b.png" null: 2>&1 || true; } | awk '{ print $1 }'
}

# measure: the CPU of $pid over one interval of FIGURES_SECONDS. Sets m_t0,
# m_t1 (ms), cpu_pct, cpu_user, cpu_sys (% of one core) and load.
measure() {
  local u0 u1 s0 s1
  read -r u0 s0 < <(cpu_ticks)
  m_t0="$(now_ms)"
  sleep "$seconds"
  read -r u1 s1 < <(cpu_ticks)
  m_t1="$(now_ms)"
  load="$(loadavg)"
  read -r cpu_pct cpu_user cpu_sys < <(awk -v u="$((u1 - u0))" -v s="$((s1 - s0))" -v hz="$hz" \
    -v a="$m_t0" -v b="$m_t1" 'BEGIN { d = hz * (b - a) / 1000; printf "%.2f %.2f %.2f\n", 100 * (u + s) / d, 100 * u / d, 100 * s / d }')
}

# page_run NAME PAGE: the program at full pace (ChartType 0, the line chart)
# with PAGE shown: Wykresy is clicked (the second tab, at 112,19 from the
# window's top-left), Wskaźniki is the page it starts on. After the interval,
# the tab bar must differ from the one before the click exactly when clicked,
# and the traffic log must have moved within a second. Sets what measure sets,
# readings_s, log_s and checks.
page_run() {
  local name="$1" page="$2"
  start_peer "$name" --log "$work/$name.readings"
  start_program "$name" 0
  wait_for 30 has_line "$work/$name.readings" 2 || fail "$name: no reading in 30 s"
  place "$name"
  shot "$name" start.png
  if [ "$page" = Wykresy ]; then
    on_x "$name" xdotool mousemove --sync $((wx + 112)) $((wy + 19)) click 1 mousemove --sync 1000 750
  fi
  sleep "$warmup"

  local l0 l1
  l0="$(log_lines "$work/$name/pomiar.csv")"
  measure
  l1="$(log_lines "$work/$name/pomiar.csv")"

  shot "$name" end.png
  pause 1
  shot "$name" later.png
  local tabs scroll
  tabs="$(pixels_differ "$name" start.png end.png "465x32+$wx+$wy")"
  scroll="$(pixels_differ "$name" end.png later.png "190x330+$((wx + 492))+$((wy + 50))")"
  if [ "$page" = Wykresy ]; then
    [ "$tabs" -gt 0 ] || fail "$name: the tab bar did not change: Wykresy not shown"
  else
    [ "$tabs" -eq 0 ] || fail "$name: the tab bar changed ($tabs pixels): Wskaźniki not shown"
  fi
  [ "$scroll" -gt 0 ] || fail "$name: the traffic log did not scroll"
  checks="tab bar $tabs px changed, log $scroll px in 1 s"

  stop_program "$name"
  stop_peer "$name"
  readings_s="$(awk -F';' -v a="$m_t0" -v b="$m_t1" \
    'NR > 1 && $1 >= a && $1 < b { n++ } END { printf "%.3f", n * 1000 / (b - a) }' \
    "$work/$name.readings")"
  log_s="$(awk -v n="$((l1 - l0))" -v a="$m_t0" -v b="$m_t1" 'BEGIN { printf "%.2f", n * 1000 / (b - a) }')"
}

# floor_run NAME: bench/floor under the same xvfb-run, the same warm-up and
# interval. Sets what measure sets.
floor_run() {
  start_program "$1" 0 "$floor"
  place "$1"
  sleep "$warmup"
  measure
  stop_program "$1"
}

if [ "$mode" = cpu-pages ]; then
  rounds="${FIGURES_ROUNDS:-1}"
  echo "QVR-1 PC CPU by page against the floor: $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores," \
    "$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo), load $(loadavg)"
  echo "each interval ${seconds} s after the first reading (floor: the window shown) + ${warmup} s"
  echo
  rows=()
  for ((r = 1; r <= rounds; r++)); do
    order=(Wykresy Wskaźniki)
    [ $((r % 2)) -eq 1 ] || order=(Wskaźniki Wykresy) # later rounds alternate the order
    for page in "${order[@]}"; do
      key=chart
      [ "$page" = Wykresy ] || key=table
      page_run "${key}_$r" "$page"
      p_pct=$cpu_pct p_user=$cpu_user p_sys=$cpu_sys p_load=$load
      echo "  ${key}_$r ($page): readings $readings_s/s, log $log_s lines/s," \
        "cpu $p_pct % (user $p_user, system $p_sys), load $p_load; $checks; exit 0"
      floor_run "floor_${key}_$r"
      echo "  floor_${key}_$r: cpu $cpu_pct % (user $cpu_user, system $cpu_sys), load $load; exit 0"
      rows+=("$page;$r;$p_pct;$p_user;$p_sys;$cpu_pct;$cpu_user;$cpu_sys;$p_load;$load")
    done
  done
  echo
  printf '%s\n' "${rows[@]}" | awk -F';' '
    BEGIN { printf "%-10s %-5s %-24s %-24s %-11s %s\n", "page", "round", "program % (user, sys)",
              "floor % (user, sys)", "difference", "load 1/5/15 (program; floor)" }
    { d = $3 - $6; s[$1] += d; n[$1]++
      # Padded by hand to the width in characters: UTF-8 continuation bytes
      # do not count (an awk that counts bytes sees them, one that counts
      # characters does not).
      w = $1; cont = gsub(/[\200-\277]/, "", w)
      printf "%s%" (11 - length($1) + cont) "s%-5s %-24s %-24s %-11s %s; %s\n", $1, "", $2,
        sprintf("%.2f (%.2f, %.2f)", $3, $4, $5), sprintf("%.2f (%.2f, %.2f)", $6, $7, $8),
        sprintf("%+.2f pp", d), $9, $10 }
    END { if (NR > 2) for (p in s) printf "mean difference, %s: %+.2f pp over %d rounds\n", p, s[p] / n[p], n[p] }'
  exit 0
fi


echo "QVR-1 PC figures: $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores," \
  "$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo), load $(loadavg)"
echo "each interval ${seconds} s after the first reading + ${warmup} s"
echo

run pace_all 0
all_s=$readings_s all_load=$load line_cpu=$cpu_pct line_split="$cpu_split" line_rss0=$rss0_mb line_rss1=$rss1_mb
line_log=$log_s
run pace_silent 0 --silent 57
silent_s=$readings_s silent_load=$load
echo "    rounds: $(rounds pace_silent)"
run gauges 1
gauge_cpu=$cpu_pct gauge_split="$cpu_split" gauge_rss0=$rss0_mb gauge_rss1=$rss1_mb gauge_load=$load gauge_log=$log_s

# Start to the first request: from just before the exec to the first request's
# first byte at the peer, one clock (CLOCK_MONOTONIC) for both.
delays=()
for ((n = 1; n <= starts; n++)); do
  name="start$n"
  start_peer "$name" --first-request "$work/$name.first"
  start_program "$name" 0
  wait_for 30 has_data "$work/$name.first" || fail "$name: no request in 30 s"
  sched_ms "$(<"$work/$name/exec_ms")"
  d="$(awk -v a="$(cat "$work/$name/exec_ms")" -v b="$(cat "$work/$name.first")" \
    'BEGIN { printf "%.1f", b - a }')"
  delays+=("$d")
  start_load="$(loadavg)"
  sleep 1
  stop_program "$name"
  stop_peer "$name"
  echo "  $name: first request $d ms after the exec; main thread $sched, load $start_load, exit 0"
done
sorted="$(printf '%s\n' "${delays[@]}" | sort -n)"
median="$(echo "$sorted" | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.1f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }')"
max="$(echo "$sorted" | tail -n 1)"

echo
printf '%-46s %-18s %-16s %-7s %s\n' "figure" "measured" "design / target" "ratio" "load 1/5/15"
printf '%-46s %-18s %-16s %-7s %s\n' "pace, 16 answering (readings/s)" "$all_s" "$design_all" \
  "$(ratio "$all_s" "$design_all")" "$all_load"
printf '%-46s %-18s %-16s %-7s %s\n' "pace, 57 silent (readings/s)" "$silent_s" "$design_silent" \
  "$(ratio "$silent_s" "$design_silent")" "$silent_load"
printf '%-46s %-18s %-16s %-7s %s\n' "CPU, line chart, log on (% of one core)" "$line_cpu" "<= 3" "" \
  "$all_load"
printf '%-46s %-34s %s\n' "  of which (% of one core)" "$line_split" ""
printf '%-46s %-18s %-16s %-7s %s\n' "VmRSS, line chart (MiB, start -> end)" "$line_rss0 -> $line_rss1" "" "" \
  "$all_load"
printf '%-46s %-18s %-16s %-7s %s\n' "CPU, gauges, log on (% of one core)" "$gauge_cpu" "<= 3" "" \
  "$gauge_load"
printf '%-46s %-34s %s\n' "  of which (% of one core)" "$gauge_split" ""
printf '%-46s %-18s %-16s %-7s %s\n' "VmRSS, gauges (MiB, start -> end)" "$gauge_rss0 -> $gauge_rss1" "" "" \
  "$gauge_load"
printf '%-46s %-18s %-16s %-7s %s\n' "log lines/s (line chart; gauges)" "$line_log; $gauge_log" "10" "" ""
printf '%-46s %-18s %-16s %-7s %s\n' "start to first request (ms, median / max of $starts)" \
  "$median / $max" "<= 300" "" "$start_load"
