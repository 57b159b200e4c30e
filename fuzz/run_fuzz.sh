#!/usr/bin/env bash
# Runs one fuzz target for a number of seconds, starting from a copy of its seed corpus so the
# checked-in corpus stays as it is. Fails on the first broken invariant or sanitizer report.
set -euo pipefail
target=$1 seeds=$2 seconds=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$seeds"/. "$work/"
"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$work/crash-" "$work" 2>"$work.log" || {
  tail -n 40 "$work.log"; rm -f "$work.log"; exit 1; }
grep -E '^(#[0-9]+ +DONE|Done)' "$work.log" | tail -n 1 || true
rm -f "$work.log"
