#!/usr/bin/env bash
# Sends a message with a 1 GiB attachment through `quillmoor send` to the ownCloud fake (name probe, one
# streamed WebDAV PUT, the share), and in the same run PUTs the same bytes to the same fake with curl and
# the same credentials. Prints wall time, throughput, CPU time (user + system) and peak RSS of each, from
# /usr/bin/time -v. quillmoor's figures include the whole send: reading the message, decoding the
# attachment, copying it to the working folder, uploading, sharing, writing the message.
#
# Build first (the fake is built with the tests):
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMOOR_BUILD_TESTS=ON
#   cmake --build build --target quillmoor fake_owncloud
# Environment: BIN (folder of both programs, default build/bin), SIZE_MIB (default 1024), RUNS (default 1).
# Needs dbus-daemon, gnome-keyring-daemon and secret-tool: the account's password lives in a private keyring.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../time_stats.sh
source "$root/bench/time_stats.sh"
bin=${BIN:-$root/build/bin}
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-1}
for program in quillmoor fake_owncloud; do
    [[ -x $bin/$program ]] || { echo "missing $bin/$program: build it first" >&2; exit 1; }
done
for tool in curl dbus-daemon gnome-keyring-daemon secret-tool base64 cmp /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install -y curl dbus gnome-keyring libsecret-tools coreutils diffutils time)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/owncloud_bench.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# A keyring of this run's own, on a private session bus.
mkdir -p "$work/home" "$work/run" "$work/store" "$work/tmp" "$work/config"
chmod 700 "$work/run"
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_DATA_HOME=$work/home/.local/share
export XDG_CONFIG_HOME=$work/home/.config QUILLMOOR_CONFIG_DIR=$work/config
unset GNOME_KEYRING_CONTROL SSH_AUTH_SOCK DISPLAY WAYLAND_DISPLAY
dbus-daemon --session --fork --nopidfile --print-address=3 --print-pid=4 3>"$work/bus.address" 4>"$work/bus.pid"
pids+=("$(cat "$work/bus.pid")")
DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus.address")
export DBUS_SESSION_BUS_ADDRESS
printf 'bench' | gnome-keyring-daemon --foreground --components=secrets --unlock >"$work/keyring.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
    printf x | secret-tool store --label probe service quillmoor-bench account probe 2>/dev/null && break
    sleep 0.1
done

# The fake, installed under /owncloud, keeping uploads in the store folder; linked as a user would.
user=alice password=s3cret
"$bin/fake_owncloud" --prefix /owncloud --user "$user" --password "$password" --store "$work/store" >"$work/fake.out" &
pids+=($!)
for _ in $(seq 1 100); do [[ -s $work/fake.out ]] && break; sleep 0.05; done
url=$(sed -n 1p "$work/fake.out")
printf '%s\n' "$password" | "$bin/quillmoor" link owncloud --server "$url" --login "$user" --password-stdin \
    --folder Quillmoor >/dev/null
"$bin/quillmoor" config set QuillmoorAutoSendEmail YES >/dev/null

echo "generating $size_mib MiB of random bytes and a message carrying them ..." >&2
head -c $((size_mib << 20)) /dev/urandom >"$work/payload.bin"
{
    printf 'From: Ada <ada@example.org>\r\nTo: Grace <grace@example.org>\r\nSubject: Bench\r\n'
    printf 'Date: %s\r\nMessage-ID: <bench@example.org>\r\nMIME-Version: 1.0\r\n' "$(date -R)"
    printf 'Content-Type: multipart/mixed; boundary="b"\r\n\r\n--b\r\nContent-Type: text/html; charset=utf-8\r\n\r\n'
    printf '<html><body><p>The data.</p></body></html>\r\n--b\r\nContent-Type: application/octet-stream; name="payload.bin"\r\n'
    printf 'Content-Disposition: attachment; filename="payload.bin"\r\nContent-Transfer-Encoding: base64\r\n\r\n'
    base64 -w 76 "$work/payload.bin" | sed 's/$/\r/'
    printf -- '--b--\r\n'
} >"$work/message.eml"

no_setup() { :; }
# The upload arrived whole: the one file the fake keeps is the payload, which is then removed for the next run.
upload_arrived() {
    local stored
    stored=$(find "$work/store" -type f -name 'file-*')
    [[ $(echo "$stored" | wc -l) == 1 && -n $stored ]] && cmp -s "$work/payload.bin" "$stored" ||
        { echo "upload differs or is missing" >&2; return 1; }
    rm -f "$work/store"/file-*
}
send_sent() { grep -Eq 'index\.php/s/|/Quillmoor/payload' "$work/sent.eml" && upload_arrived; }

curl_upload() {
    curl -sS -f -o /dev/null -u "$user:$password" -H "Content-Type: application/octet-stream" \
        -T "$work/payload.bin" "$url/remote.php/webdav/Quillmoor/payload-curl.bin"
}
export -f curl_upload
export url user password work

row() { throughput_row 16 4 "$1" "" "$2" "$size_mib"; }
echo "| tool             |      |  wall s |    MiB/s |  CPU s | RSS MiB |"
echo "|------------------|------|---------|----------|--------|---------|"
r=$(TMPDIR=$work/tmp fastest_run "$runs" no_setup send_sent "$bin/quillmoor" send --answer upload --out "$work/sent.eml" \
    "$work/message.eml") || exit 1
row "quillmoor send" "$r"
r=$(fastest_run "$runs" no_setup upload_arrived bash -c curl_upload) || exit 1
row "curl (PUT)" "$r"
