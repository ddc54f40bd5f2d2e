#!/usr/bin/env bash
# Sends a message with a 1 GiB attachment of random bytes through `quillmoor send` to the Dropmark fake
# (fake_dropmark), and uploads the same file to the same fake with `curl -F`, in the same run. Prints wall
# time, throughput, CPU time (user + system) and peak RSS of each, all taken from /usr/bin/time -v.
# quillmoor's figures include the whole send: reading the message, decoding and copying the attachment,
# the upload and writing the message that leaves.
#
# Build first:
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
#   cmake --build build --target quillmoor fake_dropmark
# Environment: BUILD (build folder, default build), SIZE_MIB (default 1024), RUNS (runs per tool, fastest
#              kept; default 1).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../time_stats.sh
source "$root/bench/time_stats.sh"
build=${BUILD:-$root/build}
quillmoor=$build/bin/quillmoor
fake=$build/bin/fake_dropmark
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-1}
for program in "$quillmoor" "$fake"; do
    [[ -x $program ]] || { echo "missing $program: build quillmoor and fake_dropmark first" >&2; exit 1; }
done
for tool in curl python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install -y curl python3 time)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/dropmark_bench.XXXXXX")
fake_pid=
cleanup() {
    [[ -n $fake_pid ]] && { kill "$fake_pid" 2>/dev/null || true; wait "$fake_pid" 2>/dev/null || true; }
    rm -rf "$work"
}
trap cleanup EXIT

"$fake" --collection Quillmoor >"$work/fake.txt" 2>"$work/fake.log" &
fake_pid=$!
for _ in $(seq 1 200); do [[ $(wc -l <"$work/fake.txt") -ge 6 ]] && break; sleep 0.05; done
{ read -r url; read -r key; read -r email; read -r password; read -r user_id; read -r token; } <"$work/fake.txt"
: "$email" "$password" # the account is set up below the way a link leaves it

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

export QUILLMOOR_CONFIG_DIR=$work/config TMPDIR=$work QUILLMOOR_DROPMARK_URL=$url QUILLMOOR_DROPMARK_KEY=$key
collection=$(curl -sS -f -H "X-API-Key: $key" -u "$user_id:$token" "$url/v1/collections?count=500" |
    python3 -c 'import json, sys; print(json.load(sys.stdin)[0]["id"])')
qm() { "$quillmoor" "$@" >/dev/null; }
qm config set --force RVQuillmoorDropmarkUserID "$user_id"
qm config set --force RVQuillmoorDropmarkToken "$token"
qm config set --force RVQuillmoorDropmarkCollectionID "$collection"
qm config set --force RVQuillmoorDropmarkLinked YES
qm config set QuillmoorSelectedService 4
qm config set QuillmoorMinFileSize 1

# The fake answers each item with its size, so a run that sent less fails rather than looking fast.
curl_sent_all() { grep -q "\"size\": $((size_mib << 20))" "$1" || { echo "curl: short upload" >&2; return 1; }; }
quillmoor_sent_all() {
    grep -q "$url/s/i" "$work/sent.eml" || { echo "quillmoor: no link in the message" >&2; return 1; }
}

row() { throughput_row 15 1 "$1" "" "$2" "$size_mib"; }
echo "| tool            |   |  wall s |    MiB/s |  CPU s | RSS MiB |"
echo "|-----------------|---|---------|----------|--------|---------|"
r=$(fastest_run "$runs" : quillmoor_sent_all "$quillmoor" send --answer upload --out "$work/sent.eml" \
    "$work/message.eml") || exit 1
row "quillmoor send" "$r"
r=$(fastest_run "$runs" : curl_sent_all curl -sS -f -H "X-API-Key: $key" -H "Accept: application/json" \
    -u "$user_id:$token" -F name=payload.bin -F shareable=true -F "content=@$work/payload.bin" \
    "$url/v1/collections/$collection/items") || exit 1
row "curl -F" "$r"
