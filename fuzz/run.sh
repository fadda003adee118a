#!/usr/bin/env bash
# Builds the libFuzzer targets (a native clang build of its own) and runs each of them for
# the given number of seconds (default 20), two at a time. The committed seeds in
# fuzz/corpus/<target> are only read: new inputs go to a temporary folder. The reproducers in
# fuzz/regressions/<target> are replayed first. Exits non-zero when any target finds a crash,
# a leak, a time-out, an oversized allocation or a failed check; the finding is kept under
# the printed path.
#   QUORVEL_FUZZ_BUILD  build folder (default build/fuzz)
#   QUORVEL_FUZZ_ONLY   space-separated target names to run (default all)
#   QUORVEL_FUZZ_JOBS   targets running at the same time (default 2)
#   QUORVEL_FUZZ_KEEP   folder to keep the new inputs and findings in (default: a temp folder,
#                       removed when nothing was found)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
build=${QUORVEL_FUZZ_BUILD:-$root/build/fuzz}
targets=${QUORVEL_FUZZ_ONLY:-count_record box_link port_flags upload_batch server_reply legacy_database status_log}
jobs=${QUORVEL_FUZZ_JOBS:-2}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DQUORVEL_FUZZ=ON \
  -DQUORVEL_SANITIZE=OFF >/dev/null || exit 2
cmake --build "$build" --target fuzz_targets -j2 >/dev/null || {
  echo "run.sh: the fuzz build failed; run: cmake --build $build --target fuzz_targets" >&2
  exit 2
}

work=${QUORVEL_FUZZ_KEEP:-$(mktemp -d "${TMPDIR:-/tmp}/quorvel-fuzz.XXXXXX")}
# The targets' own temporary files go to memory when the machine has it, into a folder
# removed at the end whatever happens (a target that stops on a finding leaves its files).
scratch_parent=$work
[[ -d /dev/shm && -w /dev/shm ]] && scratch_parent=/dev/shm
TMPDIR=$(mktemp -d "$scratch_parent/quorvel-fuzz-scratch.XXXXXX") || exit 2
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# No parser needs more than a few megabytes; a bigger allocation is a finding in itself.
limits=(-timeout=10 -malloc_limit_mb=64 -rss_limit_mb=1024)

# Runs one target; its verdict goes to $work/<target>/result, its status is the exit status.
run_target() {
  local target=$1 exe=$build/fuzz/fuzz_$1 dir=$work/$1
  local regressions=$root/fuzz/regressions/$1
  mkdir -p "$dir/new" "$dir/findings"
  if [[ -d $regressions ]] && compgen -G "$regressions/*" >/dev/null; then
    if ! "$exe" "${limits[@]}" "$regressions"/* >"$dir/regressions.txt" 2>&1; then
      { echo "FAIL $target: a reproducer in fuzz/regressions/$target fails again"
        grep -m1 -A1 -E "check failed|ERROR: |runtime error" "$dir/regressions.txt"
        echo "     (log $dir/regressions.txt)"; } >"$dir/result"
      return 1
    fi
  fi
  "$exe" "$dir/new" "$root/fuzz/corpus/$target" -max_total_time="$seconds" "${limits[@]}" \
    -print_final_stats=1 -artifact_prefix="$dir/findings/" >"$dir/log.txt" 2>&1
  local status=$? execs found
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log.txt")
  found=$(ls "$dir/findings" | wc -l)
  if ((status != 0 || found != 0)); then
    { echo "FAIL $target: exit $status, findings in $dir/findings (log $dir/log.txt)"
      grep -m1 -A1 -E "check failed|ERROR: |runtime error" "$dir/log.txt"; } >"$dir/result"
    return 1
  fi
  echo "ok   $target: ${seconds}s, ${execs:-?} execs, $(ls "$dir/new" | wc -l) new inputs" \
    >"$dir/result"
}

failed=0
running=0
for target in $targets; do
  run_target "$target" &
  if ((++running >= jobs)); then
    wait -n || failed=1
    ((running--))
  fi
done
while ((running > 0)); do
  wait -n || failed=1
  ((running--))
done
for target in $targets; do cat "$work/$target/result"; done

if ((failed == 0)) && [[ -z ${QUORVEL_FUZZ_KEEP:-} ]]; then
  rm -rf "$work"
fi
exit $failed
