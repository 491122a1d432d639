#!/bin/bash
# Fails when a file under src/ includes a header of its own layer's other
# folders or of a higher layer. Arguments: the src folder, then the layers from
# the lowest up, each a comma-separated list of folders.
set -uo pipefail
src=$1
shift
declare -A layer
level=0
for members in "$@"; do
    for folder in ${members//,/ }; do
        layer[$folder]=$level
    done
    level=$((level + 1))
done

bad=0
while IFS= read -r file; do
    rel=${file#"$src"/}
    own=${rel%%/*}
    if [ -z "${layer[$own]+set}" ]; then
        echo "$rel: folder $own has no layer"
        bad=1
        continue
    fi
    while IFS= read -r target; do
        folder=${target%%/*}
        if [ -z "${layer[$folder]+set}" ]; then
            echo "$rel: includes $target, of a folder that has no layer"
            bad=1
        elif [ "$folder" != "$own" ] && [ "${layer[$folder]}" -ge "${layer[$own]}" ]; then
            echo "$rel: includes $target, of a layer not below its own"
            bad=1
        fi
    done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+\/[^"]+)".*/\1/p' "$file")
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.rc' \))

[ "$bad" -eq 0 ] && echo "every include points down"
exit "$bad"
