#!/usr/bin/env bash
# System benchmark of the DE link: the built gateway takes values from
# ferrox-depeer at 100 k, 1 M and 5 M parameters per second into a DE tie
# whose parameters feed a text file output, and this script reports the
# gateway's CPU per value, its memory and whether every value offered was
# taken (the peer counts what it sent, the gateway what it received). The
# peer's own CPU share is shown too: both run on the same machine. The
# main cycle's own figures from the status document say whether it kept its
# period under the load: its longest tick and how many ticks overran.
#
#   FERROX_BUILD_DIR   build directory with bin/ferrox and bin/ferrox-depeer (default ./build)
#   DE_BENCH_SECONDS   seconds of load per rate (default 10)
#   DE_BENCH_RATES     parameters per second to offer (default "100000 1000000 5000000")
#   DE_BENCH_PARAMS    parameters of the tie (default 10000; packs of 1000)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROX_BUILD_DIR:-$root/build}
seconds=${DE_BENCH_SECONDS:-10}
rates=${DE_BENCH_RATES:-"100000 1000000 5000000"}
params=${DE_BENCH_PARAMS:-10000}
for p in ferrox ferrox-depeer; do
    [ -x "$build/bin/$p" ] || { echo "error: $build/bin/$p is missing; build first" >&2; exit 1; }
done
ticks=$(getconf CLK_TCK)
work=$(mktemp -d)
trap 'kill $gateway $peer 2>/dev/null || true; rm -rf "$work"' EXIT
gateway=""
peer=""

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
status_kib() { awk -v key="$2:" '$1 == key {print $2}' "/proc/$1/status"; }

printf '%-10s %-10s %-11s %-11s %-6s %-7s %-9s %-8s %-9s %-10s %-11s %s\n' "offered/s" "sent/s" "sent" "received" "taken" "CPU %" \
    "ns/value" "RSS MiB" "peak MiB" "peer CPU %" "longest ms" "overruns"
for rate in $rates; do
    tree="$work/$rate"
    mkdir -p "$tree/bin" "$tree/config" "$tree/log" "$tree/data" "$tree/run"
    export FERROX_CONTROL_DIR="$tree/run"
    cp "$build/bin/ferrox" "$tree/bin/"
    {
        echo "kks,index,type"
        for ((i = 0; i < params; i++)); do echo "V$i,$i,FLOATVALID"; done
    } > "$tree/config/values.csv"

    rounds=$(awk -v r="$rate" -v n="$params" 'BEGIN {printf "%g", r / n}')
    "$build/bin/ferrox-depeer" --listen 0 --send "FLOATVALID:0-$((params - 1))=1.5" --rate "$rounds" \
        --pack-size 1000 --duration "$seconds" --quiet --stats > "$tree/peer.txt" 2>&1 &
    peer=$!
    for _ in $(seq 100); do grep -q '^listening on' "$tree/peer.txt" && break; sleep 0.05; done
    port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$tree/peer.txt")
    cat > "$tree/config/ferrox.cfg" <<CFG
<config><misc><locale lang="en"/><times/></misc>
  <deprotocolclient id="load">
    <csvlist file="values.csv" kks="0" index="1" type="2" direction="in"/>
    <connection host="127.0.0.1" port="$port"/>
  </deprotocolclient>
  <textfileout id="table" outfields="kks,value,validity" minwriteinterval="1">
    <csvlist file="values.csv" kks="0" index="1" type="2" direction="out"/>
    <outfile filename="$tree/data/values_%1.txt"/>
  </textfileout>
</config>
CFG
    # Run as the service runs under systemd (in the foreground, with its
    # control socket), so that its status can be read.
    FERROX_SERVICE_RUN=1 "$tree/bin/ferrox" -D 1 2> "$tree/gateway.err" &
    gateway=$!
    for _ in $(seq 200); do grep -q '^connected' "$tree/peer.txt" && break; sleep 0.05; done
    start=$(cpu_ticks "$gateway")
    peer_start=$(cpu_ticks "$peer")
    peer_end=$peer_start
    while kill -0 "$peer" 2>/dev/null; do
        peer_end=$(cpu_ticks "$peer" 2>/dev/null || echo "$peer_end")
        sleep 0.2
    done
    wait "$peer" || true
    peer=""
    end=$(cpu_ticks "$gateway")
    rss=$(status_kib "$gateway" VmRSS)
    hwm=$(status_kib "$gateway" VmHWM)
    for _ in $(seq 100); do grep -q 'slotLostAllConnections' "$tree/gateway.err" && break; sleep 0.05; done
    # The longest tick and the overruns of the whole run, load included.
    cycle=$("$tree/bin/ferrox" -s 2>/dev/null | python3 -c '
import json, sys
c = json.load(sys.stdin)["cycle"]
print("%.1f %d" % (c["longest_ms"], c["overruns"]))' 2>/dev/null || echo "? ?")
    kill "$gateway" 2>/dev/null || true
    wait "$gateway" 2>/dev/null || true
    gateway=""

    sent=$(sed -n 's/.*sent_values=\([0-9]*\).*/\1/p' "$tree/peer.txt")
    skipped=$(sed -n 's/.*skipped_rounds=\([0-9]*\).*/\1/p' "$tree/peer.txt")
    received=$(sed -n 's/.*received \([0-9]*\) values.*/\1/p' "$tree/gateway.err" | head -1)
    received=${received:-0}
    # Every value the peer sent arrived, and the peer could send at the
    # rate (rounds it had to skip because the gateway took too little
    # would show the gateway falling behind).
    taken="all"
    [ "$received" = "$sent" ] && [ "$skipped" = "0" ] || taken="NO"
    awk -v r="$rate" -v s="$sent" -v g="$received" -v t="$taken" -v c=$((end - start)) -v hz="$ticks" \
        -v secs="$seconds" -v rss="$rss" -v hwm="$hwm" -v pc=$((peer_end - peer_start)) -v cycle="$cycle" 'BEGIN {
            cpu = c / hz
            split(cycle, cy, " ")
            printf "%-10s %-10.0f %-11s %-11s %-6s %-7.1f %-9.0f %-8.1f %-9.1f %-10.1f %-11s %s\n", r, s / secs, s, g, t,
                   100 * cpu / secs, (g > 0 ? 1e9 * cpu / g : 0), rss / 1024, hwm / 1024, 100 * pc / hz / secs,
                   cy[1], cy[2]
        }'
    [ "$skipped" = "0" ] || echo "  (the peer skipped $skipped rounds: the values did not get through in time)"
done
