#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and UndefinedBehaviorSanitizer) and runs
# each named one, or all of them, one after another for the given time.
#
#   scripts/fuzz.sh [-t SECONDS] [-j JOBS] [FUZZER...]     e.g. scripts/fuzz.sh -t 300 html_dom_fuzzer
#
# The corpus grows in build-fuzz/corpus/NAME between runs, seeded from fuzz/seeds/NAME and fuzz/regressions/NAME.
# Every input that fails a check (a crash, an abort of the fuzzer's own check, a timeout or running out of
# memory) is copied to fuzz/regressions/NAME/, where the test NAME_replay of the normal suite runs it through
# the same check: commit it with the mend. Exits 1 when a run found something.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=300
jobs=2
while getopts "t:j:h" option; do
  case $option in
    t) seconds=$OPTARG ;;
    j) jobs=$OPTARG ;;
    *) sed -n '2,11p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

# Fuzzing is not part of the suite, so its tools are not in install-deps.sh; installed the same way here.
packages=(clang libclang-rt-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

all=$(sed -n 's/^  \([a-z_]*_fuzzer\) .*/\1/p' fuzz/CMakeLists.txt)
fuzzers=("$@")
[ ${#fuzzers[@]} -gt 0 ] || read -r -a fuzzers <<< "$(echo $all)"
for name in "${fuzzers[@]}"; do
  grep -qx "$name" <<< "$all" || { echo "fuzz.sh: no fuzzer $name (there are: $(echo $all))" >&2; exit 2; }
done

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMOOR_BUILD_FUZZERS=ON \
  -DQUILLMOOR_SANITIZE=ON -DQUILLMOOR_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j"$jobs" --target "${fuzzers[@]}"

dictionary_of() {
  case $1 in
    html_*) echo fuzz/dictionaries/html.dict ;;
    json_*) echo fuzz/dictionaries/json.dict ;;
    xml_*) echo fuzz/dictionaries/xml.dict ;;
  esac
}

found=0
summary=()
for name in "${fuzzers[@]}"; do
  corpus=$build/corpus/$name
  findings=$build/findings/$name
  mkdir -p "$corpus" "$findings"
  rm -f "$findings"/*
  seeds=()
  for dir in fuzz/seeds/$name fuzz/regressions/$name; do [ -d "$dir" ] && seeds+=("$dir"); done
  options=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=4096 -print_final_stats=1
           -artifact_prefix="$findings/")
  dictionary=$(dictionary_of "$name")
  [ -n "$dictionary" ] && options+=(-dict="$dictionary")
  # Fork mode keeps fuzzing after a failure, so one run reports every kind of failure it meets.
  options+=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
  echo "== $name: $seconds s"
  log=$build/$name.log
  "$build/bin/$name" "${options[@]}" "$corpus" "${seeds[@]}" > "$log" 2>&1 || true
  grep -E '^#[0-9]+: cov|stat::number_of_executed_units|stat::peak_rss_mb' "$log" | tail -3 || true
  count=0
  for finding in "$findings"/*; do
    [ -f "$finding" ] || continue
    mkdir -p "fuzz/regressions/$name"
    cp "$finding" "fuzz/regressions/$name/"
    echo "   finding: fuzz/regressions/$name/$(basename "$finding")"
    count=$((count + 1))
  done
  [ $count -eq 0 ] || found=1
  summary+=("$name: $count finding(s), corpus $(find "$corpus" -type f | wc -l) inputs, log $log")
done
printf '%s\n' "${summary[@]}"
exit $found
