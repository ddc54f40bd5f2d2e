#!/usr/bin/env bash
# The Dropbox upload against its fake (tests/servers/dropbox) on loopback, in two parts:
#  1. Chunk sizes: a file of SWEEP_MIB MiB (default 512) through DropboxUploader alone
#     (dropbox_upload_bench: upload session start, appends, finish, shared link) for each size of CHUNKS,
#     SWEEP_ROUNDS times (default 2), every size once a round, so a busy spell of the machine falls on
#     every size alike; the rows show how much rounds vary.
#  2. A 1 GiB file as the attachment of a message sent with `quillmoor send` (linked with `quillmoor link
#     dropbox` through a scripted browser; the whole command: reading the message, decoding the attachment,
#     the upload, writing the message) beside curl sending the same bytes to the same fake through the
#     same upload-session endpoints in chunks of the uploader's default size (the file split beforehand,
#     outside the measurement).
# Prints wall time, throughput, CPU time (user + system) and peak RSS of each, from /usr/bin/time -v.
#
# Build first (tests on, for the fake):
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMOOR_BUILD_TESTS=ON \
#       -DQUILLMOOR_BUILD_BENCH=ON
#   cmake --build build --target quillmoor dropbox_upload_bench fake_dropbox
# Environment: BIN or BUILD (see bench/lib.sh), SIZE_MIB (part 2, default 1024), RUNS (part 2, default 1),
#              SWEEP_MIB, SWEEP_ROUNDS, CHUNKS (MiB, default "4 8 16 32 64 128": the real service takes
#              at most 150 MiB a request), CHUNK_MIB (curl's chunks, default 16, the uploader's default).
set -euo pipefail
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
need_programs quillmoor dropbox_upload_bench fake_dropbox
need_tools curl python3 split /usr/bin/time
sweep_mib=${SWEEP_MIB:-512}
sweep_rounds=${SWEEP_ROUNDS:-2}
chunks=${CHUNKS:-4 8 16 32 64 128}
chunk_mib=${CHUNK_MIB:-16}

bench_work dropbox_bench
private_keyring
# The fake serves until its standard input closes; it prints its URL and a token pair.
start_fake 3 "$bin/fake_dropbox"
read -r url access refresh <<<"$(fake_values url access refresh)"
make_payload
make_message

link_printed() { grep -q '^https://www.dropbox.com/s/' "$1" || { cat "$2" >&2; return 1; }; }

echo "generating $sweep_mib MiB for the chunk sizes ..." >&2
head -c $((sweep_mib << 20)) /dev/urandom >"$work/sweep.bin"
table_head 9 5 "chunk MiB" "round"
for ((round = 1; round <= sweep_rounds; round++)); do
    for chunk in $chunks; do
        r=$(fastest_run 1 : link_printed "$bin/dropbox_upload_bench" "$url" "$access" "$refresh" "$chunk" \
            "$work/sweep.bin") || exit 1
        throughput_row 9 5 "$chunk" "$round" "$r" "$sweep_mib"
    done
done
rm -f "$work/sweep.bin"
echo

# The fake's app key: its default, the one its sign-in page takes.
for name in URL AUTH_URL UPLOAD_URL; do export "QUILLMOOR_DROPBOX_$name=$url"; done
export QUILLMOOR_DROPBOX_KEY=fakedropboxkey1
link_in_browser dropbox
"$bin/quillmoor" config set QuillmoorMinFileSize 1 >/dev/null
sent_has_link() { sent_contains 'https://www.dropbox.com/s/'; }

split -b "${chunk_mib}M" -d -a 4 "$work/payload.bin" "$work/part."
# curl through the upload session: start with the first part, one connection for the appends and the finish.
curl_upload() {
    local session offset args=() part
    local -a parts=("$work"/part.*)
    session=$(curl -sS -f -X POST -H "Authorization: Bearer $access" -H "Content-Type: application/octet-stream" \
        -H 'Dropbox-API-Arg: {"close": false}' -H "Expect:" -T "${parts[0]}" \
        "$url/2/files/upload_session/start" | sed -n 's/.*"session_id" *: *"\([^"]*\)".*/\1/p')
    offset=$(stat -c %s "${parts[0]}")
    for part in "${parts[@]:1}"; do
        args+=(-f -X POST -H "Authorization: Bearer $access" -H "Content-Type: application/octet-stream" -H "Expect:"
            -H "Dropbox-API-Arg: {\"cursor\": {\"session_id\": \"$session\", \"offset\": $offset}, \"close\": false}"
            -T "$part" "$url/2/files/upload_session/append_v2" --next)
        offset=$((offset + $(stat -c %s "$part")))
    done
    local commit='"commit": {"path": "/curl.bin", "mode": "add", "autorename": true, "mute": false}'
    curl -sS -f "${args[@]}" -X POST -H "Authorization: Bearer $access" -H "Content-Type: application/octet-stream" \
        -H "Dropbox-API-Arg: {\"cursor\": {\"session_id\": \"$session\", \"offset\": $offset}, $commit}" \
        --data-binary '' "$url/2/files/upload_session/finish"
}
curl_sent_all() {
    grep -Eq "\"size\" *: *$((size_mib << 20))" "$1" || { echo "curl got: $(tail -c 300 "$1")" >&2; return 1; }
}
export -f curl_upload
export work url access

table_head 14 9 "tool" "chunk MiB"
r=$(measure_send sent_has_link) || exit 1
table_row "quillmoor send" "default" "$r"
r=$(fastest_run "$runs" : curl_sent_all bash -c curl_upload) || exit 1
table_row "curl" "$chunk_mib" "$r"
