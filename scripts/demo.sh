#!/usr/bin/env bash
# The main job, end to end on this machine: sets everything up, builds with the sandbox
# preset, starts the local sandbox, runs every zentrik command against it with the samples
# in examples/, prints the logs the client wrote and what the sandbox received, and stops
# the sandbox again. Everything it writes stays below build/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

./scripts/setup.sh
cmake --preset sandbox
cmake --build --preset sandbox -j2

bin=$root/build/sandbox/bin
demo=$root/build/sandbox-demo
rm -rf "$demo"
mkdir -p "$demo/logs" "$demo/results"

# --- start the sandbox and wait for its ready line -------------------------------------------
# The package the version service hands out once it offers a newer version: a list and a
# "new" client (the same build, so the upgraded installation still runs).
mkdir -p "$demo/package"
printf 'apl zentrik;zentrik\r\n' >"$demo/package/update.list"
cp "$bin/zentrik" "$demo/package/zentrik"

"$bin/zentrik-sandbox" --data "$demo/data" --package-dir "$demo/package" >"$demo/sandbox.out" 2>&1 &
sandbox_pid=$!
stop_sandbox() {
  if kill -0 "$sandbox_pid" 2>/dev/null; then
    kill -TERM "$sandbox_pid" 2>/dev/null || true
    wait "$sandbox_pid" 2>/dev/null || true
  fi
}
trap stop_sandbox EXIT

for _ in $(seq 1 300); do
  grep -q '^zentrik-sandbox ready ' "$demo/sandbox.out" && break
  if ! kill -0 "$sandbox_pid" 2>/dev/null; then
    echo "demo: the sandbox did not start:" >&2
    cat "$demo/sandbox.out" >&2
    exit 1
  fi
  sleep 0.1
done
if ! grep -q '^zentrik-sandbox ready ' "$demo/sandbox.out"; then
  echo "demo: the sandbox did not get ready in 30 s:" >&2
  cat "$demo/sandbox.out" >&2
  exit 1
fi
grep '^zentrik-sandbox ready ' "$demo/sandbox.out"

step() { printf '\n=== %s\n' "$*"; }

# --- the client's commands -------------------------------------------------------------------
# Logs and result files go below build/sandbox-demo; the order's control file (.ok/.ko) is
# written beside its configuration file and moved there afterwards.
logs=(-l="$demo/logs" -lf="$demo/results")

step "zentrik (no arguments: the help text)"
(cd "$demo" && "$bin/zentrik" </dev/null) || true

step "zentrik orvel -f=examples/order/zakazka.cfg"
"$bin/zentrik" orvel -f=examples/order/zakazka.cfg "${logs[@]}" </dev/null || true
for f in examples/order/zakazka.cfg.ok examples/order/zakazka.cfg.ko; do
  if [ -e "$f" ]; then
    echo "control file: $f"
    mv "$f" "$demo/results/"
  fi
done

step "zentrik kalvio -u=demo -p=demo123 -f=examples/shipment.xml"
"$bin/zentrik" kalvio -u=demo -p=demo123 -f=examples/shipment.xml "${logs[@]}" </dev/null || true

step "zentrik kalvio, the same shipment again (the duplicate check refuses it)"
"$bin/zentrik" kalvio -u=demo -p=demo123 -f=examples/shipment.xml "${logs[@]}" </dev/null || true

step "zentrik upgrade (the sandbox offers the client's own version: nothing to do)"
(cd "$demo" && "$bin/zentrik" upgrade -l="$demo/logs" </dev/null) || true

step "zentrik upgrade in an installation folder, the sandbox offering 1.0.6"
install=$demo/install
mkdir -p "$install"
cp "$bin/zentrik" "$bin/update" "$install/"
production=$(sed -n 's/^zentrik-sandbox ready production=\([^ ]*\) .*/\1/p' "$demo/sandbox.out")
curl -sS --cacert "$root/build/sandbox-ca/ca.pem" "$production/_sandbox/control?version=1.0.6" | head -n 2
# update runs on its own after the client has ended; wait for it to clean up its staging folder.
(cd "$install" && "$install/zentrik" upgrade </dev/null) || true
for _ in $(seq 1 300); do
  pgrep -f "^$install/update" >/dev/null || break
  sleep 0.1
done
echo "installation folder after the upgrade:"
ls -1 "$install"
curl -sS --cacert "$root/build/sandbox-ca/ca.pem" "$production/_sandbox/control?reset" | head -n 1

# --- what the client wrote and what the sandbox received -------------------------------------
shopt -s nullglob
for f in "$demo"/logs/* "$demo"/results/* "$demo"/install/logs/*; do
  [ -f "$f" ] || continue
  step "file ${f#"$root"/}"
  cat "$f"
done

step "zentrik-sandbox --data build/sandbox-demo/data --list"
"$bin/zentrik-sandbox" --data "$demo/data" --list

step "sandbox request log"
grep -v '^zentrik-sandbox ' "$demo/sandbox.out" || true
