# Shared by the benchmark scripts (sourced, not run).

# Reads a `/usr/bin/time -v` report; prints "wall_seconds cpu_seconds peak_rss_kib".
time_stats() {
    awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i] }
                /User time|System time/ { cpu += $2 }
                /Maximum resident set size/ { rss = $2 }
                END { printf "%.2f %.2f %d\n", s, cpu, rss }' "$1"
}

# Whether the stats line $1 is faster (wall time) than $2; an empty $2 always loses.
faster_than() {
    [[ -z $2 ]] || [[ $(echo "$1 $2" | awk '{print ($1 < $4)}') == 1 ]]
}

# fastest_run RUNS SETUP CHECK COMMAND...: runs COMMAND RUNS times under /usr/bin/time -v and prints the
# fastest run's "wall_seconds cpu_seconds peak_rss_kib". SETUP runs before each run; CHECK after it, with
# the files holding the command's standard output and error, and a CHECK that fails fails the
# measurement, so a run that did not do its work cannot look fast. ":" stands for either when not needed.
fastest_run() {
    local runs=$1 setup=$2 check=$3
    shift 3
    local dir best="" line status=0
    dir=$(mktemp -d)
    for ((i = 0; i < runs; i++)); do
        "$setup"
        if ! /usr/bin/time -v -o "$dir/time.txt" "$@" >"$dir/out.txt" 2>"$dir/err.txt"; then
            cat "$dir/err.txt" >&2
            echo "failed: $*" >&2
            status=1
            break
        fi
        "$check" "$dir/out.txt" "$dir/err.txt" || { status=1; break; }
        line=$(time_stats "$dir/time.txt")
        if faster_than "$line" "$best"; then best=$line; fi
    done
    rm -rf "$dir"
    [[ $status == 0 ]] && echo "$best"
}

# throughput_row WIDTH1 WIDTH2 COLUMN1 COLUMN2 "wall cpu rss_kib" MIB: one row of a Markdown table with
# wall time, throughput, CPU time and peak memory.
throughput_row() {
    local wall cpu rss
    read -r wall cpu rss <<<"$5"
    awk -v w1="$1" -v w2="$2" -v a="$3" -v b="$4" -v w="$wall" -v c="$cpu" -v r="$rss" -v m="$6" \
        'BEGIN { printf "| %-*s | %-*s | %7.2f | %8.0f | %6.2f | %7.1f |\n", w1, a, w2, b, w, m / w, c, r / 1024 }'
}
