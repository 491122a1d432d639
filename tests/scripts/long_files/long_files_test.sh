#!/bin/bash
# Fails when a file below the given folders runs past the line limit and its
# first lines do not say why it stays whole. The rule: among the first 12
# lines, with comment markers ("//", "/*", "*", "#", "<!--") and line breaks
# read as spaces and letter case ignored, stand the words "stays whole" or
# "stays one file" (followed by the reason, which no script can judge).
# Arguments: the limit in lines, then the folders.
set -uo pipefail
limit=$1
shift

bad=0
long=0
while IFS= read -r -d '' file; do
    lines=$(wc -l < "$file")
    [ "$lines" -le "$limit" ] && continue
    long=$((long + 1))
    opening=$(head -n 12 "$file" |
        sed -E 's@^[[:space:]]*(//+|/\*+|\*+/?|#+|<!--)?[[:space:]]*@@' | tr '\n' ' ' |
        tr -s '[:space:]' ' ')
    if ! grep -qiE 'stays (whole|one file)' <<< "$opening"; then
        echo "$file: $lines lines, and its first lines do not say why it stays whole"
        bad=1
    fi
done < <(find "$@" -type f -print0 | sort -z)

[ "$bad" -eq 0 ] && echo "each of the $long files over $limit lines says why it stays whole"
exit "$bad"
