#!/usr/bin/env bash
# Uploads a 1 GiB file of random bytes to the Box fake (tests/servers/box) on loopback, in the same run:
# through BoxUploader alone (box_upload_bench: token check, listing, streamed multipart upload, shared
# link), as the attachment of a message sent with `quillmoor send` (linked with `quillmoor link box` through
# a scripted browser; the whole command: reading the message, decoding the attachment, the upload, writing
# the message), and with curl sending the same multipart upload. Prints wall time, throughput, CPU time
# (user + system) and peak RSS of each, from /usr/bin/time -v.
#
# Build first (tests on, for the fake):
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMOOR_BUILD_TESTS=ON \
#       -DQUILLMOOR_BUILD_BENCH=ON
#   cmake --build build --target quillmoor box_upload_bench fake_box
# Environment: BIN or BUILD (see bench/lib.sh), SIZE_MIB (default 1024), RUNS (default 1).
set -euo pipefail
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
need_programs quillmoor box_upload_bench fake_box
need_tools curl python3 /usr/bin/time

bench_work box_bench
private_keyring
client_id=benchboxclientid000000000000000a
client_secret=benchboxsecret000000000000000000
# The fake serves until its standard input closes; it prints its URL, a token pair and its folder.
start_fake 4 "$bin/fake_box" --client-id "$client_id" --client-secret "$client_secret"
read -r url access refresh folder <<<"$(fake_values url access refresh folder)"
make_payload
make_message

for name in URL AUTH_URL UPLOAD_URL; do export "QUILLMOOR_BOX_$name=$url"; done
export QUILLMOOR_BOX_KEY=$client_id QUILLMOOR_BOX_SECRET=$client_secret
link_in_browser box
"$bin/quillmoor" config set QuillmoorMinFileSize 1 >/dev/null

n=0
link_printed() { grep -q '^https://app.box.com/s/' "$1"; }
sent_has_link() { sent_contains 'https://app.box.com/s/'; }
entry_answered() { grep -q '"total_count":1' "$1"; }

table_head 4 16 "size" "tool"
r=$(fastest_run "$runs" : link_printed "$bin/box_upload_bench" "$url" "$access" "$refresh" "$folder" \
    "$work/payload.bin") || exit 1
table_row "1G" "BoxUploader" "$r"
r=$(measure_send sent_has_link) || exit 1
table_row "1G" "quillmoor send" "$r"
next_name() { n=$((n + 1)); }
r=$(fastest_run "$runs" next_name entry_answered curl -sS -f -H "Authorization: Bearer $access" \
    -F "parent_id=$folder" -F "filename=@$work/payload.bin;filename=curl-$RANDOM.bin" \
    "$url/api/2.0/files/content") || exit 1
table_row "1G" "curl -F" "$r"
