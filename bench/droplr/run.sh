#!/usr/bin/env bash
# Sends a message with a 1 GiB attachment of random bytes through `quillmoor send` to the fake Droplr
# service (tests/servers/droplr, program fake_droplr), which stores it as a drop, and uploads the same file
# to the same fake with curl, signed the same way, in the same run. Prints wall time, throughput, CPU time
# (user + system) and peak RSS of each client, all taken from /usr/bin/time -v. quillmoor's figures cover
# the whole send: reading the message, decoding the attachment, linking nothing new, uploading, writing.
#
# Build first (tests on, for the fake):
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMOOR_BUILD_TESTS=ON \
#       -DQUILLMOOR_BUILD_BENCH=ON
#   cmake --build build --target quillmoor fake_droplr droplr_upload_bench
# droplr_upload_bench (DroplrUploader alone, as an upload run drives it) gives the upload's own share.
# Environment: BUILD (build folder, default build), SIZE_MIB (default 1024).
# Runs in a private D-Bus session with its own gnome-keyring-daemon: quillmoor keeps the password there.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
if [[ ${1:-} != --inner ]]; then
    for tool in curl openssl python3 dbus-run-session gnome-keyring-daemon /usr/bin/time; do
        command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
    done
    exec dbus-run-session -- bash "$0" --inner
fi

# shellcheck source=../time_stats.sh
source "$root/bench/time_stats.sh"
build=${BUILD:-$root/build}
quillmoor=$build/bin/quillmoor
fake=$build/bin/fake_droplr
bench=$build/bin/droplr_upload_bench
size_mib=${SIZE_MIB:-1024}
for program in "$quillmoor" "$fake" "$bench"; do
    [[ -x $program ]] || { echo "missing $program: build quillmoor, fake_droplr and droplr_upload_bench first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/droplr_bench.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

export HOME=$work/home XDG_DATA_HOME=$work/home/data XDG_CONFIG_HOME=$work/home/config TMPDIR=$work/tmp
export XDG_CACHE_HOME=$work/home/cache XDG_RUNTIME_DIR=$work/run
unset GNOME_KEYRING_CONTROL SSH_AUTH_SOCK DISPLAY WAYLAND_DISPLAY
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$TMPDIR" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# --unlock creates the login keyring with the password read from standard input (an empty one would not).
printf 'droplr-bench' | gnome-keyring-daemon --foreground --components=secrets --unlock >"$work/keyring.log" 2>&1 &
pids+=($!)

key=0a1b2c3d4e5f60718293a4b5c6d7e8f901234567
secret=fedcba98765432100123456789abcdef01234567
email=bench@example.org
password=benchpass
"$fake" --key "$key" --secret "$secret" --account "$email:$password" >"$work/fake.url" 2>"$work/fake.log" &
pids+=($!)
for _ in $(seq 1 200); do [[ -s $work/fake.url ]] && break; sleep 0.05; done
url=$(head -1 "$work/fake.url")
[[ -n $url ]] || { echo "fake_droplr did not start" >&2; exit 1; }
export QUILLMOOR_DROPLR_KEY=$key QUILLMOOR_DROPLR_SECRET=$secret QUILLMOOR_DROPLR_URL=$url

echo "generating $size_mib MiB of random bytes and the message carrying them ..." >&2
head -c $((size_mib << 20)) /dev/urandom >"$work/payload.bin"
python3 - "$work/payload.bin" "$work/message.eml" <<'PY'
import base64, sys
source, target = sys.argv[1], sys.argv[2]
with open(source, "rb") as data, open(target, "wb") as out:
    out.write(b"From: Bench <bench@example.org>\r\nTo: someone@example.com\r\nSubject: 1 GiB\r\n"
              b"MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
              b"--b\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n<html><body><p>The file.</p></body></html>\r\n"
              b"--b\r\nContent-Type: application/octet-stream; name=\"payload.bin\"\r\n"
              b"Content-Disposition: attachment; filename=payload.bin\r\nContent-Transfer-Encoding: base64\r\n\r\n")
    while True:
        chunk = data.read(57 * 16384)
        if not chunk:
            break
        out.write(base64.encodebytes(chunk).replace(b"\n", b"\r\n"))
    out.write(b"--b--\r\n")
PY

for _ in $(seq 1 100); do
    echo "$password" | "$quillmoor" link droplr --login "$email" --password-stdin >"$work/link.log" 2>&1 && break
    sleep 0.1 # the keyring may still be starting
done
"$quillmoor" config get RVQuillmoorDroplrLinked 2>/dev/null | grep -qi "yes\|true\|1" ||
    { cat "$work/link.log" >&2; exit 1; }
"$quillmoor" config set QuillmoorMinFileSize 1 >/dev/null

row() { throughput_row 4 21 "$1" "$2" "$3" "$size_mib"; }
echo "|      | tool                  |  wall s |    MiB/s |  CPU s | RSS MiB |"
echo "|------|-----------------------|---------|----------|--------|---------|"

r=$(fastest_run 1 : : "$bench" "$work/payload.bin" "$email" "$password") || exit 1
row up "DroplrUploader" "$r"

sent_has_link() { grep -q "https://d.pr/" "$work/sent.eml" || { echo "no link in the sent message" >&2; return 1; }; }
r=$(fastest_run 1 : sent_has_link "$quillmoor" send --answer upload --out "$work/sent.eml" "$work/message.eml") || exit 1
row send "quillmoor send" "$r"
# The same message kept whole (under the threshold): what reading, decoding and writing it costs alone.
"$quillmoor" config set QuillmoorMinFileSize 100000 >/dev/null
sent_whole() { ! grep -q "https://d.pr/" "$work/sent.eml" || { echo "uploaded after all" >&2; return 1; }; }
r=$(fastest_run 1 : sent_whole "$quillmoor" send --answer send --out "$work/sent.eml" "$work/message.eml") || exit 1
row keep "quillmoor, no upload" "$r"

# curl signs as the client does: METHOD PATH HTTP/1.1 \n CONTENT-TYPE \n DATE, HMAC-SHA1 with
# privateKey:sha1(password), and the access key Base64(publicKey:email).
curl_upload() {
    local date signature access
    date=$(date +%s%3N)
    signature=$(printf 'POST /files HTTP/1.1\napplication/octet-stream\n%s' "$date" |
        openssl dgst -sha1 -binary -hmac "$secret:$(printf '%s' "$password" | sha1sum | cut -d' ' -f1)" | base64)
    access=$(printf '%s:%s' "$key" "$email" | base64 -w0)
    curl -sS -f -X POST -T "$work/payload.bin" -H "Expect:" -H "Content-Type: application/octet-stream" \
        -H "Date: $date" -H "Accept: application/json;v=0.9" -H "User-Agent: DKClient/2.1.2 curl" \
        -H "Authorization: droplr $access:$signature" "${url}files?filename=payload.bin"
}
answered_drop() { grep -q '"shortlink"' "$1" || { cat "$1" >&2; return 1; }; }
export -f curl_upload
export work secret password key email url
r=$(fastest_run 1 : answered_drop bash -c curl_upload) || exit 1
row post "curl -X POST -T" "$r"
