#!/usr/bin/env bash
# The folders of src/launcher as rooms and their #include lines as arrows: the install road
# (configuration, installation, download, package, filesystem) never reaches up to the
# self-update, the start-up or the window, and no folders form a cycle. The one process-wide
# application pointer is the exception: the installation manager sends funnel events through it
# and the window starts the client through it.
set -euo pipefail
launcher=${1:?usage: includearrows.sh <src/launcher>}
cd "$launcher"

pointer='startup/launcherapplication.h'
pointer_users=(installation/installationmanager.cpp ui/launchermainwindow.cpp)
road='configuration|installation|download|package|filesystem'
above='selfupdate|startup|ui'

# "from-folder to-folder file" for every include of another launcher folder.
arrows=$(grep -rHo --include='*.cpp' --include='*.h' '^#include "launcher/[a-z]*/[^"]*"' . |
  sed -E 's|^\./([a-z]+)/([^:]+):#include "launcher/(([a-z]+)/[^"]*)"|\1 \4 \1/\2 \3|' |
  awk '$1 != $2')

allowed() { # file header
  [ "$2" = "$pointer" ] || return 1
  local user
  for user in "${pointer_users[@]}"; do [ "$1" = "$user" ] && return 0; done
  return 1
}

status=0
edges=""
while read -r from to file header; do
  [ -n "$from" ] || continue
  if allowed "$file" "$header"; then continue; fi
  if [[ $from =~ ^($road)$ && $to =~ ^($above)$ ]]; then
    echo "FAIL: the install road reaches up: $file includes launcher/$header"
    status=1
  fi
  edges+="$from $to"$'\n'
done <<<"$arrows"

# tsort names the folders of every cycle it meets on its standard error.
if ! loops=$(printf '%s' "$edges" | sort -u | tsort 2>&1 >/dev/null) || [ -n "$loops" ]; then
  echo "FAIL: folders of src/launcher include each other:"
  echo "$loops"
  status=1
fi
[ $status -eq 0 ] && echo "include arrows: $(printf '%s' "$edges" | sort -u | wc -l) folder arrows, no cycle"
exit $status
