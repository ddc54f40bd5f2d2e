#!/usr/bin/env bash
# Sends a message with a 1 GiB attachment of random bytes through `quillmoor send` to the MediaFire fake
# (fake_mediafire), and uploads the same file to the same fake with `curl -F`, in the same run. Prints wall
# time, throughput, CPU time (user + system) and peak RSS of each, all taken from /usr/bin/time -v.
# quillmoor's figures include the whole send: reading the message, decoding and copying the attachment,
# the session token, the upload, the polls (every 2 s until the fake is done) and the link; curl's only
# the upload. MediaFire's password lives in the Secret Service, so the account is linked with
# `quillmoor link` against a private keyring (bench/lib.sh).
#
# Build first:
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMOOR_BUILD_TESTS=ON
#   cmake --build build --target quillmoor fake_mediafire
# Environment: BIN or BUILD (see bench/lib.sh), SIZE_MIB (default 1024), RUNS (runs per tool, fastest
#              kept; default 1).
set -euo pipefail
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
need_programs quillmoor fake_mediafire
need_tools curl python3 sha1sum /usr/bin/time

bench_work mediafire_bench
private_keyring
start_fake 5 "$bin/fake_mediafire" --folder Quillmoor
{ read -r url; read -r app_id; read -r api_key; read -r email; read -r password; } <"$work/fake.out"
make_payload
make_message

export QUILLMOOR_MEDIAFIRE_URL=$url QUILLMOOR_MEDIAFIRE_KEY=$app_id QUILLMOOR_MEDIAFIRE_SECRET=$api_key
link_with_password mediafire "$email" "$password"
"$bin/quillmoor" config set QuillmoorMinFileSize 1 >/dev/null

quillmoor_sent_all() { sent_contains "$url/download/"; }
# The fake keeps each file's size; the upload's answer carries the key under which it is found.
curl_sent_all() { grep -q "<key>" "$1" || { echo "curl: no upload key" >&2; return 1; }; }

signature=$(printf '%s' "$email$password$app_id$api_key" | sha1sum | cut -d' ' -f1)
query=$(python3 -c 'import sys, urllib.parse as u; print(u.urlencode(dict(application_id=sys.argv[1], email=sys.argv[2], password=sys.argv[3], response_format="json", signature=sys.argv[4]), quote_via=u.quote))' \
    "$app_id" "$email" "$password" "$signature")
token=$(curl -sS -f "$url/api/user/get_session_token.php?$query" |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["response"]["session_token"])')
folder=$("$bin/quillmoor" config get RVQuillmoorMediafireFolderKey)

table_head 15 1 "tool" ""
r=$(measure_send quillmoor_sent_all) || exit 1
table_row "quillmoor send" "" "$r"
r=$(fastest_run "$runs" : curl_sent_all curl -sS -f -F "Filedata=@$work/payload.bin" \
    "$url/api/upload/simple.php?session_token=$token&uploadkey=$folder&action_on_duplicate=keep") || exit 1
table_row "curl -F" "" "$r"
