#!/usr/bin/env bash
# Sends a message with a 1 GiB attachment of random bytes through Hightail's workflow to the fake API
# (fake_yousendit), once with `quillmoor send` (send item, streamed multipart upload, commit, the link
# in the message) and once with curl uploading the same file to the same fake, in the same run. Prints
# wall time, throughput, CPU time (user + system) and peak RSS of each, from /usr/bin/time -v.
#
# Build first (the fake comes with the tests):
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMOOR_BUILD_TESTS=ON
#   cmake --build build --target quillmoor fake_yousendit
# Environment: BIN or BUILD (see bench/lib.sh), SIZE_MIB (default 1024).
# `quillmoor link` keeps the password in the Secret Service: a private keyring (bench/lib.sh).
set -euo pipefail
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
need_programs quillmoor fake_yousendit
need_tools curl python3 /usr/bin/time

bench_work yousendit_bench
private_keyring
email=bench@example.org
password='bench&pass=1'
start_fake 1 "$bin/fake_yousendit" --account "$email" "$password"
url=$(awk '{print $1; exit}' "$work/fake.out")
key=$(awk '{print $3; exit}' "$work/fake.out")
export QUILLMOOR_YOUSENDIT_URL=$url QUILLMOOR_YOUSENDIT_KEY=$key
make_payload
make_message

link_with_password hightail "$email" "$password"
"$bin/quillmoor" config set QuillmoorMinFileSize 1 >/dev/null

sent_has_link() { sent_contains "$url/download/"; }
curl_uploaded() { grep -q "complete" "$1" || { cat "$1" >&2; return 1; }; }

table_head 14 24 "client" "measured"
r=$(measure_send sent_has_link) || exit 1
table_row "quillmoor" "send: item, upload, commit" "$r"

token=$(curl -sS -H "X-Api-Key: $key" --data-urlencode "email=$email" --data-urlencode "password=$password" \
    "$url/dpi/v1/auth" | python3 -c 'import json,sys; print(json.load(sys.stdin)["authToken"])')
item=$(curl -sS -H "X-Api-Key: $key" -H "X-Auth-Token: $token" --data "recipients=ada%40example.com&fileCount=1" \
    "$url/dpi/v1/item/send" | python3 -c 'import json,sys; d=json.load(sys.stdin); print(d["itemId"], d["uploadUrl"][0])')
read -r item_id upload_url <<<"$item"
r=$(fastest_run 1 : curl_uploaded curl -sS -f -F "bid=$item_id" -F "fname=@$work/payload.bin;type=application/octet-stream" \
    "$upload_url") || exit 1
table_row "curl -F" "upload only" "$r"
