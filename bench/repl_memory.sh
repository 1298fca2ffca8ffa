#!/bin/bash
# Peak resident memory of the REPL fed 10,000 and 1,000,000 piped lines.
# Nothing carries over between lines, so the two peaks should differ by
# little more than noise.
#   bench/repl_memory.sh [path/to/velmorine]
set -euo pipefail
exe="${1:-build/gcc/velmorine}"
[ -x "$exe" ] || { echo "no executable at $exe (pass its path)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (apt-get install time)" >&2; exit 2; }

lines() {  # count: a mix of displayed expressions, statements and errors
  /usr/bin/python3 -c '
import sys
mix = [b"display 1 plus 2\n", b"\"abc\" plus 42\n", b"store x = 5\n", b"display\n", b"7 into 6\n"]
n = int(sys.argv[1])
out = sys.stdout.buffer
block = b"".join(mix) * 2000
whole, rest = divmod(n, 10000)
for _ in range(whole):
    out.write(block)
for i in range(rest):
    out.write(mix[i % len(mix)])
' "$1"
}

for count in 10000 1000000; do
  peak=$( { lines "$count" | /usr/bin/time -f %M "$exe" repl >/dev/null; } 2>&1 | tail -n 1)
  printf '%9d lines: peak RSS %s KiB\n' "$count" "$peak"
done
