#!/usr/bin/env bash
# Runs an engine test binary against svcsim started as a separate process,
# reached through ZQ_TEST_CIMOM_URL the way a real provider is.
#   against_svcsim.sh <svcsim> <test binary> [gtest args]
set -euo pipefail
svcsim=$1
tests=$2
shift 2

work=$(mktemp -d)
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$svcsim" --https-port 0 --volumes 3 --time-scale 0.01 >"$work/ports" 2>"$work/log" &
pid=$!

port=""
for _ in $(seq 1 100); do
  # the background shell may not have made the file yet
  port=$(sed -n 's/.*https=\([0-9][0-9]*\).*/\1/p' "$work/ports" 2>/dev/null || true)
  [ -n "$port" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "svcsim did not start:" >&2
  cat "$work/log" >&2
  exit 1
fi

ZQ_TEST_CIMOM_URL="https://127.0.0.1:$port/root/ibm" \
ZQ_TEST_CIMOM_USER=admin ZQ_TEST_CIMOM_PASSWORD=admin ZQ_TEST_ALLOW_WRITES=1 \
ZQ_TIME_SCALE=0.01 "$tests" "$@"
