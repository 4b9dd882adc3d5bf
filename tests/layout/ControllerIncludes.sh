#!/usr/bin/env bash
# The controller's folders are layers, each including only itself and those below it:
#   core <- gui <- controls <- dialogs <- pages <- views <- app (<- main.cpp)
# The build already refuses an upward include in a source file; this also catches one in a
# header that no source of its own layer includes, and any include cycle between the
# controller's classes (a class being its header and its source together), which would
# make them one piece that cannot be read or tested apart.
# Fails listing each upward include and the classes of a cycle.
set -euo pipefail
root=${1:?usage: ControllerIncludes.sh SOURCE_ROOT}
cd "$root/Vollmark"
layers=(core gui controls dialogs pages views app)

rank_of() {
    local i
    for i in "${!layers[@]}"; do
        [[ ${layers[$i]} == "$1" ]] && { echo "$i"; return; }
    done
    echo none
}

status=0
edges=$(mktemp)
trap 'rm -f "$edges"' EXIT
for file in main.cpp $(find "${layers[@]}" -name '*.h' -o -name '*.cpp' | sort); do
    folder=${file%%/*}
    if [[ $file == main.cpp ]]; then rank=${#layers[@]}; else rank=$(rank_of "$folder"); fi
    unit=${file%.*}
    while IFS= read -r included; do
        if [[ $included == */../* || $included == ../* ]]; then
            echo "$file: reaches past the layers with \"$included\"" >&2
            status=1
            continue
        fi
        target=$(rank_of "${included%%/*}")
        [[ $target == none ]] && continue  # common/, platform/ and the libraries below all layers
        if ((target > rank)); then
            echo "$file: includes \"$included\" from a layer above its own" >&2
            status=1
        fi
        [[ ${included%.*} != "$unit" ]] && echo "$unit ${included%.*}" >>"$edges"
    done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$file")
done

# tsort refuses a graph with a loop and names the classes on it.
if ! loops=$(sort -u "$edges" | tsort 2>&1 >/dev/null); then
    echo "include cycle between controller classes:" >&2
    echo "$loops" >&2
    status=1
fi
exit $status
