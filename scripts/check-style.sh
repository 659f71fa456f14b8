#!/usr/bin/env bash
# Checks the layout (clang-format, .clang-format) and runs the static checks
# (clang-tidy, .clang-tidy) over the project's C++ files, and fails on any
# finding. clang-tidy needs the compile_commands.json of a build folder; the
# folder is configured first if it has none.
#   scripts/check-style.sh [BUILD_FOLDER]     (default: build)
# Prints every finding, then the number of files clang-format would change
# and the clang-tidy warnings counted by check. To fix the layout of a file:
# clang-format-14 -i FILE.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh clang-format-14 clang-tidy-14

build=${1:-build}
if [ ! -f "$build/compile_commands.json" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
# clang-tidy reads the sources as the build compiles them, generated ones
# (moc, resources) included.
cmake --build "$build" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The project's C++ files: tracked or new, never ignored (build folders are).
git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' | sort -u >"$work/files"

# --- layout ---
format_failures=0
while IFS= read -r file; do
    [ -f "$file" ] || continue
    if ! clang-format-14 --dry-run --Werror "$file" 2>>"$work/format.log"; then
        format_failures=$((format_failures + 1))
        echo "$file" >>"$work/format.files"
    fi
done <"$work/files"

# --- static checks: the sources the build compiles, headers through them ---
grep -o '"file": *"[^"]*"' "$build/compile_commands.json" | sed 's/"file": *"\(.*\)"/\1/' |
    sed "s|^$(pwd)/||" | sort -u >"$work/compiled"
comm -12 "$work/files" "$work/compiled" | grep '\.cpp$' >"$work/tidy.files" || true

# A source that passed once is not checked again while neither it, nor any
# project header, nor the checks changed: the suite runs this every time.
cache="$build/tidy-passed"
mkdir -p "$cache"
shared=$( (cat .clang-tidy; git ls-files --cached --others --exclude-standard -- '*.h' | sort | xargs cat) | sha1sum | cut -c1-40)
: >"$work/tidy.todo"
while IFS= read -r file; do
    key=$( (echo "$shared"; cat "$file") | sha1sum | cut -c1-40)
    [ -f "$cache/$key" ] || echo "$file $key" >>"$work/tidy.todo"
done <"$work/tidy.files"
check_one() {
    local file=$1 key=$2 log
    log=$(clang-tidy-14 -p "$build" --quiet "$file" 2>/dev/null) || true
    if grep -qE '^[^ ]+:[0-9]+:[0-9]+: (warning|error): ' <<<"$log"; then
        printf '%s\n' "$log"
    else
        touch "$cache/$key"
    fi
}
export -f check_one
export build cache
xargs -P "$(nproc)" -n 2 bash -c 'check_one "$0" "$1"' <"$work/tidy.todo" >"$work/tidy.log" || true
# A header's finding shows once however many sources include it.
grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error): ' "$work/tidy.log" | sort -u >"$work/tidy.findings" || true

if [ -s "$work/format.log" ]; then
    cat "$work/format.log"
fi
if [ -s "$work/tidy.findings" ]; then
    sed "s|^$(pwd)/||" "$work/tidy.findings"
fi

echo
echo "== clang-format: $format_failures of $(wc -l <"$work/files") files would change =="
if [ -s "$work/format.files" ]; then
    sed 's/^/  /' "$work/format.files"
fi
tidy_count=$(wc -l <"$work/tidy.findings")
echo "== clang-tidy: $tidy_count warnings in $(wc -l <"$work/tidy.files") sources and their headers =="
if [ "$tidy_count" -gt 0 ]; then
    sed -E 's/.*\[([^]]+)\]$/\1/' "$work/tidy.findings" | tr ',' '\n' | sort | uniq -c | sort -rn
fi

[ "$format_failures" -eq 0 ] && [ "$tidy_count" -eq 0 ]
