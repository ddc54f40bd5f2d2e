#!/usr/bin/env bash
# Uploads a 1 GiB file of random bytes over SFTP and WebDAV to local rclone servers, once through
# GenericUploader (generic_upload_bench) and once with `curl -T`, in the same run. Prints wall time,
# throughput, CPU time (user + system) and peak RSS of each, all taken from /usr/bin/time -v.
#
# Build first:
#   cmake -S . -B build -G Ninja -DQUILLMOOR_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
#   cmake --build build --target generic_upload_bench
# Environment: BIN or BUILD (see bench/lib.sh), SIZE_MIB (default 1024), RUNS (runs per tool and
#              protocol, fastest kept; default 1).
set -euo pipefail
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
need_programs generic_upload_bench
bench=$bin/generic_upload_bench
need_tools rclone curl ssh-keygen python3 /usr/bin/time

bench_work generic_upload_bench
user=bench
pass=bench-pass
make_payload

mkdir -p "$work/sftp" "$work/webdav"
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
sftp_port=$(free_port)
rclone serve sftp "$work/sftp" --addr "127.0.0.1:$sftp_port" --user "$user" --pass "$pass" \
    --key "$work/host_key" --config "$work/rclone.conf" --dir-cache-time 0s >"$work/sftp.log" 2>&1 &
track_pid $!
webdav_port=$(free_port)
rclone serve webdav "$work/webdav" --addr "127.0.0.1:$webdav_port" --user "$user" --pass "$pass" \
    --config "$work/rclone.conf" --dir-cache-time 0s >"$work/webdav.log" 2>&1 &
track_pid $!
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


table_head 6 15 "proto" "tool"
sftp_url="sftp://127.0.0.1:$sftp_port/up/"
dav_url="http://127.0.0.1:$webdav_port/up/"
mkdir -p "$work/sftp/up" "$work/webdav/up"

r=$(measure "$work/sftp/up/payload.bin" "$bench" "$sftp_url" "$work/payload.bin" "$user" "$pass") || exit 1
table_row sftp GenericUploader "$r"
r=$(measure "$work/sftp/up/payload.bin" curl -sS --hostpubsha256 "$host_sha256" -u "$user:$pass" \
    -T "$work/payload.bin" "${sftp_url}payload.bin") || exit 1
table_row sftp "curl -T" "$r"
r=$(measure "$work/webdav/up/payload.bin" "$bench" "$dav_url" "$work/payload.bin" "$user" "$pass") || exit 1
table_row webdav GenericUploader "$r"
r=$(measure "$work/webdav/up/payload.bin" curl -sS -f -u "$user:$pass" -T "$work/payload.bin" "${dav_url}payload.bin") || exit 1
table_row webdav "curl -T" "$r"
