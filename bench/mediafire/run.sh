#!/usr/bin/env bash
# Sends a message with a 1 GiB attachment of random bytes through `quillmoor send` to the MediaFire fake
# (fake_mediafire), and uploads the same file to the same fake with `curl -F`, in the same run. Prints wall
# time, throughput, CPU time (user + system) and peak RSS of each, all taken from /usr/bin/time -v.
# quillmoor's figures include the whole send: reading the message, decoding and copying the attachment,
# the session token, the upload, the polls (every 2 s until the fake is done) and the link; curl's only
# the upload. MediaFire's password lives in the Secret Service, so the account is linked with
# `quillmoor link` against a private gnome-keyring on a private D-Bus, both stopped at the end.
#
# Build first:
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
#   cmake --build build --target quillmoor fake_mediafire
# Environment: BUILD (build folder, default build), SIZE_MIB (default 1024), RUNS (runs per tool, fastest
#              kept; default 1).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../time_stats.sh
source "$root/bench/time_stats.sh"
build=${BUILD:-$root/build}
quillmoor=$build/bin/quillmoor
fake=$build/bin/fake_mediafire
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-1}
for program in "$quillmoor" "$fake"; do
    [[ -x $program ]] || { echo "missing $program: build quillmoor and fake_mediafire first" >&2; exit 1; }
done
for tool in curl python3 sha1sum dbus-daemon gnome-keyring-daemon /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install -y curl python3 coreutils dbus gnome-keyring time)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/mediafire_bench.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

"$fake" --folder Quillmoor >"$work/fake.txt" 2>"$work/fake.log" &
pids+=($!)
for _ in $(seq 1 200); do [[ $(wc -l <"$work/fake.txt") -ge 5 ]] && break; sleep 0.05; done
{ read -r url; read -r app_id; read -r api_key; read -r email; read -r password; } <"$work/fake.txt"

# A private session bus and keyring, found by nothing outside this run.
mkdir -p "$work/run" "$work/home"
chmod 700 "$work/run"
cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:dir=$work/run</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
</policy></busconfig>
CONF
dbus-daemon --nofork --config-file="$work/bus.conf" --print-address=3 3>"$work/bus.address" 2>"$work/bus.log" &
pids+=($!)
for _ in $(seq 1 200); do [[ -s $work/bus.address ]] && break; sleep 0.05; done
export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus.address") HOME=$work/home XDG_RUNTIME_DIR=$work/run
unset DISPLAY WAYLAND_DISPLAY GNOME_KEYRING_CONTROL SSH_AUTH_SOCK
printf 'bench-keyring' | gnome-keyring-daemon --foreground --components=secrets --unlock >"$work/keyring.log" 2>&1 &
pids+=($!)

echo "generating $size_mib MiB of random bytes and a message carrying them ..." >&2
head -c $((size_mib << 20)) /dev/urandom >"$work/payload.bin"
python3 - "$work/payload.bin" "$work/message.eml" <<'PY'
import base64, sys
with open(sys.argv[1], 'rb') as source, open(sys.argv[2], 'w') as out:
    out.write('From: a@example.org\nTo: b@example.org\nSubject: payload\nMIME-Version: 1.0\n'
              'Content-Type: multipart/mixed; boundary="b0"\n\n--b0\nContent-Type: text/html\n\n'
              '<html><body>payload</body></html>\n--b0\nContent-Type: application/octet-stream; '
              'name="payload.bin"\nContent-Disposition: attachment; filename=payload.bin\n'
              'Content-Transfer-Encoding: base64\n\n')
    while chunk := source.read(57 * 20000):
        data = base64.b64encode(chunk).decode()
        out.write('\n'.join(data[i:i + 76] for i in range(0, len(data), 76)) + '\n')
    out.write('--b0--\n')
PY

export QUILLMOOR_CONFIG_DIR=$work/config TMPDIR=$work QUILLMOOR_MEDIAFIRE_URL=$url
export QUILLMOOR_MEDIAFIRE_KEY=$app_id QUILLMOOR_MEDIAFIRE_SECRET=$api_key
linked=
for _ in $(seq 1 50); do # the keyring takes a moment to offer its collection
    if printf '%s\n' "$password" | "$quillmoor" link mediafire --login "$email" --password-stdin \
        >"$work/link.log" 2>&1; then linked=1; break; fi
    sleep 0.2
done
[[ -n $linked ]] || { cat "$work/link.log" >&2; exit 1; }
"$quillmoor" config set QuillmoorMinFileSize 1 >/dev/null

quillmoor_sent_all() {
    grep -q "$url/download/" "$work/sent.eml" || { echo "quillmoor: no link in the message" >&2; return 1; }
}
# The fake keeps each file's size; the upload's answer carries the key under which it is found.
curl_sent_all() { grep -q "<key>" "$1" || { echo "curl: no upload key" >&2; return 1; }; }

signature=$(printf '%s' "$email$password$app_id$api_key" | sha1sum | cut -d' ' -f1)
query=$(python3 -c 'import sys, urllib.parse as u; print(u.urlencode(dict(application_id=sys.argv[1], email=sys.argv[2], password=sys.argv[3], response_format="json", signature=sys.argv[4]), quote_via=u.quote))' \
    "$app_id" "$email" "$password" "$signature")
token=$(curl -sS -f "$url/api/user/get_session_token.php?$query" |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["response"]["session_token"])')
folder=$("$quillmoor" config get RVQuillmoorMediafireFolderKey)

row() { throughput_row 15 1 "$1" "" "$2" "$size_mib"; }
echo "| tool            |   |  wall s |    MiB/s |  CPU s | RSS MiB |"
echo "|-----------------|---|---------|----------|--------|---------|"
r=$(fastest_run "$runs" : quillmoor_sent_all "$quillmoor" send --answer upload --out "$work/sent.eml" \
    "$work/message.eml") || exit 1
row "quillmoor send" "$r"
r=$(fastest_run "$runs" : curl_sent_all curl -sS -f -F "Filedata=@$work/payload.bin" \
    "$url/api/upload/simple.php?session_token=$token&uploadkey=$folder&action_on_duplicate=keep") || exit 1
row "curl -F" "$r"
