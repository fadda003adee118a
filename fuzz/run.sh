#!/usr/bin/env bash
# Builds the libFuzzer targets (a native clang build of its own) and runs each of them for
# the given number of seconds (default 20). The committed seeds in fuzz/corpus/<target> are
# only read: new inputs go to a temporary folder. The reproducers in fuzz/regressions/<target>
# are replayed first. Exits non-zero when any target finds a crash, a leak, a time-out or a
# failed check; the finding is kept under the printed artifact path.
#   QUORVEL_FUZZ_BUILD  build folder (default build/fuzz)
#   QUORVEL_FUZZ_ONLY   space-separated target names to run (default all)
#   QUORVEL_FUZZ_KEEP   folder to keep the new inputs and findings in (default: a temp folder,
#                       removed when nothing was found)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
build=${QUORVEL_FUZZ_BUILD:-$root/build/fuzz}
targets=${QUORVEL_FUZZ_ONLY:-count_record box_link port_flags upload_batch server_reply legacy_database}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DQUORVEL_FUZZ=ON \
  -DQUORVEL_SANITIZE=OFF >/dev/null || exit 2
cmake --build "$build" --target fuzz_targets -j2 >/dev/null || {
  echo "run.sh: the fuzz build failed; run: cmake --build $build --target fuzz_targets" >&2
  exit 2
}

work=${QUORVEL_FUZZ_KEEP:-$(mktemp -d "${TMPDIR:-/tmp}/quorvel-fuzz.XXXXXX")}
# The targets' own temporary files go to memory when the machine has it.
[[ -d /dev/shm && -w /dev/shm ]] && export TMPDIR=/dev/shm
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=0
for target in $targets; do
  exe=$build/fuzz/fuzz_$target
  mkdir -p "$work/$target/new" "$work/$target/findings"
  log=$work/$target/log.txt
  regressions=$root/fuzz/regressions/$target
  if [[ -d $regressions ]] && compgen -G "$regressions/*" >/dev/null; then
    if ! "$exe" "$regressions"/* >"$work/$target/regressions.txt" 2>&1; then
      echo "FAIL $target: a reproducer in fuzz/regressions/$target fails again" \
           "(see $work/$target/regressions.txt)"
      failed=1
      continue
    fi
  fi
  "$exe" "$work/$target/new" "$root/fuzz/corpus/$target" -max_total_time="$seconds" \
    -timeout=10 -malloc_limit_mb=64 -rss_limit_mb=1024 -print_final_stats=1 \
    -artifact_prefix="$work/$target/findings/" >"$log" 2>&1
  status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  found=$(ls "$work/$target/findings" | wc -l)
  if ((status != 0 || found != 0)); then
    echo "FAIL $target: exit $status, findings in $work/$target/findings (log $log)"
    grep -m3 -E "ERROR|check failed|runtime error" "$log"
    failed=1
  else
    echo "ok   $target: ${seconds}s, ${execs:-?} execs, $(ls "$work/$target/new" | wc -l) new inputs"
  fi
done

if ((failed == 0)) && [[ -z ${QUORVEL_FUZZ_KEEP:-} ]]; then
  rm -rf "$work"
fi
exit $failed
