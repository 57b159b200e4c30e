#!/usr/bin/env bash
# Runs fuzz target $1 for $3 seconds from a copy of its seed corpus $2, which so stays as it is.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work" "$work.log"' EXIT
cp -r "$2"/. "$work/"
"$1" -max_total_time="$3" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$work/crash-" "$work" \
  2>"$work.log" || { tail -n 40 "$work.log"; exit 1; }
