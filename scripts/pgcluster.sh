#!/usr/bin/env bash
# The private PostgreSQL cluster that the tests and the demo run on. It is
# never a shared system cluster: it lives in a folder of its own, listens on
# a socket inside that folder and on loopback TCP at a port that was free
# when it started, and runs as the postgres OS user when invoked as root.
#
#   pgcluster.sh [-d DIR] create|start|stop|remove|status|env
#
#   create  initdb (locale C, encoding WIN1252) when the folder holds none
#   start   create when needed, start when stopped; prints the client settings
#   stop    stops the server (fast shutdown) when it runs
#   remove  stops it and deletes the folder
#   status  "running", "stopped" or "absent" (exit status 0, 3, 4)
#   env     prints the client settings of a running cluster
#
# The client settings are shell lines for eval:
#   eval "$(scripts/pgcluster.sh start)"
# PGHOST (the socket folder), PGPORT and PGUSER (a superuser role, trusted on
# the socket only), QV_PGCLUSTER (the folder). Over TCP every role needs its
# password. Every command may be repeated; messages go to standard error.
#
# DIR: -d, else $QV_PGCLUSTER, else $XDG_DATA_HOME/qvsystem/pgcluster
# ($XDG_DATA_HOME defaults to ~/.local/share).
set -euo pipefail

die() { echo "pgcluster: $*" >&2; exit 1; }
say() { echo "pgcluster: $*" >&2; }

dir=""
while getopts "d:" o; do
  case $o in
    d) dir=$OPTARG ;;
    *) die "usage: pgcluster.sh [-d DIR] create|start|stop|remove|status|env" ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 1 ] || die "usage: pgcluster.sh [-d DIR] create|start|stop|remove|status|env"
cmd=$1
[ -n "$dir" ] || dir=${QV_PGCLUSTER:-${XDG_DATA_HOME:-$HOME/.local/share}/qvsystem/pgcluster}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd -P)
data=$dir/data
sock=$dir/socket
superuser=postgres

# The server programs: the version the client headers come from, else the
# newest installed.
bindir=""
if command -v pg_config >/dev/null 2>&1; then
  b=$(pg_config --bindir 2>/dev/null || true)
  [ -x "$b/initdb" ] && bindir=$b
fi
if [ -z "$bindir" ]; then
  for b in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
    [ -x "$b/initdb" ] && { bindir=$b; break; }
  done
fi
[ -n "$bindir" ] || die "no PostgreSQL server found (install the postgresql package: scripts/setup.sh)"

# The server refuses to run as root: then everything runs as postgres.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

# A value for postgresql.conf, quoted.
conf_quote() { printf "'%s'" "${1//\'/\'\'}"; }

is_running() {
  [ -f "$data/PG_VERSION" ] && as_owner "$bindir/pg_ctl" -D "$data" status >/dev/null 2>&1
}

print_env() {
  local port
  port=$(cat "$dir/port")
  printf "export PGHOST=%q\n" "$sock"
  printf "export PGPORT=%q\n" "$port"
  printf "export PGUSER=%q\n" "$superuser"
  printf "export QV_PGCLUSTER=%q\n" "$dir"
}

do_create() {
  [ -f "$data/PG_VERSION" ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    getent passwd postgres >/dev/null || die "no postgres OS user (install the postgresql package)"
    runuser -u postgres -- test -x "$dir" ||
      die "the postgres user cannot reach $dir: every folder above it must be searchable by others"
    chown postgres: "$dir"
  fi
  chmod 0700 "$dir"
  rm -rf "$data" "$sock"
  as_owner mkdir -m 0700 "$sock"
  say "creating the cluster in $data"
  as_owner "$bindir/initdb" -D "$data" -U "$superuser" --locale=C --encoding=WIN1252 \
    --auth-local=trust --auth-host=scram-sha-256 >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2; die "initdb failed"; }
  # Only the owner reaches the socket, where the superuser needs no
  # password; loopback TCP asks every role for its password. A test cluster
  # needs no durability.
  as_owner tee -a "$data/postgresql.conf" >/dev/null <<EOF

# private cluster settings
listen_addresses = 'localhost'
unix_socket_directories = $(conf_quote "$sock")
unix_socket_permissions = 0700
max_connections = 200
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
  as_owner tee "$data/pg_hba.conf" >/dev/null <<EOF
local all all trust
host all all 127.0.0.1/32 scram-sha-256
host all all ::1/128 scram-sha-256
EOF
}

port_in_use() {
  command -v ss >/dev/null 2>&1 || return 1
  ss -Htln 2>/dev/null | awk '{print $4}' | grep -Eq "[:.]$1\$"
}

do_start() {
  do_create
  if is_running; then
    [ -f "$dir/port" ] || die "a server runs in $data but its port is unknown"
    return 0
  fi
  # The socket path has a length limit (107 bytes).
  local probe="$sock/.s.PGSQL.65535"
  [ ${#probe} -le 107 ] || die "the folder path is too long for a socket: $dir (use -d with a shorter one)"
  local tries=0 port
  while :; do
    tries=$((tries + 1))
    port=$((20000 + RANDOM % 40000))
    port_in_use "$port" && continue
    if as_owner "$bindir/pg_ctl" -D "$data" -l "$dir/server.log" -w -t 60 -s \
         -o "-p $port" start >/dev/null 2>&1; then
      break
    fi
    [ $tries -lt 8 ] || { tail -n 20 "$dir/server.log" >&2 || true; die "the server did not start"; }
    say "port $port refused, trying another"
  done
  echo "$port" >"$dir/port"
  say "running on port $port, socket in $sock"
}

do_stop() {
  if is_running; then
    as_owner "$bindir/pg_ctl" -D "$data" -w -t 60 -s -m fast stop >/dev/null ||
      as_owner "$bindir/pg_ctl" -D "$data" -w -t 30 -s -m immediate stop >/dev/null || true
    is_running && die "the server in $data did not stop"
    say "stopped"
  fi
  return 0
}

case $cmd in
  create) do_create ;;
  start) do_start; print_env ;;
  stop) do_stop ;;
  remove) do_stop; rm -rf "$dir"; say "removed $dir" ;;
  status)
    if is_running; then echo "running on port $(cat "$dir/port" 2>/dev/null || echo '?')"
    elif [ -f "$data/PG_VERSION" ]; then echo "stopped"; exit 3
    else echo "absent"; exit 4
    fi ;;
  env) is_running || die "not running (pgcluster.sh start)"; print_env ;;
  *) die "unknown command $cmd" ;;
esac
