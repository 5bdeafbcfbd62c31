#!/usr/bin/env bash
# A throwaway PostgreSQL server for the store tests, kept entirely in the folder given: its cluster in data/, its
# unix socket beside it, no TCP listener. The server refuses to run as root, so when the tests run as root (CI) it
# runs as the unprivileged user nobody.
#   pg-test-server.sh start DIR        initialise the cluster when missing, then start the server
#   pg-test-server.sh halt DIR MODE    stop it with pg_ctl's MODE (fast, immediate), keeping the cluster
#   pg-test-server.sh freeze DIR       stop every process of the server with SIGSTOP, as a server that stops answering
#   pg-test-server.sh thaw DIR         let them go on with SIGCONT
#   pg-test-server.sh stop DIR         stop it when it runs and remove the folder
# Clients connect with postgresql:///DATABASE?host=FOLDER&user=quillory (trust authentication, socket only), FOLDER
# being DIR with symbolic links resolved.
set -euo pipefail

action="${1:?action}"
dir="${2:?folder}"
bindir="$(pg_config --bindir 2>/dev/null || true)"
if [ ! -x "$bindir/pg_ctl" ]; then
    bindir="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)"
fi
if [ ! -x "$bindir/pg_ctl" ]; then
    echo "pg-test-server: PostgreSQL's server programs are not installed (run scripts/setup.sh)" >&2
    exit 1
fi

as=()
if [ "$(id -u)" -eq 0 ]; then
    as=(runuser -u nobody --)
fi

# The folder the server really uses: DIR itself, or (see start) the short folder DIR links to.
real() {
    readlink -f "$dir"
}

run_pg_ctl() {
    "${as[@]}" "$bindir/pg_ctl" -D "$(real)/data" "$@"
}

case "$action" in
start)
    if [ ! -e "$dir" ]; then
        mkdir -p "$(dirname "$dir")"
        # A unix socket's path has at most 107 bytes, and nobody must be able to walk to the folder. When the build
        # folder is too deep or closed to other users, the server lives in a short private folder under /tmp that
        # DIR links to; clients connect through the link's target.
        if [ ${#dir} -gt 80 ] || { [ ${#as[@]} -gt 0 ] && ! "${as[@]}" test -x "$(dirname "$dir")"; }; then
            ln -s "$(mktemp -d /tmp/quillory-pg-XXXXXX)" "$dir"
        else
            mkdir "$dir"
        fi
    fi
    folder="$(real)"
    if [ ${#as[@]} -gt 0 ]; then
        chown nobody:nogroup "$folder"
    fi
    if [ ! -f "$folder/data/PG_VERSION" ]; then
        "${as[@]}" "$bindir/initdb" -D "$folder/data" -U quillory --auth=trust --encoding=UTF8 --locale=C.UTF-8 \
            --no-sync >"$folder/initdb.log" 2>&1 || { cat "$folder/initdb.log" >&2; exit 1; }
    fi
    if run_pg_ctl status >/dev/null 2>&1; then
        exit 0
    fi
    # No TCP at all; the socket lives in the test folder, so parallel servers never meet.
    run_pg_ctl -l "$folder/server.log" -w -t 60 \
        -o "-c listen_addresses='' -c unix_socket_directories='$folder' -c max_connections=200" start >/dev/null ||
        { cat "$folder/server.log" >&2; exit 1; }
    ;;
halt)
    run_pg_ctl -m "${3:-fast}" -w -t 60 stop >/dev/null
    ;;
freeze)
    # Each backend leads a process group of its own, so the server is asked for its processes while it answers;
    # thaw reads the same list, since a frozen server answers nothing.
    folder="$(real)"
    { head -n 1 "$folder/data/postmaster.pid"
      "$bindir/psql" -h "$folder" -U quillory -d postgres -Atc \
          "SELECT pid FROM pg_stat_activity WHERE pid <> pg_backend_pid()"; } >"$folder/frozen.pids"
    kill -STOP $(cat "$folder/frozen.pids")
    ;;
thaw)
    kill -CONT $(cat "$(real)/frozen.pids")
    ;;
stop)
    if [ -f "$(real)/data/PG_VERSION" ] && run_pg_ctl status >/dev/null 2>&1; then
        run_pg_ctl -m fast -w -t 60 stop >/dev/null || run_pg_ctl -m immediate -w -t 60 stop >/dev/null || true
    fi
    if [ -L "$dir" ]; then
        rm -rf "$(real)"
    fi
    rm -rf "$dir"
    ;;
*)
    echo "pg-test-server: unknown action $action (expected start, halt, freeze, thaw or stop)" >&2
    exit 2
    ;;
esac
