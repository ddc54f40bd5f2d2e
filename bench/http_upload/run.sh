#!/usr/bin/env bash
# Uploads a 1 GiB file of random bytes (not sparse, so reads cost what real files cost) to a local
# discarding sink (http_sink), as a PUT body and as a multipart file part, once through the HTTP layer
# (http_upload_bench) and once with curl, in the same run. Prints wall time, throughput, CPU time
# (user + system) and peak RSS of each client, all taken from /usr/bin/time -v.
#
# Build first:
#   cmake -S . -B build -G Ninja -DQUILLMOOR_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
#   cmake --build build --target http_upload_bench http_sink
# Environment: BIN or BUILD (see bench/lib.sh), SIZE_MIB (default 1024), RUNS (runs per tool and mode,
#              fastest kept; default 1).
set -euo pipefail
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
need_programs http_upload_bench http_sink
need_tools curl python3 /usr/bin/time
bench=$bin/http_upload_bench

bench_work http_upload_bench
port=$(free_port)
"$bin/http_sink" "$port" >"$work/sink.log" 2>&1 &
track_pid $!
wait_port "$port"
make_payload
url="http://127.0.0.1:$port/up/payload.bin"

# measure COMMAND...: the fastest of $runs uploads. The sink answers with the byte count it got, so a run
# whose count is short of the file fails rather than looking fast.
measure() { fastest_run "$runs" : sink_got_all "$@"; }
sink_got_all() {
    local got
    got=$(grep -hE '^(201 )?[0-9]+$' "$1" "$2" | awk '{ print $NF; exit }')
    [[ -n $got && $got -ge $((size_mib << 20)) ]] || { echo "sink got ${got:-nothing}" >&2; return 1; }
}


table_head 9 18 "mode" "tool"
r=$(measure "$bench" put "$url" "$work/payload.bin") || exit 1; table_row put http_upload_bench "$r"
r=$(measure curl -sS -f -T "$work/payload.bin" "$url") || exit 1; table_row put "curl -T" "$r"
r=$(measure "$bench" multipart "$url" "$work/payload.bin") || exit 1; table_row multipart http_upload_bench "$r"
r=$(measure curl -sS -f -F "file=@$work/payload.bin" "$url") || exit 1; table_row multipart "curl -F" "$r"
