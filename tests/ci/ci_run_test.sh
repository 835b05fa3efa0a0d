#!/usr/bin/env bash
# Runs .ci/run in a scratch tree whose scripts/check is a stub: the
# ordinary pass succeeds, the sanitizer pass prints the given lines and
# ends as a pass cut off by its time limit does (124).
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
mkdir -p "$work/.ci" "$work/scripts"
cp "$source_dir/.ci/run" "$work/.ci/run"
cat >"$work/scripts/check" <<'STUB'
#!/usr/bin/env bash
[ "${1:-}" = --sanitize ] || exit 0
printf '%s\n' "$STUB_LINES"
exit 124
STUB
chmod +x "$work/scripts/check"
run() { STUB_LINES=$1 FERROX_CI_SANITIZE_MIN=0 "$work/.ci/run" >"$work/out" 2>&1; }

# A test that failed before the time ran out fails the run.
if run $'1/2 Test #1: A.B ......***Failed    0.2 sec'; then fail "a failed test in a cut-off pass passed"; fi
grep -q "sanitizer pass FAILED" "$work/out" || fail "no verdict: $(cat "$work/out")"
# Nothing found so far: incomplete, not failed.
run $'1/2 Test #1: A.B ......   Passed    0.2 sec' || fail "a clean cut-off pass failed: $(cat "$work/out")"
grep -q "sanitizer pass INCOMPLETE" "$work/out" || fail "no verdict: $(cat "$work/out")"
echo "ok"
