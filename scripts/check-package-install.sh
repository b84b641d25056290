#!/usr/bin/env bash
# Installs the Debian package on this machine as a player would (apt-get install ./x.deb), runs
# the installed launcher headless through the command of its desktop entry against a demo tree
# served by nginx on loopback, checks that it installed and started the demo client without
# trying to update itself in /usr/lib, and removes the package again, checking that nothing of it is
# left. Needs root (or sudo); run scripts/package.sh first. Meant for CI machines: it changes the
# system's package set for a moment.
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
deb=$(ls build/packages/kestrun-launcher_*_amd64.deb 2>/dev/null) ||
  { echo "no package in build/packages: run scripts/package.sh" >&2; exit 1; }
if dpkg-query -W -f='${Status}' kestrun-launcher 2>/dev/null | grep -q 'install ok installed'; then
  echo "kestrun-launcher is already installed on this machine; not touching it" >&2
  exit 1
fi
cmake --build build --target kestrun-publish kestrun-democlient launcher-next >/dev/null
bin=$PWD/build/bin
id=com.halvern.KestrunLauncher
work=$(mktemp -d)
nginx_pid=""
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  $sudo rm -f /usr/lib/kestrun-launcher/launchersettings.ini
  if dpkg-query -W -f='${Status}' kestrun-launcher 2>/dev/null | grep -q 'install ok'; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq kestrun-launcher >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== Publishing the demo game and a newer launcher package"
mkdir -p "$work/game/data" "$work/game/KestrunOnlineClient_Data/Data/Settings" "$work/cdn" \
  "$work/launcherbuild" "$work/nginx/temp"
cp "$bin/kestrun-democlient" "$work/game/KestrunOnlineClient"
echo '{"GraphicsAPI": "OpenGL"}' > "$work/game/KestrunOnlineClient_Data/Data/Settings/settings.json"
head -c $((6 << 20)) /dev/urandom > "$work/game/data/world.pak"
"$bin/kestrun-publish" publish --build "$work/game" --cdn "$work/cdn/live" --package-version 1 \
  --executable KestrunOnlineClient --parameter=--exit-after --parameter=500 >/dev/null
"$bin/kestrun-publish" configure --output "$work/cdn/launcher/qormetadata.json" \
  --package "Kestrun Online" --directory-name live --install-automatically true \
  --build "linux/x86_64=../live/package-1.json" >/dev/null
# A system install must not update itself: the launcher package is there to tempt it.
cp "$bin/launcher-next" "$work/launcherbuild/launcher"
"$bin/kestrun-publish" publish --build "$work/launcherbuild" --cdn "$work/cdn/self" \
  --name launcher --package-version 99.0.0 --executable launcher >/dev/null
"$bin/kestrun-publish" configure --output "$work/cdn/launcher/qormetadata.json" --launcher \
  --package "Kestrun Online Launcher" --build "linux/x86_64=../self/launcher-99.0.0.json" >/dev/null

port=18180
while (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user root;"
cat >"$work/nginx/nginx.conf" <<CONF
$user_line
worker_processes 1;
daemon off;
error_log $work/nginx/error.log;
pid $work/nginx/nginx.pid;
events { worker_connections 64; }
http {
  access_log $work/nginx/access.log;
  client_body_temp_path $work/nginx/temp; proxy_temp_path $work/nginx/temp;
  fastcgi_temp_path $work/nginx/temp; uwsgi_temp_path $work/nginx/temp;
  scgi_temp_path $work/nginx/temp;
  default_type application/octet-stream;
  server { listen 127.0.0.1:$port; root $work/cdn; }
}
CONF
/usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
until (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do sleep 0.1; done

echo "== Installing $deb"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "./$deb" >/dev/null
for file in /usr/lib/kestrun-launcher/launcher /usr/lib/kestrun-launcher/launcher.en.qm \
  /usr/lib/kestrun-launcher/launcher.de.qm \
  "/usr/share/applications/$id.desktop" "/usr/share/metainfo/$id.metainfo.xml" \
  "/usr/share/icons/hicolor/256x256/apps/$id.png"; do
  [ -e "$file" ] || { echo "not installed: $file" >&2; exit 1; }
done

# The compiled-in settings with the demo's address, beside the installed launcher.
sed "s|^launcherConfiguration=.*|launcherConfiguration=http://127.0.0.1:$port/launcher/qormetadata.json|" \
  resources/settings/launchersettings.ini | $sudo tee /usr/lib/kestrun-launcher/launchersettings.ini >/dev/null

echo "== Running the command of the installed desktop entry, headless"
exec_line=$(sed -n 's/^Exec=//p' "/usr/share/applications/$id.desktop")
read -r -a command <<<"$exec_line"
export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config" \
  XDG_CACHE_HOME="$work/home/cache" XDG_RUNTIME_DIR="$work/home/runtime" QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
data="$XDG_DATA_HOME/Halvern GmbH/Kestrun Online"
echo "   ${command[*]} --first-launch"
status=0
timeout 300 "${command[@]}" --first-launch || status=$?
[ "$status" -eq 0 ] || { echo "the launcher ended with $status; its log:" >&2; cat "$data/launcher.log" >&2; exit 1; }
record="$data/packages/live/democlient-runs.log"
for _ in $(seq 100); do [ -s "$record" ] && break; sleep 0.1; done
[ -s "$record" ] || { echo "the client was not started; the log:" >&2; cat "$data/launcher.log" >&2; exit 1; }
echo "   the client was started: $(tail -n 1 "$record")"
grep -q 'startSelfUpdate' "$data/launcher.log" && { echo "the system install tried to update itself" >&2; exit 1; }
cmp -s build/bin/launcher-next /usr/lib/kestrun-launcher/launcher && { echo "/usr/lib was changed" >&2; exit 1; }
# The client ends itself after half a second; nginx may go once it is done.
sleep 1

echo "== Removing the package"
$sudo rm -f /usr/lib/kestrun-launcher/launchersettings.ini
DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq kestrun-launcher >"$work/purge.log" 2>&1
# A package that owned a shared folder such as /opt made dpkg warn on every purge.
if grep -i 'warning' "$work/purge.log"; then
  echo "purging the package gave a warning" >&2
  exit 1
fi
for path in /usr/lib/kestrun-launcher "/usr/share/applications/$id.desktop" \
  "/usr/share/metainfo/$id.metainfo.xml" "/usr/share/icons/hicolor/256x256/apps/$id.png" \
  /usr/share/doc/kestrun-launcher; do
  [ ! -e "$path" ] || { echo "left behind: $path" >&2; exit 1; }
done
dpkg-query -W -f='${Status}' kestrun-launcher 2>/dev/null | grep -q 'install ok installed' &&
  { echo "still registered with dpkg" >&2; exit 1; }
echo "The installed package ran the demo and was removed cleanly."
