#!/bin/sh
# Page requests per second of `quill-asp serve` without and with the
# connection pool, on the same page in the same run: a page that connects,
# reads a few rows and renders them, as the shop's pages do. The two kinds
# of server take turns (ROUNDS each), so that what else the machine does
# meets both alike; the mean and the best rate of each are printed, with
# their ratios.
#
#   eval "$(scripts/test-server start)"; bench/pool_bench.sh [BUILD] [SECONDS] [ROUNDS]
#
# Needs wrk. The pool's size comes from QUILL_POOL_SIZE: 0 turns it off, and
# quill-asp uses 8 when the variable is not set.
set -eu
build=${1:-build}
seconds=${2:-5}
rounds=${3:-3}
: "${QUILL_TEST_USER:?no private test server: eval \"\$(scripts/test-server start)\" first}"
command -v wrk >/dev/null || { echo "pool_bench: wrk is needed" >&2; exit 2; }

work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

export OLE_REGISTRY="$work/registry"
"$build/bin/quill-asp" register "$build/lib/Quill.so" >/dev/null
mkdir "$work/site"
js_string() { printf "'%s'" "$(printf '%s' "$1" | sed "s/\\\\/\\\\\\\\/g; s/'/\\\\'/g")"; }
cat >"$work/site/page.asp" <<PAGE
<%@ Language="JScript" %><%
var q = Server.CreateObject('Harrow.Quill');
q.Connect($(js_string "${QUILL_TEST_HOST:-127.0.0.1}"), $(js_string "$QUILL_TEST_USER"), $(js_string "${QUILL_TEST_PASSWORD:-}"), ${QUILL_TEST_PORT:-3306}, $(js_string "${QUILL_TEST_DB:-quill_test}"));
q.Query('t', 'select ? as name, connection_id() as connection', ['page']);
%><%= q.ContentTable('t') %>
PAGE

port=$((20000 + $$ % 20000))
rate() {  # $1: the pool's size
  QUILL_POOL_SIZE=$1 "$build/bin/quill-asp" serve --root "$work/site" --port "$port" --threads 4 \
    >"$work/serve.log" 2>&1 &
  server_pid=$!
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    curl -fsS -o /dev/null "http://127.0.0.1:$port/page.asp" 2>/dev/null && break
    sleep 0.3
  done
  curl -sS "http://127.0.0.1:$port/page.asp" >"$work/page.out" 2>&1 || { cat "$work/serve.log" "$work/page.out" >&2; exit 1; }
  # One connection per request: on kept-alive connections every response
  # of the page host waits some 40 ms for the client's delayed ACK, which
  # would drown what is measured here.
  wrk -t2 -c4 -d"${seconds}s" -H 'Connection: close' "http://127.0.0.1:$port/page.asp" | awk '/Requests\/sec/ {print $2}'
  kill "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  server_pid=
}

best_off=0
best_on=0
sum_off=0
sum_on=0
i=0
while [ "$i" -lt "$rounds" ]; do
  off=$(rate 0)
  on=$(rate 8)
  echo "round $((i + 1)): without pool $off/s, with pool $on/s"
  best_off=$(echo "$off $best_off" | awk '{print ($1 > $2) ? $1 : $2}')
  best_on=$(echo "$on $best_on" | awk '{print ($1 > $2) ? $1 : $2}')
  sum_off=$(echo "$off $sum_off" | awk '{print $1 + $2}')
  sum_on=$(echo "$on $sum_on" | awk '{print $1 + $2}')
  i=$((i + 1))
done
echo "$sum_off $sum_on $rounds" | awk '{printf "mean: without pool %.1f/s, with pool %.1f/s, ratio %.2f\n", $1 / $3, $2 / $3, $2 / $1}'
echo "best: without pool $best_off/s, with pool $best_on/s, ratio $(echo "$best_on $best_off" | awk '{printf "%.2f", $1 / $2}')"
