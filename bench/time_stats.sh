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
