#!/usr/bin/env bash
# Uploads a 1 GiB file of random bytes to the Box fake (tests/servers/box) on loopback, once through
# BoxUploader (box_upload_bench: token check, listing, streamed multipart upload, shared link) and once
# with curl sending the same multipart upload, in the same run. Prints wall time, throughput, CPU time
# (user + system) and peak RSS of each, from /usr/bin/time -v.
#
# Build first:
#   cmake -S . -B build-bench -G Ninja -DQUILLMOOR_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-bench --target box_upload_bench fake_box
# Environment: BENCH_DIR (folder of both programs), SIZE_MIB (default 1024), RUNS (default 1).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../time_stats.sh
source "$root/bench/time_stats.sh"
bin=${BENCH_DIR:-$root/build-bench/bin}
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-1}
for program in "$bin/box_upload_bench" "$bin/fake_box"; do
    [[ -x $program ]] || { echo "missing $program: build box_upload_bench and fake_box first" >&2; exit 1; }
done
for tool in curl /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install -y curl time)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/box_bench.XXXXXX")
fake_pid=""
cleanup() {
    exec 3>&- 2>/dev/null || true
    [[ -n $fake_pid ]] && { kill "$fake_pid" 2>/dev/null || true; wait "$fake_pid" 2>/dev/null || true; }
    rm -rf "$work"
}
trap cleanup EXIT

echo "generating $size_mib MiB of random bytes ..." >&2
head -c $((size_mib << 20)) /dev/urandom > "$work/payload.bin"

# The fake serves until its standard input closes; it prints its URL, a token pair and its folder.
mkfifo "$work/fake.in"
"$bin/fake_box" <"$work/fake.in" >"$work/fake.out" 2>&1 &
fake_pid=$!
exec 3>"$work/fake.in"
for _ in $(seq 1 100); do grep -q '^folder ' "$work/fake.out" 2>/dev/null && break; sleep 0.05; done
url=$(sed -n 's/^url //p' "$work/fake.out")
access=$(sed -n 's/^access //p' "$work/fake.out")
refresh=$(sed -n 's/^refresh //p' "$work/fake.out")
folder=$(sed -n 's/^folder //p' "$work/fake.out")
[[ -n $folder ]] || { echo "the fake did not start" >&2; cat "$work/fake.out" >&2; exit 1; }

n=0
link_printed() { grep -q '^https://app.box.com/s/' "$1"; }
entry_answered() { grep -q '"total_count":1' "$1"; }
row() { throughput_row 4 16 "$1" "$2" "$3" "$size_mib"; }

echo "| size | tool             |  wall s |    MiB/s |  CPU s | RSS MiB |"
echo "|------|------------------|---------|----------|--------|---------|"
r=$(fastest_run "$runs" : link_printed "$bin/box_upload_bench" "$url" "$access" "$refresh" "$folder" \
    "$work/payload.bin") || exit 1
row "1G" "BoxUploader" "$r"
next_name() { n=$((n + 1)); }
r=$(fastest_run "$runs" next_name entry_answered curl -sS -f -H "Authorization: Bearer $access" \
    -F "parent_id=$folder" -F "filename=@$work/payload.bin;filename=curl-$RANDOM.bin" \
    "$url/api/2.0/files/content") || exit 1
row "1G" "curl -F" "$r"
