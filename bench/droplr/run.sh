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
# Environment: BIN or BUILD (see bench/lib.sh), SIZE_MIB (default 1024).
# quillmoor keeps the password in a private keyring (bench/lib.sh).
set -euo pipefail
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
need_programs quillmoor fake_droplr droplr_upload_bench
need_tools curl openssl python3 /usr/bin/time

bench_work droplr_bench
private_keyring
key=0a1b2c3d4e5f60718293a4b5c6d7e8f901234567
secret=fedcba98765432100123456789abcdef01234567
email=bench@example.org
password=benchpass
start_fake 1 "$bin/fake_droplr" --key "$key" --secret "$secret" --account "$email:$password"
url=$(head -1 "$work/fake.out")
export QUILLMOOR_DROPLR_KEY=$key QUILLMOOR_DROPLR_SECRET=$secret QUILLMOOR_DROPLR_URL=$url
make_payload
make_message

link_with_password droplr "$email" "$password"
"$bin/quillmoor" config get RVQuillmoorDroplrLinked 2>/dev/null | grep -qi "yes\|true\|1" ||
    { cat "$work/link.log" >&2; exit 1; }
"$bin/quillmoor" config set QuillmoorMinFileSize 1 >/dev/null

table_head 4 21 "" "tool"

r=$(fastest_run 1 : : "$bin/droplr_upload_bench" "$work/payload.bin" "$email" "$password") || exit 1
table_row up "DroplrUploader" "$r"

sent_has_link() { sent_contains "https://d.pr/"; }
r=$(measure_send sent_has_link) || exit 1
table_row send "quillmoor send" "$r"
# The same message kept whole (under the threshold): what reading, decoding and writing it costs alone.
"$bin/quillmoor" config set QuillmoorMinFileSize 100000 >/dev/null
sent_whole() { ! grep -q "https://d.pr/" "$work/sent.eml" || { echo "uploaded after all" >&2; return 1; }; }
r=$(fastest_run 1 : sent_whole "$bin/quillmoor" send --answer send --out "$work/sent.eml" "$work/message.eml") ||
    exit 1
table_row keep "quillmoor, no upload" "$r"

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
table_row post "curl -X POST -T" "$r"
