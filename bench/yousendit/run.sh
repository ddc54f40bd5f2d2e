#!/usr/bin/env bash
# Sends a message with a 1 GiB attachment of random bytes through Hightail's workflow to the fake API
# (fake_yousendit), once with `quillmoor send` (send item, streamed multipart upload, commit, the link
# in the message) and once with curl uploading the same file to the same fake, in the same run. Prints
# wall time, throughput, CPU time (user + system) and peak RSS of each, from /usr/bin/time -v.
#
# Build first (the fake comes with the tests):
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMOOR_BUILD_TESTS=ON
#   cmake --build build --target quillmoor fake_yousendit
# Environment: QUILLMOOR, FAKE (paths of the two programs), SIZE_MIB (default 1024).
# `quillmoor link` keeps the password in the Secret Service: the script runs itself in a private D-Bus
# session with its own gnome-keyring-daemon and keyring folder.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../time_stats.sh
source "$root/bench/time_stats.sh"
quillmoor=${QUILLMOOR:-$root/build/bin/quillmoor}
fake=${FAKE:-$root/build/bin/fake_yousendit}
size_mib=${SIZE_MIB:-1024}
for program in "$quillmoor" "$fake"; do
    [[ -x $program ]] || { echo "missing $program: build quillmoor and fake_yousendit first" >&2; exit 1; }
done
for tool in curl python3 dbus-run-session gnome-keyring-daemon /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

if [[ -z ${YOUSENDIT_BENCH_INNER:-} ]]; then
    export YOUSENDIT_BENCH_INNER=1
    exec dbus-run-session -- "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/yousendit_bench.XXXXXX")
fake_pid=
keyring_pid=
cleanup() {
    [[ -n $fake_pid ]] && kill "$fake_pid" 2>/dev/null && wait "$fake_pid" 2>/dev/null
    [[ -n $keyring_pid ]] && kill "$keyring_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config QUILLMOOR_CONFIG_DIR=$work/config/quillmoor
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"
gnome-keyring-daemon --foreground --components=secrets --unlock <<<"bench" >"$work/keyring.log" 2>&1 &
keyring_pid=$!
sleep 1

email=bench@example.org
password='bench&pass=1'
"$fake" --account "$email" "$password" >"$work/fake.out" 2>&1 &
fake_pid=$!
for _ in $(seq 1 100); do [[ -s $work/fake.out ]] && break; sleep 0.05; done
url=$(awk '{print $1; exit}' "$work/fake.out")
key=$(awk '{print $3; exit}' "$work/fake.out")
export QUILLMOOR_YOUSENDIT_URL=$url QUILLMOOR_YOUSENDIT_KEY=$key

echo "generating $size_mib MiB of random bytes ..." >&2
head -c $((size_mib << 20)) /dev/urandom >"$work/payload.bin"
python3 - "$work/payload.bin" "$work/message.eml" <<'PY'
import base64, sys
source, target = sys.argv[1], sys.argv[2]
with open(source, "rb") as data, open(target, "wb") as out:
    out.write(b"From: Bench <bench@example.org>\r\nTo: Ada <ada@example.com>, bob@example.com\r\n"
              b"Subject: payload\r\nMIME-Version: 1.0\r\n"
              b"Content-Type: multipart/mixed; boundary=\"b0undary\"\r\n\r\n--b0undary\r\n"
              b"Content-Type: text/plain; charset=us-ascii\r\n\r\nThe payload.\r\n--b0undary\r\n"
              b"Content-Type: application/octet-stream; name=\"payload.bin\"\r\n"
              b"Content-Disposition: attachment; filename=\"payload.bin\"\r\n"
              b"Content-Transfer-Encoding: base64\r\n\r\n")
    while chunk := data.read(57 * 4096):
        encoded = base64.b64encode(chunk)
        for i in range(0, len(encoded), 76):
            out.write(encoded[i:i + 76] + b"\r\n")
    out.write(b"--b0undary--\r\n")
PY

printf '%s\n' "$password" | "$quillmoor" link hightail --login "$email" --password-stdin >"$work/link.log" 2>&1 ||
    { cat "$work/link.log" >&2; exit 1; }
"$quillmoor" config set QuillmoorMinFileSize 1 >/dev/null

sent_has_link() { grep -q "$url/download/" "$work/sent.eml" || { echo "no download link in the message" >&2; return 1; }; }
curl_uploaded() { grep -q "complete" "$1" || { cat "$1" >&2; return 1; }; }
row() { throughput_row 14 24 "$1" "$2" "$3" "$size_mib"; }

echo "| client         | measured                 |  wall s |    MiB/s |  CPU s | RSS MiB |"
echo "|----------------|--------------------------|---------|----------|--------|---------|"
r=$(fastest_run 1 : sent_has_link "$quillmoor" send --answer upload --out "$work/sent.eml" "$work/message.eml") || exit 1
row "quillmoor" "send: item, upload, commit" "$r"

token=$(curl -sS -H "X-Api-Key: $key" --data-urlencode "email=$email" --data-urlencode "password=$password" \
    "$url/dpi/v1/auth" | python3 -c 'import json,sys; print(json.load(sys.stdin)["authToken"])')
item=$(curl -sS -H "X-Api-Key: $key" -H "X-Auth-Token: $token" --data "recipients=ada%40example.com&fileCount=1" \
    "$url/dpi/v1/item/send" | python3 -c 'import json,sys; d=json.load(sys.stdin); print(d["itemId"], d["uploadUrl"][0])')
read -r item_id upload_url <<<"$item"
r=$(fastest_run 1 : curl_uploaded curl -sS -f -F "bid=$item_id" -F "fname=@$work/payload.bin;type=application/octet-stream" \
    "$upload_url") || exit 1
row "curl -F" "upload only" "$r"
