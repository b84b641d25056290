#!/usr/bin/env bash
# The local demo: publishes the demo client as a game package and the next version of the launcher
# as the launcher package, serves both with nginx on loopback, points a copy of the launcher at
# them and starts the launcher, which updates itself, restarts, installs the package and starts
# the client. Everything lives in build/demo (per-user data too); the server stops when
# the launcher ends. Without a display the launcher runs headless and the script reports.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null

root=$(pwd)/build/demo
bin=$(pwd)/build/bin
rm -rf "$root"
mkdir -p "$root/game/data" "$root/game/KestrunOnlineClient_Data/Data/Settings" \
  "$root/cdn/launcher" "$root/launcher" "$root/launcherbuild" "$root/user"
version=$(sed -n 's/^project(KestrunLauncher VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
next_version="${version%.*}.$((${version##*.} + 1))"

headless=false
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  headless=true
  export QT_QPA_PLATFORM=offscreen
fi

echo "== Making the game build"
cp "$bin/kestrun-democlient" "$root/game/KestrunOnlineClient"
echo '{"GraphicsAPI": "OpenGL"}' > "$root/game/KestrunOnlineClient_Data/Data/Settings/settings.json"
head -c $((24 << 20)) /dev/urandom > "$root/game/data/world.pak"
parameters=(--parameter=--realm=demo)
# Without a person to close it, the client closes itself.
$headless && parameters+=(--parameter=--exit-after --parameter=3000)

echo "== Publishing it"
"$bin/kestrun-publish" publish --build "$root/game" --cdn "$root/cdn/live" --package-version 1 \
  --executable KestrunOnlineClient "${parameters[@]}" --assets-prefix data/ \
  --assets-version 11 --codec-rule '*.pak=lzma' >/dev/null
"$bin/kestrun-publish" configure --output "$root/cdn/launcher/qormetadata.json" \
  --package "Kestrun Online" --directory-name live --install-automatically true \
  --build "linux/x86_64=../live/package-1.json,../live/package-1-assets-11.json" >/dev/null

echo "== Publishing launcher $next_version as the launcher package (this one is $version)"
cp "$bin/launcher-next" "$root/launcherbuild/launcher"
cp "$bin"/launcher.*.qm "$root/launcherbuild/"
"$bin/kestrun-publish" publish --build "$root/launcherbuild" --cdn "$root/cdn/self" \
  --name launcher --package-version "$next_version" --executable launcher >/dev/null
"$bin/kestrun-publish" configure --output "$root/cdn/launcher/qormetadata.json" --launcher \
  --package "Kestrun Online Launcher" \
  --build "linux/x86_64=../self/launcher-$next_version.json" >/dev/null

port=18080
while (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
echo "== News for the hint banner and a CDN trace for the diagnostics"
mkdir -p "$root/cdn/news" "$root/cdn/cdn-cgi"
news=("cat1|Season one begins|#6A3D9A|#1D2331" "cat2|A new realm opens|#8C510A|#1D2331"
  "cat3|Patch notes 1.1|#2E6F73|#1D2331")
hints=""
for item in "${news[@]}"; do
  IFS='|' read -r category title from to <<<"$item"
  convert -size 290x80 "gradient:$from-$to" "$root/cdn/news/$category.png"
  hints+="${hints:+,}{\"category\": \"$category\", \"title\": \"$title\", \"richText\": \"$title\","
  hints+=" \"imageUrl\": \"http://127.0.0.1:$port/news/$category.png\","
  hints+=" \"url\": \"https://www.kestrun-online.com/news/$category\"}"
done
echo "[$hints]" >"$root/cdn/news/hints.json"
printf 'fl=12f34\nh=127.0.0.1\nip=127.0.0.1\nts=%s\nvisit_scheme=http\ncolo=LOCAL\n' \
  "$(date +%s)" >"$root/cdn/cdn-cgi/trace"
"$bin/kestrun-publish" configure --output "$root/cdn/launcher/qormetadata.json" \
  --package "Kestrun Online" --hints "http://127.0.0.1:$port/news/hints.json" >/dev/null

echo "== Serving it on http://127.0.0.1:$port/"
scripts/serve-nginx.sh "$root/cdn" "$root/nginx" "$port" &
nginx_pid=$!
trap 'kill "$nginx_pid" 2>/dev/null; wait "$nginx_pid" 2>/dev/null || true' EXIT
until (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
  if ! kill -0 "$nginx_pid" 2>/dev/null; then
    echo "nginx did not start; see $root/nginx/error.log" >&2
    exit 1
  fi
  sleep 0.1
done

cp "$bin/launcher" "$bin"/launcher.*.qm "$root/launcher/"
cat >"$root/launcher/launchersettings.ini" <<INI
[URLS]
launcherConfiguration=http://127.0.0.1:$port/launcher/qormetadata.json
cdnDiagnosticsTrace=http://127.0.0.1:$port/cdn-cgi/trace
[DIRECTORIES]
packages=packages
settingsTarget=KestrunOnlineClient_Data/Data/Settings
[FILES]
packageFile=package.json
partialPackageFile=partial-package.json
assetFile=assets.json
accountGroupFile=accountgroup.json
[TIMING]
waitNotificationTimeout=500
downloadErrorTimeout=10000
clientStartTimeout=30000
INI

export XDG_DATA_HOME="$root/user/data" XDG_CONFIG_HOME="$root/user/config" \
  XDG_CACHE_HOME="$root/user/cache"
data="$XDG_DATA_HOME/Halvern GmbH/Kestrun Online"
echo "== Starting launcher $version (it updates itself to $next_version and restarts, then installs"
echo "   the package and starts the client)"
status=0
"$root/launcher/launcher" --first-launch || status=$?
echo "== The launcher ended with status $status"
# The restarted launcher runs detached; the server has to stay until it is done.
launcher_running() {
  local exe
  for exe in /proc/[0-9]*/exe; do
    [ "$(readlink "$exe" 2>/dev/null)" = "$root/launcher/launcher" ] && return 0
  done
  return 1
}
for _ in $(seq 600); do launcher_running || break; sleep 0.2; done
if grep -q "Version:  \"$next_version\"" "$data/launcher.log" 2>/dev/null; then
  echo "The launcher updated itself to $next_version: $(ls "$root/launcher" | tr '\n' ' ')"
else
  echo "The launcher did not update itself; its log: $data/launcher.log"
fi

grep -ho 'Hint banner shows .*"' "$data/launcher.log" 2>/dev/null | tail -n 1 || true
installed="$data/packages/live"
if [ -f "$installed/package.json" ]; then
  echo "Installed into: $installed"
  ls -l "$installed"
fi
record="$installed/democlient-runs.log"
for _ in $(seq 50); do [ -s "$record" ] && break; sleep 0.1; done
if [ -s "$record" ]; then
  echo "The client was started: $(tail -n 1 "$record")"
else
  echo "The client has not been started; the launcher's log: $data/launcher.log"
  exit 1
fi
if $headless; then
  # The client was started detached; let it finish before the server goes.
  sleep 3.5
fi
