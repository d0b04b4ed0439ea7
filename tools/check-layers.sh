#!/usr/bin/env bash
# Checks that the library's layers run one way: a file in src/ may include
# headers of its own layer or of a lower one, never of a higher one.
#
#   runtime → addrspace → security → history → com → ua → module → api
#
# (ua: the OPC UA endpoint; module: src/module.* and src/dllmain.cpp; api:
# the exports, src/api.) The proxy/stub DLL in
# src/proxystub is a program of its own and may include only itself.
# Exit status 1 and one line per offending include when the rule is broken.
set -euo pipefail

src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/src"
layers=(runtime addrspace security history com ua module api)

rank_of() {
    local i
    for i in "${!layers[@]}"; do
        if [[ ${layers[$i]} == "$1" ]]; then
            echo "$i"
            return
        fi
    done
    echo -1
}

# The layer of a path relative to src/ (a file in src/ itself is the module).
layer_of() {
    case "$1" in
        */*) echo "${1%%/*}" ;;
        *) echo module ;;
    esac
}

status=0
while IFS= read -r -d '' file; do
    rel="${file#"$src"/}"
    from="$(layer_of "$rel")"
    while IFS= read -r line; do
        inc="${line#*\"}"
        inc="${inc%%\"*}"
        # Only headers of the library itself are ranked: "layer/name.h", or a
        # name in src/ itself.
        if [[ $inc == */* ]]; then
            to="${inc%%/*}"
        elif [[ -f "$src/$inc" ]]; then
            to=module
        else
            continue
        fi
        if [[ $from == proxystub ]]; then
            if [[ $to != proxystub && $(rank_of "$to") -ge 0 ]]; then
                echo "src/$rel: the proxy/stub DLL includes the library's \"$inc\""
                status=1
            fi
            continue
        fi
        from_rank="$(rank_of "$from")"
        to_rank="$(rank_of "$to")"
        if ((from_rank < 0 || to_rank < 0)); then
            if [[ $to == proxystub ]]; then
                echo "src/$rel: includes the proxy/stub DLL's \"$inc\""
                status=1
            fi
            continue
        fi
        if ((to_rank > from_rank)); then
            echo "src/$rel: layer $from includes \"$inc\" of the higher layer $to"
            status=1
        fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) -print0)

if ((status == 0)); then
    echo "check-layers: every include in src/ runs down the layers (${layers[*]})"
fi
exit "$status"
