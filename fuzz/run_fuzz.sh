#!/usr/bin/env bash
# Runs a fuzz target (1) for some seconds (3) from a copy of its seed corpus (2), which so stays as
# it is. Fails on the first broken invariant or sanitizer report.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work" "$work.log"' EXIT
cp -r "$2"/. "$work/"
"$1" -max_total_time="$3" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$work/crash-" "$work" \
  2>"$work.log" || { tail -n 40 "$work.log"; exit 1; }
grep -E '^(#[0-9]+ +DONE|Done)' "$work.log" | tail -n 1 || true
