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
# Usage: bench/figures.sh BUILD_DIR
#   FIGURES_SECONDS  the measured interval of each run (default 60)
#   FIGURES_WARMUP   seconds from the first reading to the interval (default 5)
#   FIGURES_STARTS   starts timed to the first request (default 5)
#   FIGURES_KEEP=1   keep the temporary folder (settings, logs, the peer's readings)
# It needs the targets qvr1pc, bus_peer and clock_exec:
#   cmake --build BUILD_DIR --target qvr1pc bus_peer clock_exec
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

if [ $# -ne 1 ]; then
  echo "Usage: $0 BUILD_DIR" >&2
  exit 2
fi
build="$(cd "$1" && pwd)"
program="$build/qvr1pc"
peer="$build/bench/bus_peer"
clock="$build/bench/clock_exec"
for f in "$program" "$peer" "$clock"; do
  if [ ! -x "$f" ]; then
    echo "$f is missing: cmake --build $1 --target qvr1pc bus_peer clock_exec" >&2
    exit 2
  fi
done
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (tools/install-deps.sh)" >&2; exit 2; }

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

# start_program NAME CHART_TYPE: a copy of the program in $work/NAME with its
# own config.ini naming the peer's terminal, under xvfb-run; $pid is the
# program's process, $xvfb_pid the xvfb-run around it. The monotonic time just
# before the exec of the program goes to $work/NAME/exec_ms.
start_program() {
  local name="$1" chart="$2" dir="$work/$1"
  mkdir -p "$dir"
  cp "$program" "$dir/qvr1pc"
  cat >"$dir/config.ini" <<EOF
[Options]
AutoSave=1
Update=1
AutoConnect=1
SaveDate=1
SaveTime=1
SaveRaw=1
SavePercent=1
SaveCoeff=1
SaveFile=$dir/pomiar.csv
SensorCount=15
SaveFreq=0
ChartType=$chart
Coeff=1,00
[Adapters]
Port1=$work/$name.bus
EOF
  (
    cd "$dir"
    exec env LC_ALL=pl_PL.UTF-8 QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
      sh -c 'echo $$ > pid; exec "$0" exec_ms ./qvr1pc' "$clock"
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
