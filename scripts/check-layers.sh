#!/usr/bin/env bash
# Fails when a lower layer includes a higher one. The product's layers, each
# depending only on those before it: kellib, os (with os/win32), ui, loader;
# include/ (the host's C header) depends on none of them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

layers=(kellib os ui loader)
rank() {
  local i
  for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }; done
  echo -1
}

failed=0
for layer in include "${layers[@]}"; do
  own=$(rank "$layer")
  while IFS=: read -r file line text; do
    used=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$text")
    [ "$(rank "$used")" -eq -1 ] && continue
    if [ "$layer" = include ] || [ "$(rank "$used")" -gt "$own" ]; then
      echo "check-layers: $file:$line: $layer must not include $used: $text" >&2
      failed=1
    fi
  done < <(git grep -n -E '^#include "[a-z_]+/' -- "$layer" || true)
done
[ "$failed" -eq 0 ] && echo "layers checked: ${layers[*]}, each including only those before it"
exit "$failed"
