#!/usr/bin/env bash
# The desktop host's main thread during a large send, and opening/sending a heavy message against the
# command-line host. Build with -DQUILLMOOR_BUILD_BENCH=ON, then: bench/desktop/run.sh BUILD_DIR [SIZE_MIB]
set -euo pipefail
build=${1:?build folder}
size=${2:-2048}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin="$build/bin"

echo "== longest main-thread stall during a ${size} MiB send"
"$bin/desktop_bench" "$work/stall" stall "$size"

echo "== a 5 MB HTML body with 20 attachments"
python3 - "$work/heavy.eml" <<'PY'
import base64, os, sys
path = sys.argv[1]
para = "<p>" + "Quillmoor keeps large attachments out of e-mail. " * 20 + "</p>\n"
html = "<html><body>" + para * (5_000_000 // len(para)) + "</body></html>"
with open(path, "w") as out:
    out.write("From: bench@example.org\nTo: peer@example.org\nSubject: Heavy\nMIME-Version: 1.0\n")
    out.write('Content-Type: multipart/mixed; boundary="b"\n\n--b\nContent-Type: text/html; charset=utf-8\n')
    out.write("Content-Transfer-Encoding: base64\n\n")
    body = base64.encodebytes(html.encode()).decode()
    out.write(body)
    for i in range(20):
        data = base64.encodebytes(os.urandom(256 * 1024)).decode()
        out.write(f'--b\nContent-Type: application/octet-stream\nContent-Disposition: attachment; filename="file{i}.bin"\n')
        out.write("Content-Transfer-Encoding: base64\n\n" + data)
    out.write("--b--\n")
PY
"$bin/desktop_bench" "$work/open" open "$work/heavy.eml"
echo "-- command-line host, loading and pressing Send up to the question (answered: cancel)"
start=$(date +%s%N)
QUILLMOOR_CONFIG_DIR="$work/open" "$bin/quillmoor" send --answer cancel --out "$work/cli.eml" "$work/heavy.eml" || true
echo "cli_ms $(( ($(date +%s%N) - start) / 1000000 ))"
