#!/usr/bin/env bash
# Sends a message with a 1 GiB attachment through `quillmoor send` to the ownCloud fake (name probe, one
# streamed WebDAV PUT, the share), and in the same run PUTs the same bytes to the same fake with curl and
# the same credentials. Prints wall time, throughput, CPU time (user + system) and peak RSS of each, from
# /usr/bin/time -v. quillmoor's figures include the whole send: reading the message, decoding the
# attachment, copying it to the working folder, uploading, sharing, writing the message.
#
# Build first (the fake is built with the tests):
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMOOR_BUILD_TESTS=ON
#   cmake --build build --target quillmoor fake_owncloud
# Environment: BIN or BUILD (see bench/lib.sh), SIZE_MIB (default 1024), RUNS (default 1).
# The account's password lives in a private keyring (bench/lib.sh).
set -euo pipefail
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
need_programs quillmoor fake_owncloud
need_tools curl cmp /usr/bin/time

bench_work owncloud_bench
private_keyring
# The fake, installed under /owncloud, keeping uploads in the store folder; linked as a user would.
user=alice password=s3cret
mkdir -p "$work/store"
start_fake 1 "$bin/fake_owncloud" --prefix /owncloud --user "$user" --password "$password" --store "$work/store"
url=$(sed -n 1p "$work/fake.out")
printf '%s\n' "$password" | "$bin/quillmoor" link owncloud --server "$url" --login "$user" --password-stdin \
    --folder Quillmoor >/dev/null
"$bin/quillmoor" config set QuillmoorAutoSendEmail YES >/dev/null

make_payload
make_message

no_setup() { :; }
upload_arrived() { store_holds_payload 'file-*'; }
send_sent() { grep -Eq 'index\.php/s/|/Quillmoor/payload' "$work/sent.eml" && upload_arrived; }

curl_upload() {
    curl -sS -f -o /dev/null -u "$user:$password" -H "Content-Type: application/octet-stream" \
        -T "$work/payload.bin" "$url/remote.php/webdav/Quillmoor/payload-curl.bin"
}
export -f curl_upload
export url user password work

table_head 16 4 "tool" ""
r=$(measure_send send_sent) || exit 1
table_row "quillmoor send" "" "$r"
r=$(fastest_run "$runs" no_setup upload_arrived bash -c curl_upload) || exit 1
table_row "curl (PUT)" "" "$r"
