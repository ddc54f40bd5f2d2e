#!/usr/bin/env bash
# Uploads a 1 GiB file of random bytes to the fake CloudApp account (tests/servers/cloudapp), once as the
# attachment of a message sent with `quillmoor send` (linked with `quillmoor link cloudapp`; the engine's
# upload request with Digest, the multipart POST to the storage host streamed from the file, the redirect
# back to the API with Digest again) and once with curl doing the same exchange, in the same run. Prints
# wall time, throughput, CPU time (user + system) and peak RSS of each, all from /usr/bin/time -v. The
# quillmoor row includes decoding the message's attachment into its working copy and writing the message.
#
# Build first (tests on, for the fake):
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMOOR_BUILD_TESTS=ON
#   cmake --build build --target quillmoor fake_cloudapp
# The account's password goes to a private keyring (bench/lib.sh).
# Environment: BIN or BUILD (see bench/lib.sh), SIZE_MIB (default 1024), RUNS (default 1).
set -euo pipefail
# shellcheck source=../lib.sh
source "$(dirname "$0")/../lib.sh"
need_programs quillmoor fake_cloudapp
need_tools curl python3 /usr/bin/time

bench_work cloudapp_bench
private_keyring
email=bench@example.org
pass=bench-pass
start_fake 1 "$bin/fake_cloudapp" --email "$email" --password "$pass"
api=$(head -1 "$work/fake.out")
make_payload
make_message

export QUILLMOOR_CLOUDAPP_URL=$api
link_with_password cloudapp "$email" "$pass"

# The item's link in the message that left proves the upload went through.
sent_has_link() { sent_contains "${api}/i/"; }
# curl's last answer is the item, named after the file.
curl_got_item() { grep -q '"name":"payload.bin"' "$1" || { echo "curl got: $(head -c 300 "$1")" >&2; return 1; }; }
# curl doing the engine's exchange: the upload request, then the form with its fields in order, the file last.
curl_upload() {
    local answer fields location
    answer=$(curl -sS -f --digest -u "$email:$pass" -H 'Accept: application/json' "$api/items/new")
    mapfile -t fields < <(python3 -c 'import json,sys
a = json.loads(sys.argv[1])
print(a["url"])
for k, v in a["params"].items(): print("--form-string"); print(k + "=" + v)' "$answer")
    # Two calls: with --digest curl would first send the POST without its body, to draw a challenge.
    location=$(curl -sS -f -o /dev/null -w '%{redirect_url}' -H 'Accept: application/json' -H 'Expect:' \
        "${fields[@]:1}" -F "file=@$work/payload.bin" "${fields[0]}")
    curl -sS -f --digest -u "$email:$pass" -H 'Accept: application/json' "$location"
}

echo "| tool            |  wall s |    MiB/s |  CPU s | RSS MiB |"
echo "|-----------------|---------|----------|--------|---------|"
r=$(measure_send sent_has_link) || exit 1
throughput_row 0 15 "" "quillmoor send" "$r" "$size_mib" | sed 's/^|  | /| /'
export -f curl_upload
export email pass api work
r=$(fastest_run "$runs" : curl_got_item bash -c curl_upload) || exit 1
throughput_row 0 15 "" "curl" "$r" "$size_mib" | sed 's/^|  | /| /'
