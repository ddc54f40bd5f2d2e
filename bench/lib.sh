# What every bench/*/run.sh does before it measures (sourced, not run; needs bash and `set -euo pipefail`).
#
# Sets root (the checkout), bin (the programs: $BIN, else $BUILD/bin, else build/bin), size_mib ($SIZE_MIB,
# default 1024) and runs ($RUNS, default 1), and sources time_stats.sh. The rest are functions:
#   need_programs NAME...     each $bin/NAME must be there
#   need_tools TOOL...        each TOOL must be on the PATH
#   bench_work NAME           the work folder $work, removed on exit with every process track_pid named
#   start_fake LINES CMD...   starts a fake, waits for its first LINES lines in $work/fake.out
#   fake_values KEY...        the values of the fake's lines "KEY value"
#   free_port, wait_port PORT a loopback port nobody listens on; waits until one accepts connections
#   make_payload              $work/payload.bin: $size_mib MiB of random bytes (not sparse)
#   make_message              $work/message.eml: a message carrying payload.bin, base64, CRLF lines
#   private_home              HOME, XDG folders, quillmoor's settings and TMPDIR inside $work
#   private_keyring           private_home, plus a session bus and an unlocked gnome-keyring of the run's own
#   link_with_password SERVICE LOGIN PASSWORD, link_in_browser SERVICE   `quillmoor link` against the fake
#   measure_send CHECK        the fastest of $runs `quillmoor send` of message.eml into $work/sent.eml
#   sent_contains TEXT        whether the message that left holds TEXT
#   store_holds_payload GLOB  whether the one file named GLOB in $work/store is the payload (then removed)
#   table_head W1 W2 T1 T2, table_row C1 C2 STATS   a Markdown table of throughput rows for $size_mib

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=time_stats.sh
source "$root/bench/time_stats.sh"
bin=${BIN:-${BUILD:-$root/build}/bin}
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-1}

need_programs() {
    local name
    for name in "$@"; do
        [[ -x $bin/$name ]] || { echo "missing $bin/$name: build the $name target first" >&2; exit 1; }
    done
}

need_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
    done
}

# Only the processes this run started are ended, by their PID; a fake's standard input (a FIFO held open
# by the script) is closed first, which alone ends the fakes that serve until it closes.
bench_pids=()
bench_fds=()
track_pid() { bench_pids+=("$@"); }
bench_cleanup() {
    local fd pid
    for fd in "${bench_fds[@]}"; do exec {fd}>&- 2>/dev/null || true; done
    for pid in "${bench_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${bench_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    [[ -n ${work:-} ]] && rm -rf "$work"
}

bench_work() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
    trap bench_cleanup EXIT
}

start_fake() {
    local lines=$1 fd
    shift
    mkfifo "$work/fake.in"
    "$@" <"$work/fake.in" >"$work/fake.out" 2>"$work/fake.log" &
    track_pid $!
    exec {fd}>"$work/fake.in"
    bench_fds+=("$fd")
    for _ in $(seq 1 200); do
        [[ $(wc -l <"$work/fake.out") -ge $lines ]] && return 0
        sleep 0.05
    done
    echo "the fake did not start: $*" >&2
    cat "$work/fake.out" "$work/fake.log" >&2
    exit 1
}

# fake_values KEY...: the values of the fake's lines "KEY value", on one line.
fake_values() {
    local key
    for key in "$@"; do sed -n "s/^$key //p" "$work/fake.out"; done | paste -sd ' '
}

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

wait_port() {
    for _ in $(seq 1 200); do
        python3 -c 'import socket,sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 0.2).close()' \
            "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "nothing listens on port $1" >&2
    exit 1
}

make_payload() {
    echo "generating $size_mib MiB of random bytes ..." >&2
    head -c $((size_mib << 20)) /dev/urandom >"$work/payload.bin"
}

# HTML and the payload as an attachment, to two recipients (services that send their own mail need some).
make_message() {
    echo "writing the message carrying them ..." >&2
    python3 - "$work/payload.bin" "$work/message.eml" <<'PY'
import base64, sys
with open(sys.argv[1], "rb") as data, open(sys.argv[2], "wb") as out:
    out.write(b"From: Bench <bench@example.org>\r\nTo: Ada <ada@example.com>, bob@example.com\r\n"
              b"Subject: payload\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b0\"\r\n\r\n"
              b"--b0\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n"
              b"<html><body><p>The file.</p></body></html>\r\n"
              b"--b0\r\nContent-Type: application/octet-stream; name=\"payload.bin\"\r\n"
              b"Content-Disposition: attachment; filename=\"payload.bin\"\r\n"
              b"Content-Transfer-Encoding: base64\r\n\r\n")
    while chunk := data.read(57 * 16384):
        out.write(base64.encodebytes(chunk).replace(b"\n", b"\r\n"))
    out.write(b"--b0--\r\n")
PY
}

private_home() {
    export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config
    export XDG_CACHE_HOME=$work/home/.cache XDG_RUNTIME_DIR=$work/run QUILLMOOR_CONFIG_DIR=$work/config
    export TMPDIR=$work/tmp
    unset GNOME_KEYRING_CONTROL SSH_AUTH_SOCK DISPLAY WAYLAND_DISPLAY BROWSER
    mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
    chmod 700 "$XDG_RUNTIME_DIR"
}

# quillmoor keeps passwords and tokens in the Secret Service: this one is found by nothing outside the run.
private_keyring() {
    need_tools dbus-daemon gnome-keyring-daemon secret-tool
    private_home
    dbus-daemon --session --fork --nopidfile --print-address=3 --print-pid=4 3>"$work/bus.address" \
        4>"$work/bus.pid"
    track_pid "$(cat "$work/bus.pid")"
    DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus.address")
    export DBUS_SESSION_BUS_ADDRESS
    # --unlock makes the login keyring with the password on standard input (an empty one would not).
    printf 'bench' | gnome-keyring-daemon --foreground --components=secrets --unlock >"$work/keyring.log" 2>&1 &
    track_pid $!
    for _ in $(seq 1 100); do
        printf x | secret-tool store --label probe service quillmoor-bench account probe 2>/dev/null && return 0
        sleep 0.1
    done
    echo "the keyring did not start: $(cat "$work/keyring.log")" >&2
    exit 1
}

link_with_password() {
    printf '%s\n' "$3" | "$bin/quillmoor" link "$1" --login "$2" --password-stdin >"$work/link.log" 2>&1 ||
        { cat "$work/link.log" >&2; exit 1; }
}

# The "browser" follows the fake's sign-in page and hands its redirect to the waiting `quillmoor link`
# through `quillmoor open-url`, as the desktop does for the schemes the program claims.
link_in_browser() {
    cat >"$work/browser.sh" <<SH
#!/bin/sh
location=\$(curl -s -o /dev/null -D - "\$1" | sed -n 's/^[Ll]ocation: *//p' | tr -d '\\r')
exec '$bin/quillmoor' open-url "\$location"
SH
    chmod 700 "$work/browser.sh"
    BROWSER=$work/browser.sh "$bin/quillmoor" link "$1" >"$work/link.log" 2>&1 </dev/null ||
        { cat "$work/link.log" >&2; exit 1; }
}

measure_send() {
    fastest_run "$runs" : "$1" "$bin/quillmoor" send --answer upload --out "$work/sent.eml" "$work/message.eml"
}

sent_contains() { grep -q "$1" "$work/sent.eml" || { echo "the message that left lacks $1" >&2; return 1; }; }

# For fakes that keep uploads as files: the upload arrived whole, and is removed for the next run.
store_holds_payload() {
    local stored
    stored=$(find "$work/store" -type f -name "$1")
    [[ $(echo "$stored" | wc -l) == 1 && -n $stored ]] && cmp -s "$work/payload.bin" "$stored" ||
        { echo "upload differs or is missing" >&2; return 1; }
    rm -f "$stored"
}

# table_head WIDTH1 WIDTH2 TITLE1 TITLE2: the head of a table whose first two columns are that wide;
# table_row COLUMN1 COLUMN2 "wall cpu rss_kib": a row of it (throughput_row for $size_mib MiB).
table_head() {
    table_widths=("$1" "$2")
    printf '| %-*s | %-*s |  wall s |    MiB/s |  CPU s | RSS MiB |\n' "$1" "$3" "$2" "$4"
    printf '|%s|%s|---------|----------|--------|---------|\n' "$(printf '%*s' $(($1 + 2)) '' | tr ' ' -)" \
        "$(printf '%*s' $(($2 + 2)) '' | tr ' ' -)"
}
table_row() { throughput_row "${table_widths[0]}" "${table_widths[1]}" "$1" "$2" "$3" "$size_mib"; }
