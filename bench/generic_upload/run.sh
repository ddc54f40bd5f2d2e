#!/usr/bin/env bash
# Uploads a 1 GiB file of random bytes over SFTP and WebDAV to local rclone servers, once through
# GenericUploader (generic_upload_bench) and once with `curl -T`, in the same run. Prints wall time,
# throughput, CPU time (user + system) and peak RSS of each, all taken from /usr/bin/time -v.
#
# Build first:
#   cmake -S . -B build-bench -G Ninja -DQUILLMOOR_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-bench --target generic_upload_bench
# Environment: BENCH (path of generic_upload_bench), SIZE_MIB (default 1024), RUNS (runs per tool and
#              protocol, fastest kept; default 1).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../time_stats.sh
source "$root/bench/time_stats.sh"
bench=${BENCH:-$root/build-bench/bin/generic_upload_bench}
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-1}
[[ -x $bench ]] || { echo "missing $bench: build the generic_upload_bench target first" >&2; exit 1; }
for tool in rclone curl ssh-keygen python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install -y rclone curl openssh-client python3 time)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/generic_upload_bench.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

user=bench
pass=bench-pass
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'; }
wait_port() {
    for _ in $(seq 1 200); do
        python3 -c 'import socket,sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 0.2).close()' "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "server on port $1 did not come up" >&2; exit 1
}

echo "generating $size_mib MiB of random bytes ..." >&2
head -c $((size_mib << 20)) /dev/urandom > "$work/payload.bin"

mkdir -p "$work/sftp" "$work/webdav"
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
sftp_port=$(free_port)
rclone serve sftp "$work/sftp" --addr "127.0.0.1:$sftp_port" --user "$user" --pass "$pass" \
    --key "$work/host_key" --config "$work/rclone.conf" --dir-cache-time 0s >"$work/sftp.log" 2>&1 &
pids+=($!)
webdav_port=$(free_port)
rclone serve webdav "$work/webdav" --addr "127.0.0.1:$webdav_port" --user "$user" --pass "$pass" \
    --config "$work/rclone.conf" --dir-cache-time 0s >"$work/webdav.log" 2>&1 &
pids+=($!)
wait_port "$sftp_port"
wait_port "$webdav_port"
host_sha256=$(ssh-keygen -l -E sha256 -f "$work/host_key.pub" | awk '{print $2}' | sed 's/^SHA256://')

# measure TARGET-FILE COMMAND...: the fastest of $runs uploads, each to a fresh target that must come out
# identical to the payload.
measure() {
    target=$1
    shift
    fastest_run "$runs" remove_target upload_arrived "$@"
}
remove_target() { rm -f "$target"; }
upload_arrived() { cmp -s "$work/payload.bin" "$target" || { echo "upload differs: $target" >&2; return 1; }; }

row() { throughput_row 6 15 "$1" "$2" "$3" "$size_mib"; }

echo "| proto  | tool            |  wall s |    MiB/s |  CPU s | RSS MiB |"
echo "|--------|-----------------|---------|----------|--------|---------|"
sftp_url="sftp://127.0.0.1:$sftp_port/up/"
dav_url="http://127.0.0.1:$webdav_port/up/"
mkdir -p "$work/sftp/up" "$work/webdav/up"

r=$(measure "$work/sftp/up/payload.bin" "$bench" "$sftp_url" "$work/payload.bin" "$user" "$pass") || exit 1
row sftp GenericUploader "$r"
r=$(measure "$work/sftp/up/payload.bin" curl -sS --hostpubsha256 "$host_sha256" -u "$user:$pass" \
    -T "$work/payload.bin" "${sftp_url}payload.bin") || exit 1
row sftp "curl -T" "$r"
r=$(measure "$work/webdav/up/payload.bin" "$bench" "$dav_url" "$work/payload.bin" "$user" "$pass") || exit 1
row webdav GenericUploader "$r"
r=$(measure "$work/webdav/up/payload.bin" curl -sS -f -u "$user:$pass" -T "$work/payload.bin" "${dav_url}payload.bin") || exit 1
row webdav "curl -T" "$r"
