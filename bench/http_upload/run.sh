#!/usr/bin/env bash
# Uploads a 1 GiB file of random bytes (not sparse, so reads cost what real files cost) to a local
# discarding sink (http_sink), as a PUT body and as a multipart file part, once through the HTTP layer
# (http_upload_bench) and once with curl, in the same run. Prints wall time, throughput, CPU time
# (user + system) and peak RSS of each client, all taken from /usr/bin/time -v.
#
# Build first:
#   cmake -S . -B build-bench -G Ninja -DQUILLMOOR_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-bench --target http_upload_bench http_sink
# Environment: BENCH, SINK (paths of the two programs), SIZE_MIB (default 1024), RUNS (runs per tool
#              and mode, fastest kept; default 1).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../time_stats.sh
source "$root/bench/time_stats.sh"
bench=${BENCH:-$root/build-bench/bin/http_upload_bench}
sink=${SINK:-$root/build-bench/bin/http_sink}
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-1}
for program in "$bench" "$sink"; do
    [[ -x $program ]] || { echo "missing $program: build http_upload_bench and http_sink first" >&2; exit 1; }
done
for tool in curl python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install -y curl python3 time)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/http_upload_bench.XXXXXX")
sink_pid=
cleanup() {
    [[ -n $sink_pid ]] && { kill "$sink_pid" 2>/dev/null || true; wait "$sink_pid" 2>/dev/null || true; }
    rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
"$sink" "$port" >"$work/sink.log" 2>&1 &
sink_pid=$!
for _ in $(seq 1 200); do
    python3 -c 'import socket,sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 0.2).close()' "$port" \
        2>/dev/null && break
    sleep 0.05
done

echo "generating $size_mib MiB of random bytes ..." >&2
head -c $((size_mib << 20)) /dev/urandom > "$work/payload.bin"
url="http://127.0.0.1:$port/up/payload.bin"

# measure COMMAND...: the fastest of $runs uploads. The sink answers with the byte count it got, so a run
# whose count is short of the file fails rather than looking fast.
measure() { fastest_run "$runs" : sink_got_all "$@"; }
sink_got_all() {
    local got
    got=$(grep -hE '^(201 )?[0-9]+$' "$1" "$2" | awk '{ print $NF; exit }')
    [[ -n $got && $got -ge $((size_mib << 20)) ]] || { echo "sink got ${got:-nothing}" >&2; return 1; }
}

row() { throughput_row 9 18 "$1" "$2" "$3" "$size_mib"; }

echo "| mode      | tool               |  wall s |    MiB/s |  CPU s | RSS MiB |"
echo "|-----------|--------------------|---------|----------|--------|---------|"
r=$(measure "$bench" put "$url" "$work/payload.bin") || exit 1; row put http_upload_bench "$r"
r=$(measure curl -sS -f -T "$work/payload.bin" "$url") || exit 1; row put "curl -T" "$r"
r=$(measure "$bench" multipart "$url" "$work/payload.bin") || exit 1; row multipart http_upload_bench "$r"
r=$(measure curl -sS -f -F "file=@$work/payload.bin" "$url") || exit 1; row multipart "curl -F" "$r"
