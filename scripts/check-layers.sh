#!/usr/bin/env bash
# Checks the source folders' includes against the layers, bottom to top: a file under src/F may
# include headers of its own folder and of folders of lower layers only (sibling folders of one
# layer, such as panes and web, not each other). Prints each include that breaks this; exit 1 then.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
declare -A rank=([base]=0 [settings]=1 [resources]=1 [lyrics]=2 [service]=3 [window]=4 [panes]=5 [web]=5
                 [main_window]=6 [plugin]=7 [dll]=8)
status=0
for dir in "$root"/src/*/; do
  folder=$(basename "$dir")
  if [ -z "${rank[$folder]:-}" ]; then echo "src/$folder: a folder with no layer"; status=1; continue; fi
  while IFS=: read -r file line include; do
    target=${include#*\"}; target=${target%%/*}
    [ "$target" = "$folder" ] && continue
    if [ -z "${rank[$target]:-}" ] || [ "${rank[$target]}" -ge "${rank[$folder]}" ]; then
      echo "${file#$root/}:$line includes $target/ (layer of $folder may not)"
      status=1
    fi
  done < <(grep -rn --include='*.h' --include='*.cpp' --include='*.rc' -E '^#include "[a-z_]+/' "$dir" |
           sed -E 's/^([^:]+):([0-9]+):#include ("[^"]+").*/\1:\2:\3/')
done
# A forward declaration reaches a class without its header: a folder may not declare a class that
# only a folder of its own or a higher layer (not itself) defines, e.g. "class CSonavire;" in
# src/settings.
declare -A home=()
while IFS=: read -r file name; do
  folder=${file#"$root"/src/}; folder=${folder%%/*}
  home[$name]="${home[$name]:-} $folder"
done < <(grep -rhoE --include='*.h' --include='*.cpp' -H '^[[:space:]]*(class|struct) [A-Za-z_][A-Za-z0-9_]*( final)?[[:space:]]*[:{]' \
           "$root"/src | sed -E 's/^([^:]+):[[:space:]]*(class|struct) ([A-Za-z_][A-Za-z0-9_]*).*/\1:\3/')
for dir in "$root"/src/*/; do
  folder=$(basename "$dir")
  [ -z "${rank[$folder]:-}" ] && continue
  while IFS=: read -r file line name; do
    owners=${home[$name]:-}
    [ -z "$owners" ] && continue
    below=0; above=""
    for owner in $owners; do
      if [ "$owner" = "$folder" ] || [ "${rank[$owner]:-99}" -lt "${rank[$folder]}" ]; then below=1; else above=$owner; fi
    done
    if [ $below -eq 0 ]; then
      echo "${file#$root/}:$line declares $name of $above/ (layer of $folder may not)"
      status=1
    fi
  done < <(grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*(class|struct) [A-Za-z_][A-Za-z0-9_]*[[:space:]]*;' "$dir" |
           sed -E 's/^([^:]+):([0-9]+):[[:space:]]*(class|struct) ([A-Za-z_][A-Za-z0-9_]*).*/\1:\2:\4/')
done
[ $status -eq 0 ] && echo "layers: every include goes downward, no class of a higher layer is declared"
exit $status
