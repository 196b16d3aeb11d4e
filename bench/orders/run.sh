#!/usr/bin/env bash
# Transfers one order of about 200 MB of PDF-like documents to the sandbox with the built
# client, then does the same work with the usual tools on the same files: `7z a -t7z -mx4
# -v150m` and one `curl -F` request per volume (with the opening and closing requests, so
# that the sandbox accepts the order). Prints both times, their ratio and both peak memories.
#
#   bench/orders/run.sh [BUILD_DIR] [SIZE_MB]
#
# BUILD_DIR is a build configured from the sandbox preset (default: build/sandbox); the
# sandbox is started on that build's production port. SIZE_MB defaults to 200.
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build/sandbox}" && pwd)
size_mb=${2:-200}
bin=$build/bin
for tool in "$bin/zentrik" "$bin/zentrik-sandbox" /usr/bin/7z /usr/bin/curl /usr/bin/time python3 sha256sum awk; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done

config=$build/generated/zentrik_config.h
base=$(sed -n 's/.*ProductionUrl = "\(.*\)";/\1/p' "$config")
port=${base##*:}
ca=$(sed -n 's/.*CaFile = "\(.*\)";/\1/p' "$config")

work=$(mktemp -d "${TMPDIR:-/tmp}/zentrik-bench-XXXXXX")
sandbox_pid=
cleanup() {
  [ -n "$sandbox_pid" ] && kill "$sandbox_pid" 2>/dev/null && wait "$sandbox_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

echo "== documents: $size_mb MB in $work/docs"
python3 - "$work/docs" "$size_mb" <<'PY'
import os, random, sys
# PDF-like: mostly compressed (incompressible) streams, with some page text between them.
out, total = sys.argv[1], int(sys.argv[2]) * 1000 * 1000
os.makedirs(out)
rng = random.Random(2026)
n, written = 0, 0
while written < total:
    n += 1
    size = min(total - written, rng.randint(2, 9) * 1000 * 1000)
    with open(os.path.join(out, "faktura_%03d.pdf" % n), "wb") as f:
        f.write(b"%PDF-1.4\n")
        done = 9
        while done < size:
            text = ("BT /F1 10 Tf 50 %d Td (Faktura c. %d, odberatel %d, castka %d,%02d Kc) Tj ET\n"
                    % (rng.randint(50, 800), rng.randint(1, 99999), rng.randint(1, 9999),
                       rng.randint(1, 99999), rng.randint(0, 99))).encode() * rng.randint(5, 40)
            stream = rng.randbytes(rng.randint(20000, 200000))
            chunk = b"obj << /Filter /FlateDecode >> stream\n" + stream + b"\nendstream\n" + text
            chunk = chunk[: size - done]
            f.write(chunk)
            done += len(chunk)
    written += size
print("%d documents, %d bytes" % (n, written))
PY

"$bin/zentrik-sandbox" --data "$work/data" --port "$port" --test-port "$((port + 1))" >"$work/sandbox.log" 2>&1 &
sandbox_pid=$!
for _ in $(seq 100); do grep -q ready "$work/sandbox.log" && break; sleep 0.1; done
grep -q ready "$work/sandbox.log" || { cat "$work/sandbox.log"; exit 1; }

order=$work/zakazka.cfg
{
  echo "jmeno=demo"; echo "heslo=demo123"; echo "standzak=STD1"; echo "poznamka=bench"
  echo "soubor=$work/docs/*.pdf"
} >"$order"

# Runs a command under /usr/bin/time; afterwards $took holds its elapsed seconds and $peak
# its peak resident set in KiB.
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@"
  read -r took peak <"$work/time.txt"
}

echo "== ours: zentrik orvel"
mkdir -p "$work/tmp"
measure "$bin/zentrik" orvel -f="$order" -t="$work/tmp" -lf="$work/logs" >"$work/ours.out" 2>&1
ours_s=$took ours_kb=$peak
cat "$work/ours.out"
grep -q "byla uzavřena pod číslem" "$work/ours.out" || { echo "the order did not go through" >&2; exit 1; }
"$bin/zentrik-sandbox" --data "$work/data" --list >"$work/inventory.txt"
ours_volumes=$(grep -c '^volume ' "$work/inventory.txt")
first_volume=$(grep -m1 '^volume ' "$work/inventory.txt" | sed 's/.* size=\([0-9]*\).*/\1/')
entries=$(grep -c '^entry ' "$work/inventory.txt")
docs=$(ls "$work/docs" | wc -l)
echo "volumes: $ours_volumes, first volume $first_volume bytes; entries: $entries of $docs documents"
[ "$entries" -eq "$docs" ] || { echo "entries missing" >&2; exit 1; }
if [ "$ours_volumes" -gt 1 ] && [ "$first_volume" -ne 157286400 ]; then
  echo "the first volume is not 157286400 bytes" >&2; exit 1
fi
# Every document arrived byte for byte.
(cd "$work/docs" && sha256sum -- *.pdf) | while read -r sum name; do
  grep -q "sha256=$sum name=$name\$" "$work/inventory.txt" || { echo "$name differs" >&2; exit 1; }
done

echo "== baseline: 7z a -t7z -mx4 -v150m, then curl -F per volume"
url="$base/commandApi/common.php"
mkdir -p "$work/base"
start=$(date +%s.%N)
measure 7z a -t7z -mx4 -v150m "$work/base/order.7z" "$work/docs/"*.pdf >/dev/null
zip_s=$took zip_kb=$peak
hash=$(curl -sS --cacert "$ca" -F krok=1 -F typvystupu=xml -F user=demo -F passwd=demo123 -F jobzak= \
  -F poznamka=bench -F standzak=STD1 -F "aplikace_info=curl" "$url" | sed -n 's/.*<hash>\(.*\)<\/hash>.*/\1/p')
[ ${#hash} -eq 40 ] || { echo "no hash from the sandbox" >&2; exit 1; }
curl_kb=0
for v in "$work/base/order.7z."*; do
  measure curl -sS --cacert "$ca" -F krok=2 -F typvystupu=xml -F "hash=$hash" -F "soubor=@$v" "$url" \
    -o "$work/answer.xml"
  grep -q '<hodnota>0</hodnota>' "$work/answer.xml" || { cat "$work/answer.xml"; exit 1; }
  [ "$peak" -gt "$curl_kb" ] && curl_kb=$peak
done
curl -sS --cacert "$ca" -F krok=3 -F typvystupu=xml -F "hash=$hash" "$url" | grep -q '<hodnota>0</hodnota>'
end=$(date +%s.%N)
base_s=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
base_volumes=$(ls "$work/base" | wc -l)

echo
echo "== result ($size_mb MB, $docs documents)"
printf "ours:     %7.1f s, peak RSS %6d KiB, %d volumes\n" "$ours_s" "$ours_kb" "$ours_volumes"
printf "baseline: %7.1f s (7z %.1f s), peak RSS 7z %d KiB, curl %d KiB, %d volumes\n" \
  "$base_s" "$zip_s" "$zip_kb" "$curl_kb" "$base_volumes"
awk -v a="$ours_s" -v b="$base_s" 'BEGIN { printf "ratio ours/baseline: %.2f\n", a / b }'
