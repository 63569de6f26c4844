#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz") and runs each for a bounded time, starting from the
# seed corpus in fuzz/corpus/<target> (read only) and a scratch corpus under build/fuzz/runs.
# Exits non-zero when any target finds a crash, a leak, a time-out or runs out of memory; the
# input that did it is left in build/fuzz/runs/<target>/ and its log beside it.
#
#   fuzz/run.sh               45 seconds per target (about 4 minutes in all, as CI runs it)
#   fuzz/run.sh 1800          half an hour per target: the longer local run
#   fuzz/run.sh 60 server     one target only
set -euo pipefail
cd "$(dirname "$0")/.."
# Absolute paths: every target changes into a scratch directory of its own before it starts.
root=$PWD

seconds=${1:-45}
shift || true
# The targets and their longest inputs, from the one list of them.
declare -A max_len=()
all_targets=()
while read -r name len _; do
  [[ $name =~ ^[a-z] ]] || continue
  all_targets+=("$name")
  max_len[$name]=$len
done <"$root/fuzz/targets.txt"
targets=("$@")
((${#targets[@]})) || targets=("${all_targets[@]}")
for target in "${targets[@]}"; do
  [[ -n ${max_len[$target]+set} ]] || { echo "fuzz: no target '$target' in fuzz/targets.txt" >&2; exit 2; }
done

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 >/dev/null

failed=()
for target in "${targets[@]}"; do
  runs=$root/build/fuzz/runs/$target
  rm -rf "$runs"
  mkdir -p "$runs/corpus"
  log=$runs/fuzz.log
  echo "fuzz: $target for ${seconds}s"
  status=0
  "$root/build/fuzz/fuzz/${target}_fuzz" "$runs/corpus" "$root/fuzz/corpus/$target" \
    -dict="$root/fuzz/dict/$target.dict" -max_len="${max_len[$target]}" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$runs/" -print_final_stats=1 >"$log" 2>&1 || status=$?
  findings=$(find "$runs" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' \
    -o -name 'timeout-*' -o -name 'oom-*' -o -name 'slow-unit-*' \) | sort)
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done)|cov: .* ft: .*' "$log" |
    tail -3 | sed 's/^/  /' || true
  if ((status != 0)) || [[ -n $findings ]]; then
    echo "fuzz: $target FOUND A FAULT (exit $status); input(s): ${findings:-none}; log: $log"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -5 | sed 's/^/  /' || true
    failed+=("$target")
  fi
done

if ((${#failed[@]})); then
  echo "fuzz: findings in ${failed[*]}"
  exit 1
fi
echo "fuzz: no findings in ${targets[*]}"
