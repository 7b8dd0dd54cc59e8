#!/bin/sh
# A receiver on the desk: builds a demo receiver in a directory of its own
# and serves its web interface with lighttpd on the loopback address.
#
# usage: demo/run.sh [options]            serve until Ctrl-C (or SIGTERM)
#        demo/run.sh --background [opts]  start, print the URL, return
#        demo/run.sh --stop [--dir DIR]   stop a demo started with --background
# options:
#   --dir DIR          where the demo receiver lives (default build/demo;
#                      it is rebuilt on every start)
#   --request BIN      the request program (default build/request)
#   --vux2mpeg BIN     the converter (default build/vux2mpeg, when built)
#   --port N           port on 127.0.0.1 (default: a free one)
#   --auth USER:PASS   protect /cgi-bin/request with digest authentication
#
# In the directory: chan.db and epg.db (scripts/mkdb.py --demo), video/ and
# audio/ recordings, bin/ with the stand-ins for the receiver's programs,
# dev/ with the FIFOs of the main application's stand-in, www/ (the page,
# its icons, cgi-bin/), lighttpd.conf, log/ (server logs and actions.log,
# where every power action and stand-in call is written) and run/ (port,
# pids, the current channel).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build/demo
request=$root/build/request
vux2mpeg=$root/build/vux2mpeg
port=
auth=
mode=foreground

while [ $# -gt 0 ]; do
  case $1 in
    --dir) dir=$2; shift ;;
    --request) request=$2; shift ;;
    --vux2mpeg) vux2mpeg=$2; shift ;;
    --port) port=$2; shift ;;
    --auth) auth=$2; shift ;;
    --background) mode=background ;;
    --stop) mode=stop ;;
    *) sed -n '4,15p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
  shift
done
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
marker=$dir/.demo-receiver

# True while pid $1 is one this script started for $dir: its command line
# names the directory (a finished process, or a reused pid, does not).
ours() {
  { tr '\0' ' ' <"/proc/$1/cmdline"; } 2>/dev/null | grep -qF -- "$dir/"
}

# Ends the processes this script started in $dir, by their recorded pids.
stop_demo() {
  [ -f "$dir/run/pids" ] || return 0
  pids=$(cat "$dir/run/pids")
  for p in $pids; do ours "$p" && kill "$p" 2>/dev/null || :; done
  n=0
  for p in $pids; do
    while ours "$p" && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
    ours "$p" && kill -9 "$p" 2>/dev/null || :
  done
  rm -f "$dir/run/pids"
}

if [ "$mode" = stop ]; then
  stop_demo
  exit 0
fi

[ -x "$request" ] || { echo "run.sh: $request not built (make build)" >&2; exit 1; }
command -v lighttpd >/dev/null || [ -x /usr/sbin/lighttpd ] ||
  { echo "run.sh: lighttpd is missing (scripts/install-deps.sh lighttpd)" >&2; exit 1; }
PATH=$PATH:/usr/sbin
request=$(cd "$(dirname "$request")" && pwd)/$(basename "$request")

# A fresh receiver every time; only a directory this script made is emptied.
stop_demo
if [ -n "$(ls -A "$dir")" ] && [ ! -f "$marker" ]; then
  echo "run.sh: $dir is not empty and not a demo directory; not touching it" >&2
  exit 1
fi
find "$dir" -mindepth 1 -delete
touch "$marker"
mkdir -p "$dir/bin" "$dir/dev" "$dir/video" "$dir/audio" "$dir/www/cgi-bin" "$dir/log" \
  "$dir/run"

# Databases and recordings.
now=$(date +%s)
python3 "$root/scripts/mkdb.py" --demo --now "$now" --db "$dir/chan.db" --epg "$dir/epg.db"
extra=
if [ -x "$vux2mpeg" ] && [ -f "$root/scripts/mkvux.py" ] && [ -f "$root/demo/mkvuxdemo.sh" ]; then
  if sh "$root/demo/mkvuxdemo.sh" "$vux2mpeg" "$root/scripts/mkvux.py" "$dir/run/vux" \
       "$dir/video/Converted_recording.mpg" >"$dir/log/vux2mpeg.log" 2>&1; then
    extra="--extra Converted_recording.mpg:$(cat "$dir/run/vux/playtime")"
  else
    echo "note: converting the demo recording failed (see $dir/log/vux2mpeg.log)"
  fi
else
  echo "note: vux2mpeg is not built here; the demo has no converted recording"
fi
# shellcheck disable=SC2086
python3 "$root/demo/mkrecordings.py" --now "$now" --db "$dir/chan.db" --video "$dir/video" \
  --audio "$dir/audio" $extra

# Stand-ins for the receiver's programs: first on the CGI program's PATH.
for p in front_ioctl front_pwr_manager killall mount ps; do
  cp "$root/demo/standins/standin" "$dir/bin/$p"
done
cp "$root/demo/standins/standin" "$dir/www/cgi-bin/sendkey"

# The page, its icons and the CGI programs.
cp -R "$root/demo/www/." "$dir/www/"
python3 "$root/scripts/mkicons.py" "$dir/www/img"
ln -s "$request" "$dir/www/cgi-bin/request"
cp "$root/demo/cgi/demo-switch" "$dir/www/cgi-bin/demo-switch"

# The main application's stand-in answers from run/channel; the demo starts
# on the first channel.
sqlite3 "$dir/chan.db" "SELECT name FROM channelinfo ORDER BY ch_order LIMIT 1" \
  >"$dir/run/channel"
standin=$root/scripts/mivano-standin
: >"$dir/run/pids"
# Whatever ends this script before the server runs ends what it started.
trap 'stop_demo' EXIT
if [ -f "$standin" ]; then
  sh "$standin" -m -D -c "$dir/dev/commander" -w "$dir/dev/weboutput" -s "$dir/run/channel" \
    >>"$dir/log/mivano.log" 2>&1 &
  echo $! >"$dir/run/mivano.pid"
  echo $! >>"$dir/run/pids"
else
  echo "note: the main application's stand-in is not there yet; CURRVIEW will fail"
fi

# Digest authentication: the file holds user:realm:MD5(user:realm:password).
realm=receiver
if [ -n "$auth" ]; then
  user=${auth%%:*} pass=${auth#*:}
  printf '%s:%s:%s\n' "$user" "$realm" \
    "$(printf '%s:%s:%s' "$user" "$realm" "$pass" | md5sum | cut -d' ' -f1)" >"$dir/htdigest"
fi

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

write_config() {
  cat >"$dir/lighttpd.conf" <<EOF
# Generated by demo/run.sh for the demo receiver in $dir.
server.modules = ("mod_access", "mod_setenv", "mod_cgi", "mod_accesslog"$( [ -n "$auth" ] && printf ', "mod_auth", "mod_authn_file"'))
server.bind = "127.0.0.1"
server.port = $1
server.document-root = "$dir/www"
server.errorlog = "$dir/log/lighttpd-error.log"
accesslog.filename = "$dir/log/access.log"
index-file.names = ("index.html")
mimetype.assign = (
  ".html" => "text/html; charset=utf-8",
  ".css" => "text/css; charset=utf-8",
  ".js" => "text/javascript; charset=utf-8",
  ".gif" => "image/gif",
  ".png" => "image/png",
)
\$HTTP["url"] =~ "^/cgi-bin/" {
  # Only the two programs run; nothing else under cgi-bin is served.
  cgi.assign = ("/request" => "", "/demo-switch" => "")
  \$HTTP["url"] !~ "^/cgi-bin/(request|demo-switch)\$" { url.access-deny = ("") }
  setenv.add-environment = (
    "PATH_DB_DAT" => "$dir/chan.db",
    "PATH_DBEPG_DAT" => "$dir/epg.db",
    "PATH_VIDEO" => "$dir/video",
    "PATH_AUDIO" => "$dir/audio",
    "PATH_WWW" => "$dir/www",
    "PATH_COMMANDER" => "$dir/dev/commander",
    "PATH_WEBOUTPUT" => "$dir/dev/weboutput",
    "PATH" => "$dir/bin:/usr/bin:/bin",
    "DEMO_LOG" => "$dir/log/actions.log",
    "DEMO_MIVANO_PID" => "$dir/run/mivano.pid",
    "DEMO_CHANNEL_FILE" => "$dir/run/channel",
  )
}
EOF
  if [ -n "$auth" ]; then
    cat >>"$dir/lighttpd.conf" <<EOF
auth.backend = "htdigest"
auth.backend.htdigest.userfile = "$dir/htdigest"
auth.require = ("/cgi-bin/request" => (
  "method" => "digest", "realm" => "$realm", "require" => "valid-user"))
EOF
  fi
}

# Waits until something accepts connections on the port; 1 when the server
# died or nothing answered within 10 s.
wait_listening() {
  python3 - "$1" "$2" <<'EOF'
import os, socket, sys, time
port, pid = int(sys.argv[1]), int(sys.argv[2])
end = time.monotonic() + 10
while time.monotonic() < end:
    try:
        os.kill(pid, 0)
    except OSError:
        sys.exit(1)
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.05)
sys.exit(1)
EOF
}

# A free port can be taken by someone else before lighttpd binds it: retry.
tries=0
while :; do
  p=${port:-$(free_port)}
  write_config "$p"
  lighttpd -tt -f "$dir/lighttpd.conf" >/dev/null
  lighttpd -D -f "$dir/lighttpd.conf" </dev/null >>"$dir/log/lighttpd.out" 2>&1 &
  server=$!
  if wait_listening "$p" "$server"; then break; fi
  kill "$server" 2>/dev/null || :
  tries=$((tries + 1))
  if [ -n "$port" ] || [ $tries -ge 5 ]; then
    echo "run.sh: lighttpd did not start (see $dir/log/)" >&2
    stop_demo
    exit 1
  fi
done
echo "$server" >>"$dir/run/pids"
echo "$p" >"$dir/run/port"
url=http://127.0.0.1:$p/
echo "$url" >"$dir/run/url"

if [ "$mode" = background ]; then
  trap - EXIT
  echo "demo receiver: $url (stop: demo/run.sh --stop --dir $dir)"
  exit 0
fi

echo "demo receiver: $url"
echo "power actions and stand-in calls: $dir/log/actions.log; Ctrl-C stops"
trap 'stop_demo; echo; echo "demo receiver stopped"; exit 0' INT TERM HUP
wait "$server" || :
