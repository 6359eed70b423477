#!/usr/bin/env bash
# Fails when a source file of the client includes a header of a layer above
# its own, or of a sibling layer. The layers, bottom to top:
#
#   settings <- store <- service <- accounts | sync <- engine <- headless | shell
#
# (accounts and sync are siblings, as are headless and shell). A file's layer
# is the folder under client/ it lives in; an include's layer is its first
# folder ("sync/SyncState.h"), or, for a bare name ("Sonarbox.h"), the layer
# whose folder holds that file when the including file's own folder does not.
# The shell's folders (screens/, signin/ ...) belong to the shell. Tests and
# test support are left out: they wire the layers together as a program does.
#
# Usage: scripts/check-layers.sh [CLIENT_DIR]   (default: client/ of this tree)
set -euo pipefail

client=${1:-$(cd "$(dirname "$0")/.." && pwd)/client}
cd "$client"

shell_parts=$(find shell -mindepth 1 -maxdepth 1 -type d -printf '%f ' 2>/dev/null || true)

# Every quoted include of the production sources: file, line, included name.
grep -rnH --include='*.h' --include='*.cpp' -E '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' . |
    grep -vE '^\./([^:]*/)?(tests|testing|fuzz)/' |
    sed -E 's|^\./||; s|^([^:]*):([0-9]+):.*#[[:space:]]*include[[:space:]]+"([^"]+)".*|\1 \2 \3|' |
    awk -v shell_parts="$shell_parts" '
    BEGIN {
        rank["settings"] = 0; rank["store"] = 1; rank["service"] = 2
        rank["accounts"] = 3; rank["sync"] = 3; rank["engine"] = 4
        rank["headless"] = 5; rank["shell"] = 5
        n = split(shell_parts, parts, " ")
        for (i = 1; i <= n; i++) shellpart[parts[i]] = 1
        bad = 0
    }
    function layer_of(folder) {
        if (folder in rank) return folder
        if (folder in shellpart) return "shell"
        return ""
    }
    function exists(path,    line) {
        if ((getline line < path) >= 0) { close(path); return 1 }
        return 0
    }
    {
        file = $1; line = $2; name = $3
        split(file, fp, "/"); own = fp[1]
        if (!(own in rank)) next
        dir = file; sub(/\/[^\/]*$/, "", dir)
        target = ""
        if (index(name, "/") > 0) {
            split(name, np, "/")
            if (exists(dir "/" name)) target = own
            else target = layer_of(np[1])
        } else if (!exists(dir "/" name)) {
            # A bare name found only through another layer'"'"'s include root.
            for (l in rank)
                if (l != own && l != "shell" && exists(l "/" name)) target = l
        } else {
            target = own
        }
        if (target == "" || target == own) next
        if (rank[target] > rank[own]) how = "up"
        else if (rank[target] == rank[own]) how = "sideways"
        else next
        printf "%s:%s: %s -> %s (%s): \"%s\"\n", file, line, own, target, how, name
        bad = 1
    }
    END { exit bad }
    ' && exit 0

echo "check-layers: includes above point up or sideways (settings <- store <- service <-" \
    "accounts | sync <- engine <- headless | shell)" >&2
exit 1
