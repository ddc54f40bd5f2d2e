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
# The account's password goes to the Secret Service: the script runs inside a private D-Bus session with
# gnome-keyring (dbus-run-session, gnome-keyring-daemon).
# Environment: QUILLMOOR, FAKE (paths of the two programs), SIZE_MIB (default 1024), RUNS (default 1).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
if [[ -z ${QM_BENCH_IN_SESSION:-} ]]; then
    QM_BENCH_IN_SESSION=1 exec dbus-run-session -- "$0" "$@"
fi
# shellcheck source=../time_stats.sh
source "$root/bench/time_stats.sh"
quillmoor=${QUILLMOOR:-$root/build/bin/quillmoor}
fake=${FAKE:-$root/build/bin/fake_cloudapp}
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-1}
for program in "$quillmoor" "$fake"; do
    [[ -x $program ]] || { echo "missing $program: build quillmoor and fake_cloudapp first" >&2; exit 1; }
done
for tool in curl python3 base64 gnome-keyring-daemon /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/cloudapp_bench.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

email=bench@example.org
pass=bench-pass
printf 'keyring\n' | gnome-keyring-daemon --foreground --components=secrets --unlock >"$work/keyring.log" 2>&1 &
pids+=($!)
sleep 1
"$fake" --email "$email" --password "$pass" >"$work/fake.out" 2>"$work/fake.log" &
pids+=($!)
for _ in $(seq 1 100); do [[ -s $work/fake.out ]] && break; sleep 0.05; done
api=$(head -1 "$work/fake.out")
[[ -n $api ]] || { echo "the fake did not start: $(cat "$work/fake.log")" >&2; exit 1; }

echo "generating $size_mib MiB of random bytes and a message carrying them ..." >&2
head -c $((size_mib << 20)) /dev/urandom >"$work/payload.bin"
{
    printf 'From: Bench <bench@example.org>\r\nTo: someone@example.com\r\nSubject: big\r\n'
    printf 'MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary="BENCH-BOUNDARY"\r\n\r\n'
    printf -- '--BENCH-BOUNDARY\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n'
    printf '<html><body><div>The file.</div></body></html>\r\n'
    printf -- '--BENCH-BOUNDARY\r\nContent-Disposition: attachment; filename=payload.bin\r\n'
    printf 'Content-Type: application/octet-stream; name="payload.bin"\r\nContent-Transfer-Encoding: base64\r\n\r\n'
    base64 -w 76 "$work/payload.bin" | sed 's/$/\r/'
    printf -- '--BENCH-BOUNDARY--\r\n'
} >"$work/message.eml"

export QUILLMOOR_CONFIG_DIR=$work/config QUILLMOOR_CLOUDAPP_URL=$api TMPDIR=$work
printf '%s\n' "$pass" | "$quillmoor" link cloudapp --login "$email" --password-stdin >&2

# The item's link in the message that left proves the upload went through.
sent_has_link() { grep -q "${api}/i/" "$work/sent.eml" || { echo "no link in the sent message" >&2; return 1; }; }
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
r=$(fastest_run "$runs" : sent_has_link "$quillmoor" send --answer upload --out "$work/sent.eml" "$work/message.eml") || exit 1
throughput_row 0 15 "" "quillmoor send" "$r" "$size_mib" | sed 's/^|  | /| /'
export -f curl_upload
export email pass api work
r=$(fastest_run "$runs" : curl_got_item bash -c curl_upload) || exit 1
throughput_row 0 15 "" "curl" "$r" "$size_mib" | sed 's/^|  | /| /'
