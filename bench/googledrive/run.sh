#!/usr/bin/env bash
# Sends a message with a 1 GiB attachment through `quillmoor send` to the Google Drive fake (resumable upload
# session, streamed in chunks), and in the same run sends the same bytes to the same fake with curl (the
# session opened with one POST, the bytes in one PUT). Prints wall time, throughput, CPU time (user + system)
# and peak RSS of each, from /usr/bin/time -v. quillmoor's figures include the whole send: reading the
# message, decoding the attachment, copying it to the working folder, uploading, writing the message.
#
# Build first (the fake is built with the tests):
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMOOR_BUILD_TESTS=ON
#   cmake --build build --target quillmoor fake_googledrive
# Environment: BIN or BUILD (see bench/lib.sh), SIZE_MIB (default 1024), RUNS (default 1).
# The account's tokens live in a private keyring (bench/lib.sh).
set -euo pipefail
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
need_programs quillmoor fake_googledrive
need_tools curl python3 /usr/bin/time

bench_work googledrive_bench
private_keyring
# The fake, with an account linked earlier: its tokens and its folder.
mkdir -p "$work/store"
start_fake 2 "$bin/fake_googledrive" --store "$work/store" --token ya29.bench 1//bench --folder Quillmoor
url=$(sed -n 1p "$work/fake.out")
folder=$(sed -n 2p "$work/fake.out")
for name in URL AUTH_URL TOKEN_URL UPLOAD_URL; do export "QUILLMOOR_GOOGLEDRIVE_$name=$url"; done
export QUILLMOOR_GOOGLEDRIVE_KEY=test-client QUILLMOOR_GOOGLEDRIVE_SECRET=test-secret
printf '{"access_token":"ya29.bench","refresh_token":"1//bench","expires_at":"","email":"bench@example.com"}' |
    secret-tool store --label "Quillmoor (GoogleDrive)" service "Quillmoor (GoogleDrive)" account "OAuth 2 authorization"
"$bin/quillmoor" config set RVQuillmoorGDriveFolderId "$folder" >/dev/null
"$bin/quillmoor" config set QuillmoorSelectedService 7 >/dev/null
"$bin/quillmoor" config set QuillmoorAutoSendEmail YES >/dev/null

make_payload
make_message

no_setup() { :; }
upload_arrived() { store_holds_payload 'file*'; }
send_sent() { sent_contains 'uc?id=' && upload_arrived; }

curl_upload() {
    local location
    location=$(curl -sS -f -D - -o /dev/null -X POST \
        -H "Authorization: Bearer ya29.bench" -H "Content-Type: application/json; charset=UTF-8" \
        -H "X-Upload-Content-Type: application/octet-stream" -H "X-Upload-Content-Length: $((size_mib << 20))" \
        --data "{\"name\":\"payload.bin\",\"parents\":[\"$folder\"]}" \
        "$url/upload/drive/v3/files?uploadType=resumable&fields=id" | tr -d '\r' | sed -n 's/^[Ll]ocation: //p')
    curl -sS -f -o /dev/null -H "Authorization: Bearer ya29.bench" \
        -H "Content-Range: bytes 0-$(((size_mib << 20) - 1))/$((size_mib << 20))" -T "$work/payload.bin" "$location"
}
export -f curl_upload
export url folder size_mib work

table_head 16 4 "tool" ""
r=$(measure_send send_sent) || exit 1
table_row "quillmoor send" "" "$r"
r=$(fastest_run "$runs" no_setup upload_arrived bash -c curl_upload) || exit 1
table_row "curl (POST, PUT)" "" "$r"
