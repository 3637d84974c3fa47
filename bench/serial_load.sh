#!/usr/bin/env bash
# CPU of the real program's receive path, two builds side by side, interleaved:
#   flood  random bytes written into the program's terminal at LOAD_RATE bytes/s
#          (what it sends is read and dropped), nothing answers;
#   pace   sixteen sensors on bench/bus_peer at full polling pace.
# Each run: the program under xvfb-run with its own config.ini beside it naming
# the terminal in [Adapters]; after LOAD_WARMUP s, user + system CPU from
# /proc/PID/stat over LOAD_SECONDS, then (with strace present) the read()
# calls of all its threads over LOAD_STRACE s, counted separately.
#
# Usage: bench/serial_load.sh PEER_BUILD_DIR NAME=BUILD_DIR...
#   PEER_BUILD_DIR  has bench/bus_peer; each BUILD_DIR has qvr1pc
#   LOAD_SECONDS (60), LOAD_WARMUP (5), LOAD_STRACE (5), LOAD_ROUNDS (1),
#   LOAD_RATE (120000)
set -euo pipefail
. "$(dirname "$0")/program_config.sh"

if [ $# -lt 2 ]; then
  echo "Usage: $0 PEER_BUILD_DIR NAME=BUILD_DIR..." >&2
  exit 2
fi
peer="$(cd "$1" && pwd)/bench/bus_peer"
shift
[ -x "$peer" ] || { echo "$peer is missing" >&2; exit 2; }
seconds="${LOAD_SECONDS:-60}"
warmup="${LOAD_WARMUP:-5}"
trace_s="${LOAD_STRACE:-5}"
rounds="${LOAD_ROUNDS:-1}"
rate="${LOAD_RATE:-120000}"
hz="$(getconf CLK_TCK)"

work="$(mktemp -d /tmp/qvr-load.XXXXXX)"
started=()
cleanup() {
  for p in "${started[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The flood's far end: prints the terminal's path, writes random bytes at the
# rate, drops what the program sends; on SIGTERM prints what went each way.
cat >"$work/flood.py" <<'EOF'
import os, select, signal, sys, time, tty
rate = int(sys.argv[1])
master, slave = os.openpty()
tty.setraw(slave)
print(os.ttyname(slave), flush=True)
os.set_blocking(master, False)
stop = False
def on_term(*_):
    global stop
    stop = True
signal.signal(signal.SIGTERM, on_term)
sent = dropped = got = 0
step = 0.01
chunk = rate * step
due = time.monotonic()
while not stop:
    due += step
    data = os.urandom(int(chunk))
    try:
        n = os.write(master, data)
    except BlockingIOError:
        n = 0
    sent += n
    dropped += len(data) - n
    while True:
        left = due - time.monotonic()
        r, _, _ = select.select([master], [], [], max(left, 0))
        if not r:
            break
        try:
            got += len(os.read(master, 4096))
        except (BlockingIOError, OSError):
            break
print(f"flood: wrote {sent} bytes, {dropped} not taken, read {got} bytes from the program", flush=True)
EOF

cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12, $13 }' "/proc/$1/stat"; }
rchar() { awk '$1 == "rchar:" { print $2 }' "/proc/$1/io"; } # bytes read(), the X socket's too
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# measure NAME BUILD KIND: one run; prints one line.
measure() {
  local name="$1" build="$2" kind="$3" dir="$work/$1-$3-$RANDOM" bus far_pid
  mkdir -p "$dir"
  if [ "$kind" = flood ]; then
    python3 "$work/flood.py" "$rate" >"$dir/far" 2>&1 &
    far_pid=$!
  else
    "$peer" --link "$dir/bus" --log "$dir/readings" >"$dir/far" 2>&1 &
    far_pid=$!
  fi
  started+=("$far_pid")
  for _ in $(seq 100); do [ -s "$dir/far" ] && break; sleep 0.1; done
  bus="$(head -n 1 "$dir/far")"
  cp "$build/qvr1pc" "$dir/qvr1pc"
  write_program_config "$dir/config.ini" "$dir" 0 "$bus"
  (cd "$dir" && exec env LC_ALL=pl_PL.UTF-8 QT_QPA_PLATFORM=xcb xvfb-run -a \
    -s "-screen 0 1024x768x24" sh -c 'echo $$ > pid; exec ./qvr1pc') >"$dir/output" 2>&1 &
  local xvfb_pid=$!
  started+=("$xvfb_pid")
  for _ in $(seq 300); do [ -s "$dir/pid" ] && break; sleep 0.1; done
  local pid u0 s0 u1 s1 t0 t1 c0 c1 calls
  pid="$(cat "$dir/pid")"
  sleep "$warmup"
  read -r u0 s0 < <(cpu_ticks "$pid")
  t0="$(now_ms)" c0="$(rchar "$pid")"
  sleep "$seconds"
  read -r u1 s1 < <(cpu_ticks "$pid")
  t1="$(now_ms)" c1="$(rchar "$pid")"
  local load
  load="$(cut -d' ' -f1-3 /proc/loadavg)"
  calls="-"
  if command -v strace >/dev/null && [ "$trace_s" -gt 0 ]; then
    timeout -s INT "$trace_s" strace -c -f -e trace=read -p "$pid" -o "$dir/strace" 2>/dev/null || true
    calls="$(awk '$NF == "read" { print $4 }' "$dir/strace")" # % time, seconds, usecs/call, calls
    calls="$(awk -v c="${calls:-0}" -v s="$trace_s" 'BEGIN { printf "%.0f/s", c / s }')"
  fi
  kill -TERM "$pid"
  wait "$xvfb_pid" || true
  kill -TERM "$far_pid"
  wait "$far_pid" || true
  started=()
  local far_summary readings=""
  far_summary="$(tail -n 1 "$dir/far")"
  [ "$kind" = pace ] && readings=", readings $(($(wc -l <"$dir/readings") - 1))"
  awk -v n="$name" -v k="$kind" -v u="$((u1 - u0))" -v s="$((s1 - s0))" -v hz="$hz" \
    -v a="$t0" -v b="$t1" -v c="$calls" -v l="$load" -v r="$readings" -v got="$((c1 - c0))" 'BEGIN {
      d = hz * (b - a) / 1000
      printf "%-6s %-5s cpu %6.2f %% (user %.2f, system %.2f), in %.1f kB/s, read() %s, load %s%s\n",
        n, k, 100 * (u + s) / d, 100 * u / d, 100 * s / d, got / (b - a), c, l, r }'
  echo "       $far_summary"
}

echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)," \
  "${seconds} s each, flood ${rate} bytes/s"
for ((round = 1; round <= rounds; round++)); do
  for kind in flood pace; do
    for pair in "$@"; do
      measure "${pair%%=*}" "$(cd "${pair#*=}" && pwd)" "$kind"
    done
  done
done
