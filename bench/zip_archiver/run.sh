#!/usr/bin/env bash
# Compares ZipArchiver with `zip -r -6` on two generated data sets:
#   text   ~300 MiB of compressible files: C/C++ headers, logs, CSV and JSON of various sizes
#   media  ~300 MiB of incompressible files: random bytes behind real JPEG and MP4 headers
# Prints wall time, CPU time (user + system; steadier than wall time on a busy machine), archive size and
# peak RSS for each tool.
#
# Build first:
#   cmake -S . -B build-zip -G Ninja -DQUILLMOOR_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-zip --target zip_archiver_bench
# Environment: BENCH (path of zip_archiver_bench), RUNS (runs per tool, fastest kept; default 1),
#              DATA (a folder to generate the data in and keep, or to reuse when it already holds it).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../time_stats.sh
source "$root/bench/time_stats.sh"
bench=${BENCH:-$root/build-zip/bin/zip_archiver_bench}
runs=${RUNS:-1}
[[ -x $bench ]] || { echo "missing $bench: build the zip_archiver_bench target first" >&2; exit 1; }
for tool in zip unzip python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install -y zip unzip python3 time)" >&2; exit 1; }
done

if [[ -n ${DATA:-} ]]; then
    work=$DATA
    mkdir -p "$work"
    rm -f "$work"/*.zip
else
    work=$(mktemp -d "${TMPDIR:-/tmp}/zip_archiver_bench.XXXXXX")
    trap 'rm -rf "$work"' EXIT
fi

if [[ ! -d $work/text || ! -d $work/media ]]; then
echo "generating data in $work ..." >&2
rm -rf "$work/text" "$work/media"
python3 - "$work" <<'PY'
import os, random, sys, json
work = sys.argv[1]
rng = random.Random(42)
MiB = 1 << 20

def sizes(total, low, high):
    while total > 0:
        n = min(total, rng.randint(low, high))
        total -= n
        yield n

# (a) text: real headers first, they are the most source-like data at hand.
text = os.path.join(work, "text")
budget = 100 * MiB
for folder, _, files in sorted(os.walk("/usr/include")):
    for name in sorted(files):
        path = os.path.join(folder, name)
        if budget <= 0 or not os.path.isfile(path) or os.path.islink(path):
            continue
        data = open(path, "rb").read()
        target = os.path.join(text, "src", os.path.relpath(path, "/usr/include"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        open(target, "wb").write(data)
        budget -= len(data)

words = ("request served user account mailbox upload attachment folder error retry timeout "
         "connection session token refresh message draft header body quota storage link").split()
levels = ["INFO"] * 8 + ["DEBUG"] * 4 + ["WARN", "ERROR"]
def log_lines(n):
    out, size = [], 0
    while size < n:
        line = "2024-%02d-%02dT%02d:%02d:%02d.%03dZ %s [%s] %s id=%d took=%dms\n" % (
            rng.randint(1, 12), rng.randint(1, 28), rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59),
            rng.randint(0, 999), rng.choice(levels), rng.choice(["net", "ui", "store", "auth"]),
            " ".join(rng.choices(words, k=rng.randint(3, 9))), rng.randint(1, 10**7), rng.randint(0, 5000))
        out.append(line); size += len(line)
    return "".join(out).encode()[:n]

def csv_lines(n):
    out, size = ["id,date,name,email,amount,currency,status\n"], 0
    names = ["Anna", "Jonas", "Marie", "Lukas", "Sofia", "Elias", "Emma", "Noah", "Mia", "Paul"]
    while size < n:
        who = rng.choice(names)
        line = "%d,2024-%02d-%02d,%s %s,%s.%d@example.org,%d.%02d,%s,%s\n" % (
            rng.randint(1, 10**6), rng.randint(1, 12), rng.randint(1, 28), who, rng.choice(names) + "son",
            who.lower(), rng.randint(1, 999), rng.randint(0, 99999), rng.randint(0, 99),
            rng.choice(["EUR", "USD", "CHF"]), rng.choice(["paid", "open", "overdue"]))
        out.append(line); size += len(line)
    return "".join(out).encode()[:n]

def json_text(n):
    items, size = [], 0
    while size < n:
        item = {"id": rng.randint(1, 10**9), "subject": " ".join(rng.choices(words, k=5)),
                "from": "user%d@example.org" % rng.randint(1, 5000), "size": rng.randint(100, 10**7),
                "flags": rng.sample(["seen", "flagged", "answered", "draft"], rng.randint(0, 3)),
                "attachments": [{"name": "file%d.pdf" % rng.randint(1, 99), "bytes": rng.randint(1, 10**6)}]}
        s = json.dumps(item, indent=2); items.append(s); size += len(s) + 2
    return ("[\n" + ",\n".join(items) + "\n]\n").encode()[:n]

for kind, make, total, low, high, ext in [("logs", log_lines, 100 * MiB, 64 << 10, 24 * MiB, "log"),
                                          ("tables", csv_lines, 60 * MiB, 32 << 10, 12 * MiB, "csv"),
                                          ("data", json_text, 40 * MiB, 16 << 10, 8 * MiB, "json")]:
    os.makedirs(os.path.join(text, kind), exist_ok=True)
    for i, n in enumerate(sizes(total, low, high)):
        open(os.path.join(text, kind, "%s-%03d.%s" % (kind, i, ext)), "wb").write(make(n))

# (b) media: random payloads behind real container headers.
media = os.path.join(work, "media")
os.makedirs(os.path.join(media, "photos")); os.makedirs(os.path.join(media, "videos"))
jfif = bytes.fromhex("ffd8ffe000104a46494600010101004800480000ffdb004300")
for i, n in enumerate(sizes(140 * MiB, 1 * MiB, 6 * MiB)):
    open(os.path.join(media, "photos", "IMG_%04d.JPG" % i), "wb").write(jfif + os.urandom(n - len(jfif) - 2) + b"\xff\xd9")
ftyp = (32).to_bytes(4, "big") + b"ftypisom" + (0x200).to_bytes(4, "big") + b"isomiso2avc1mp41"
for i, n in enumerate(sizes(160 * MiB, 16 * MiB, 48 * MiB)):
    payload = n - len(ftyp) - 8
    open(os.path.join(media, "videos", "VID_%04d.mp4" % i), "wb").write(
        ftyp + (payload + 8).to_bytes(4, "big") + b"mdat" + os.urandom(payload))
PY
fi

# Fastest of $runs runs; the archive is removed before each so both tools create it from scratch.
best() {
    archive=$1
    shift
    fastest_run "$runs" remove_archive : "$@"
}
remove_archive() { rm -f "$archive"; }

rows=()
for set in text media; do
    folder=$work/$set
    files=$(find "$folder" -type f | wc -l)
    bytes=$(du -sb "$folder" | cut -f1)
    read -r s cpu rss < <(best "$work/$set-qm.zip" "$bench" "$folder" "$work/$set-qm.zip")
    unzip -tq "$work/$set-qm.zip" >/dev/null
    rows+=("$set $files $bytes ZipArchiver $s $cpu $(stat -c %s "$work/$set-qm.zip") $rss")
    read -r s cpu rss < <(cd "$folder" && best "$work/$set-zip.zip" zip -r -6 -q "$work/$set-zip.zip" .)
    unzip -tq "$work/$set-zip.zip" >/dev/null
    rows+=("$set $files $bytes zip-6 $s $cpu $(stat -c %s "$work/$set-zip.zip") $rss")
done

printf '%-6s %6s %10s  %-12s %8s %8s %14s %8s %12s\n' \
    "set" "files" "input MiB" "tool" "seconds" "CPU s" "archive bytes" "ratio" "peak RSS MiB"
for row in "${rows[@]}"; do
    read -r set files bytes tool s cpu size rss <<<"$row"
    awk -v set="$set" -v files="$files" -v bytes="$bytes" -v tool="$tool" -v s="$s" -v cpu="$cpu" -v size="$size" \
        -v rss="$rss" 'BEGIN { printf "%-6s %6d %10.1f  %-12s %8.2f %8.2f %14d %8.4f %12.1f\n",
                               set, files, bytes / 1048576, tool, s, cpu, size, size / bytes, rss / 1024 }'
done
