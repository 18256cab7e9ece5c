#!/usr/bin/env bash
# Runs scripts/run-benchmarks --quick over a folder holding one stand-in
# benchmark that passes and one that behaves as the row says, and checks the
# verdict; a failure must name the benchmark that failed.
set -euo pipefail
root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# A stand-in writes its JSON results where --benchmark_out says, as Google
# Benchmark does; RESULT is what it writes, STATUS its exit status.
stand_in() { # file result status
  cat >"$1" <<SCRIPT
#!/bin/sh
for argument; do
  case "\$argument" in --benchmark_out=*) out="\${argument#--benchmark_out=}" ;; esac
done
[ "\${CORVANE_BENCH_QUICK-}" = 1 ] || { echo "not quick"; exit 3; }
case "$2" in
  ok) printf '{"benchmarks": [{"run_name": "BM_A", "real_time": 1}]}\n' >"\$out" ;;
  error) printf '{"benchmarks": [{"run_name": "BM_A", "error_occurred": true, "error_message": "no tree"}]}\n' >"\$out" ;;
  empty) printf '{"benchmarks": []}\n' >"\$out" ;;
  none) ;;
  abort) kill -ABRT \$\$ ;;
esac
exit $3
SCRIPT
  chmod +x "$1"
}

failures=0
# verdict  result of the second benchmark  its exit status
rows=(
  "passed ok 0"
  "refused error 0"
  "refused empty 0"
  "refused none 0"
  "refused ok 1"
  "refused abort 0"
)
for row in "${rows[@]}"; do
  read -r verdict result status <<<"$row"
  folder="$work/$result-$status"
  mkdir "$folder"
  stand_in "$folder/bench_first" ok 0
  stand_in "$folder/bench_second" "$result" "$status"
  if out="$("$root/scripts/run-benchmarks" --quick "$folder" 2>&1)"; then got=passed; else got=refused; fi
  if [ "$got" != "$verdict" ]; then
    echo "FAIL: a benchmark ending with $result and status $status was $got, expected $verdict"
    echo "$out"
    failures=$((failures + 1))
  elif [ "$got" = refused ] && [[ "$out" != *"FAILED: bench_second"* || "$out" == *"FAILED: bench_first"* ]]; then
    echo "FAIL: the refusal of $result with status $status does not name only bench_second:"
    echo "$out"
    failures=$((failures + 1))
  fi
done

# A folder without benchmarks is no passed run.
mkdir "$work/nothing"
if "$root/scripts/run-benchmarks" --quick "$work/nothing" >/dev/null 2>&1; then
  echo "FAIL: a folder without benchmarks passed"
  failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] || { echo "$failures checks failed"; exit 1; }
echo "${#rows[@]} rows judged as expected"
