#!/usr/bin/env bash
# Sends a message with a 1 GiB attachment of random bytes through `quillmoor send` to the Dropmark fake
# (fake_dropmark), and uploads the same file to the same fake with `curl -F`, in the same run. Prints wall
# time, throughput, CPU time (user + system) and peak RSS of each, all taken from /usr/bin/time -v.
# quillmoor's figures include the whole send: reading the message, decoding and copying the attachment,
# the upload and writing the message that leaves.
#
# Build first:
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMOOR_BUILD_TESTS=ON
#   cmake --build build --target quillmoor fake_dropmark
# Environment: BIN or BUILD (see bench/lib.sh), SIZE_MIB (default 1024), RUNS (runs per tool, fastest
#              kept; default 1).
set -euo pipefail
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
need_programs quillmoor fake_dropmark
need_tools curl python3 /usr/bin/time

bench_work dropmark_bench
private_home
start_fake 6 "$bin/fake_dropmark" --collection Quillmoor
{ read -r url; read -r key; read -r email; read -r password; read -r user_id; read -r token; } <"$work/fake.out"
: "$email" "$password" # the account is set up below the way a link leaves it
make_payload
make_message

export QUILLMOOR_DROPMARK_URL=$url QUILLMOOR_DROPMARK_KEY=$key
collection=$(curl -sS -f -H "X-API-Key: $key" -u "$user_id:$token" "$url/v1/collections?count=500" |
    python3 -c 'import json, sys; print(json.load(sys.stdin)[0]["id"])')
qm() { "$bin/quillmoor" "$@" >/dev/null; }
qm config set --force RVQuillmoorDropmarkUserID "$user_id"
qm config set --force RVQuillmoorDropmarkToken "$token"
qm config set --force RVQuillmoorDropmarkCollectionID "$collection"
qm config set --force RVQuillmoorDropmarkLinked YES
qm config set QuillmoorSelectedService 4
qm config set QuillmoorMinFileSize 1

# The fake answers each item with its size, so a run that sent less fails rather than looking fast.
curl_sent_all() { grep -q "\"size\": $((size_mib << 20))" "$1" || { echo "curl: short upload" >&2; return 1; }; }
quillmoor_sent_all() { sent_contains "$url/s/i"; }

table_head 15 1 "tool" ""
r=$(measure_send quillmoor_sent_all) || exit 1
table_row "quillmoor send" "" "$r"
r=$(fastest_run "$runs" : curl_sent_all curl -sS -f -H "X-API-Key: $key" -H "Accept: application/json" \
    -u "$user_id:$token" -F name=payload.bin -F shareable=true -F "content=@$work/payload.bin" \
    "$url/v1/collections/$collection/items") || exit 1
table_row "curl -F" "" "$r"
