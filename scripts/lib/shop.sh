# The sample shop (examples/shop) for the scripts that serve it: loading its
# data into the private server, staging a copy of the site that knows that
# server, registering Quill.so for the page host, and starting and stopping
# `quill-asp serve`. Sourced after common.sh, never run. The functions that
# talk to the server need its settings (QUILL_TEST_*, as scripts/test-server
# prints them).

QUILL_SHOP_DIR="$QUILL_REPO/examples/shop"
SHOP_SERVER_PID=
SHOP_SERVER_URL=
SHOP_SERVER_STATUS=0

# shop_load_data DB: (re)creates database DB on the private server and loads
# examples/shop/shop.sql into it, through the server's own socket.
shop_load_data() {
  local db="$1" cnf="$QUILL_TEST_SERVER_DIR/my.cnf"
  [[ "$db" =~ ^[A-Za-z0-9_]+$ ]] || quill_die "not a database name: $db"
  mariadb --defaults-file="$cnf" -e "CREATE DATABASE IF NOT EXISTS \`$db\` CHARACTER SET utf8mb4" &&
    mariadb --defaults-file="$cnf" "$db" <"$QUILL_SHOP_DIR/shop.sql"
}

# A JScript string literal of $1, for a script block: no character of it
# can end the block (%>) or the literal.
shop_js_string() {
  local s="$1"
  s="${s//\\/\\\\}"
  s="${s//\'/\\\'}"
  s="${s//$'\n'/\\n}"
  s="${s//$'\r'/\\r}"
  s="${s//%/\\x25}"
  s="${s//</\\x3c}"
  s="${s//>/\\x3e}"
  printf "'%s'" "$s"
}

# shop_stage_site DEST DB: makes DEST a fresh copy of examples/shop/site
# whose settings.inc names the running private server and database DB.
shop_stage_site() {
  local dest="$1" db="$2"
  [[ "$QUILL_TEST_PORT" =~ ^[0-9]+$ ]] || quill_die "QUILL_TEST_PORT is not a port: $QUILL_TEST_PORT"
  rm -rf "$dest"
  mkdir -p "$dest"
  cp -R "$QUILL_SHOP_DIR/site/." "$dest/"
  cat >"$dest/settings.inc" <<EOF
<%
// Written by scripts/lib/shop.sh for the private server it was started with.
var ShopSettings = {
  host: $(shop_js_string "$QUILL_TEST_HOST"),
  port: $QUILL_TEST_PORT,
  user: $(shop_js_string "$QUILL_TEST_USER"),
  password: $(shop_js_string "$QUILL_TEST_PASSWORD"),
  database: $(shop_js_string "$db")
};
%>
EOF
}

# shop_register BUILD REGISTRY: registers BUILD/lib/Quill.so in the registry
# file REGISTRY (a new one), as `quill-asp register` does anywhere else.
shop_register() {
  local build="$1" registry="$2"
  rm -f "$registry" "$registry.lock"
  mkdir -p "$(dirname "$registry")"
  OLE_REGISTRY="$registry" "$build/bin/quill-asp" register "$build/lib/Quill.so"
}

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# True while process $1 runs (a zombie, exited but not yet waited for, does
# not count).
shop_alive() {
  local state
  [ -r "/proc/$1/stat" ] || return 1
  state="$(sed -e 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)" || return 1
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

# shop_serve BUILD ROOT REGISTRY PORT LOG [--echo]: starts `quill-asp serve`
# on 127.0.0.1 (PORT 0: any free port) in the background, its messages
# going to LOG (and to standard error too with --echo). Waits until it
# listens; sets SHOP_SERVER_PID and SHOP_SERVER_URL. Answers non-zero (and
# stops it) when it does not come up within 30 seconds.
shop_serve() {
  local build="$1" root="$2" registry="$3" port="$4" log="$5" echo="${6:-}" waited=0 line
  mkdir -p "$(dirname "$log")"
  : >"$log"
  if [ "$echo" = --echo ]; then
    OLE_REGISTRY="$registry" "$build/bin/quill-asp" serve --root "$root" --bind 127.0.0.1 --port "$port" \
      2> >(tee -a "$log" >&2) </dev/null &
  else
    OLE_REGISTRY="$registry" "$build/bin/quill-asp" serve --root "$root" --bind 127.0.0.1 --port "$port" \
      2>>"$log" </dev/null &
  fi
  SHOP_SERVER_PID=$!
  SHOP_SERVER_URL=
  while [ $waited -lt 300 ]; do
    line="$(grep -m1 -o 'on http://127\.0\.0\.1:[0-9]*/' "$log" 2>/dev/null || true)"
    if [ -n "$line" ]; then
      SHOP_SERVER_URL="${line#on }"
      return 0
    fi
    if ! shop_alive "$SHOP_SERVER_PID"; then
      wait "$SHOP_SERVER_PID" 2>/dev/null || true
      quill_say "quill-asp exited at start; see $log"
      tail -n 20 "$log" >&2
      SHOP_SERVER_PID=
      return 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  quill_say "quill-asp did not start listening within 30s; see $log"
  shop_stop_server
  return 1
}

# shop_stop_server: stops the quill-asp that shop_serve started (by its pid:
# SIGTERM, a bounded wait, then SIGKILL of that pid). SHOP_SERVER_STATUS is
# then its exit status: 0 when it stopped as it should.
shop_stop_server() {
  local pid="${SHOP_SERVER_PID:-}" waited=0
  [ -n "$pid" ] || return 0
  SHOP_SERVER_PID=
  SHOP_SERVER_STATUS=0
  kill -TERM "$pid" 2>/dev/null || true
  while shop_alive "$pid"; do
    if [ $waited -ge 100 ]; then
      quill_say "quill-asp (pid $pid) ignored SIGTERM for 10s; killing it"
      kill -KILL "$pid" 2>/dev/null || true
      break
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  wait "$pid" 2>/dev/null || SHOP_SERVER_STATUS=$?
}

# The pages of the sample site that shop_smoke fetches: the status each
# answers and a text its body must hold (the shop's own data).
SHOP_SMOKE_PAGES=(
  "200|/|Ada Byron"
  "200|/default.asp|Grace Hopper"
  "200|/customer.asp?id=1|Leave at the door"
  "200|/order.asp?id=101|Leave at the door"
  "200|/order.asp?customer=1|Ada Byron"
  "404|/order.asp?id=99999|"
  "200|/search.asp?q=London|Ada Byron"
  "200|/products.asp|Pear"
  "200|/orders.json.asp?customer=1|\"customer\":\"Ada Byron\""
  "200|/shop.css|{"
  "404|/shop.inc|"
)

# shop_smoke URL: fetches every page of SHOP_SMOKE_PAGES once from the shop
# served at URL (ending in /) and checks its status and text. Says what
# failed; answers non-zero if anything did.
shop_smoke() {
  local base="${1%/}" entry status path text body code failed=0
  body="$(mktemp)"
  for entry in "${SHOP_SMOKE_PAGES[@]}"; do
    IFS='|' read -r status path text <<<"$entry"
    code="$(curl -s -o "$body" -w '%{http_code}' --max-time 30 "$base$path" || true)"
    if [ "$code" != "$status" ]; then
      quill_say "smoke: $path answered ${code:-nothing}, expected $status"
      failed=1
    elif [ -n "$text" ] && ! grep -qF -- "$text" "$body"; then
      quill_say "smoke: $path does not hold \"$text\""
      failed=1
    fi
  done
  rm -f "$body"
  [ $failed -eq 0 ] && quill_say "smoke: ${#SHOP_SMOKE_PAGES[@]} pages answered as expected"
  return $failed
}
