#!/usr/bin/env bash
# Messages per second for small messages (below the threshold) submitted through `quillmoor smtpd`, beside
# aiosmtpd relaying directly (its Proxy handler), both to the same counting SMTP sink, in one run; each
# message on a connection of its own. Prints the rate, the servers' CPU time and peak RSS from
# /usr/bin/time -v, and quillmoor smtpd's resident memory after a tenth of the messages and after all of
# them (flat when they agree).
#
# Build first: cmake --build build --target quillmoor
# The keyring holds the clients' token: a private one (bench/lib.sh).
# Environment: BIN or BUILD (see bench/lib.sh), QUILLMOOR (the program), COUNT (messages, default 1000).
set -euo pipefail
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
need_programs quillmoor
quillmoor=${QUILLMOOR:-$bin/quillmoor}
count=${COUNT:-1000}
python=/usr/bin/python3
$python -c 'import aiosmtpd' || { echo "missing python3-aiosmtpd" >&2; exit 1; }

bench_work smtpd_bench
private_keyring
# The servers run under /usr/bin/time: their own processes, its children, are ended first.
end_timed_servers() {
    local pid
    for pid in "${timed[@]}"; do pkill -P "$pid" 2>/dev/null || true; done
    bench_cleanup
}
timed=()
trap end_timed_servers EXIT

rss_kib() { awk '/VmRSS/ { print $2 }' "/proc/$1/status"; }
# The server's process under /usr/bin/time: its child.
child_of() { pgrep -P "$1" | head -1; }

sink=$(free_port)
$python "$root/tests/cli/counting_sink.py" "$sink" "$work/received" >"$work/sink.log" 2>&1 &
track_pid $!
wait_port "$sink"

"$quillmoor" config set QuillmoorSMTPURL "smtp://127.0.0.1:$sink" >/dev/null
"$quillmoor" config set QuillmoorMinFileSize 5 >/dev/null
credentials=$("$quillmoor" smtpd --print-credentials)
user=$(sed -n 's/^User: //p' <<<"$credentials")
token=$(sed -n 's/^Password: //p' <<<"$credentials")

proxy=$(free_port)
/usr/bin/time -v -o "$work/proxy.time" $python "$root/bench/smtpd/aiosmtpd_proxy.py" "$proxy" "$sink" \
    >"$work/proxy.log" 2>&1 &
proxy_time=$!
timed+=("$proxy_time")
track_pid "$proxy_time"
smtpd=$(free_port)
/usr/bin/time -v -o "$work/smtpd.time" "$quillmoor" smtpd --listen "127.0.0.1:$smtpd" >"$work/smtpd.log" 2>&1 &
smtpd_time=$!
timed+=("$smtpd_time")
track_pid "$smtpd_time"
wait_port "$proxy"
wait_port "$smtpd"

warm=$((count / 10))
$python "$root/bench/smtpd/client.py" "$smtpd" "$user" "$token" "$warm" >/dev/null
rss_warm=$(rss_kib "$(child_of $smtpd_time)")
seconds_smtpd=$($python "$root/bench/smtpd/client.py" "$smtpd" "$user" "$token" "$count")
rss_end=$(rss_kib "$(child_of $smtpd_time)")
$python "$root/bench/smtpd/client.py" "$proxy" "" "" "$warm" >/dev/null
seconds_proxy=$($python "$root/bench/smtpd/client.py" "$proxy" "" "" "$count")

received=$(ls "$work/received" | wc -l)
expected=$((2 * (count + warm)))
[[ $received -eq $expected ]] || { echo "the sink received $received messages, not $expected" >&2; exit 1; }
kill "$(child_of $smtpd_time)" "$(child_of $proxy_time)"
wait "$smtpd_time" "$proxy_time" 2>/dev/null || true

read -r _ cpu_smtpd peak_smtpd < <(time_stats "$work/smtpd.time")
read -r _ cpu_proxy peak_proxy < <(time_stats "$work/proxy.time")
rate() { awk -v n="$count" -v s="$1" 'BEGIN { printf "%.1f", n / s }'; }
printf "%-26s %10s %10s %14s %14s\n" "server ($count messages)" "msg/s" "seconds" "server CPU s" "peak RSS MiB"
printf "%-26s %10s %10s %14s %14d\n" "quillmoor smtpd" "$(rate "$seconds_smtpd")" "$seconds_smtpd" "$cpu_smtpd" $((peak_smtpd / 1024))
printf "%-26s %10s %10s %14s %14d\n" "aiosmtpd Proxy" "$(rate "$seconds_proxy")" "$seconds_proxy" "$cpu_proxy" $((peak_proxy / 1024))
awk -v a="$seconds_smtpd" -v b="$seconds_proxy" 'BEGIN { printf "overhead of quillmoor smtpd: %.2fx the time of aiosmtpd\n", a / b }'
echo "quillmoor smtpd resident memory: $((rss_warm / 1024)) MiB after $warm messages, $((rss_end / 1024)) MiB after $((warm + count))"
echo "(server CPU time includes the warm-up messages)"
