# Shared by bench/run, bench/profile and bench/slow-clients (sourced, not run): installing
# and building what a run needs, the document folder, starting the servers from the config
# templates, and stopping them by pid on every way out.
#
# The sourcing script sets bench_dir and root_dir first. build_dir, max_connect and
# listen_queue are set here from the environment: a script that wants others sets them
# after sourcing, before calling start_tarnwick.

build_dir=${BENCH_BUILD_DIR:-$root_dir/build-bench}
max_connect=${BENCH_MAX_CONNECT:-256}
listen_queue=${BENCH_LISTEN_QUEUE:-256}
# 1: Tarnwick serves the documents from the default root's own folder (%ServerRoot%www/),
# as a root tarnwick-make-root wrote does, so that each request reads that placeholder too.
default_root=${BENCH_DEFAULT_ROOT:-0}

# A server that is not answering this long after its start has failed to start.
readonly kStartWaitSeconds=10
# A server that has not ended this long after SIGTERM is killed.
readonly kStopWaitSeconds=10

log() { printf 'bench: %s\n' "$*" >&2; }
die() { log "$*"; exit 1; }

# --- what a run needs -------------------------------------------------------------------------

install_missing()
{
    local missing=() p status
    for p in "$@"; do
        status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
        [[ "$status" == "install ok installed" ]] || missing+=("$p")
    done
    [[ ${#missing[@]} -eq 0 ]] && return 0
    local sudo=""
    [[ $(id -u) -eq 0 ]] || sudo="sudo"
    log "installing ${missing[*]}"
    $sudo apt-get update -qq
    # Where Debian starts the packages' own services (port 80), they are left alone: a run
    # uses its own instances on other ports.
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Builds the server and tarnwick-make-root in build_dir (Release) unless BENCH_NO_BUILD=1.
# Extra arguments go to cmake's configure step.
build_tarnwick()
{
    if [[ "${BENCH_NO_BUILD:-0}" != 1 ]]; then
        "$root_dir/scripts/setup"
        cmake -S "$root_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
        cmake --build "$build_dir" -j "$(nproc)" --target Tarnwick tarnwick-make-root >/dev/null
    fi
    [[ -x "$build_dir/bin/Tarnwick" && -x "$build_dir/bin/tarnwick-make-root" ]] ||
        die "no Tarnwick build in $build_dir"
    grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$build_dir/CMakeCache.txt" ||
        log "warning: $build_dir is not a Release build"
}

# --- processes, stopped by pid on every way out --------------------------------------------

declare -A pids=()
work=""

stop_server()
{
    local name=$1 pid=${pids[$1]:-}
    [[ -n "$pid" ]] || return 0
    unset "pids[$name]"
    kill -TERM "$pid" 2>/dev/null || return 0
    local waited=0
    while kill -0 "$pid" 2>/dev/null && ((waited < kStopWaitSeconds * 10)); do
        sleep 0.1
        waited=$((waited + 1))
    done
    if kill -0 "$pid" 2>/dev/null; then
        log "$name (pid $pid) did not stop; killing it"
        kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
}

cleanup()
{
    local name
    for name in "${!pids[@]}"; do
        stop_server "$name"
    done
    if [[ -n "$work" && -d "$work" ]]; then
        if [[ "${BENCH_KEEP:-0}" == 1 ]]; then
            log "kept $work"
        else
            rm -rf "$work"
        fi
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Makes the temporary folder every file of the run goes into (work).
make_work_folder()
{
    work=$(mktemp -d /tmp/tarnwick-bench.XXXXXX)
    # The document folder under it is read by nginx's workers too.
    chmod 755 "$work"
    mkdir -p "$work/results"
}

# Ports that were free a moment ago on 127.0.0.1, one per line.
free_ports()
{
    python3 - "$1" <<'EOF'
import socket, sys
held = []
for _ in range(int(sys.argv[1])):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    held.append(s)
for s in held:
    print(s.getsockname()[1])
EOF
}

wait_until_answering()
{
    local name=$1 port=$2 tries=0
    while ! curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$port/4k.txt"; do
        kill -0 "${pids[$name]}" 2>/dev/null || die "$name ended at start; see $work/$name"
        ((++tries < kStartWaitSeconds * 10)) || die "$name does not answer on port $port"
        sleep 0.1
    done
}

# fill TEMPLATE PORT DIR USER-LINE: the template with its placeholders replaced.
fill()
{
    local local_path="$work/www/"
    [[ "$default_root" == 1 ]] && local_path="%ServerRoot%www/"
    sed -e "s|@PORT@|$2|g" -e "s|@DIR@|$3|g" -e "s|@DOCROOT@|$work/www|g" -e "s|@USER@|$4|g" \
        -e "s|@LOCALPATH@|$local_path|g" \
        -e "s|@MAXCONNECT@|$max_connect|g" -e "s|@LISTENQUEUE@|$listen_queue|g" "$bench_dir/$1"
}

# start_tarnwick PORT [WRAPPER...]: the server, run under the wrapper when one is given
# (valgrind); its pid is that of the wrapper then, which passes SIGTERM on.
start_tarnwick()
{
    local port=$1 dir=$work/tarnwick
    shift
    mkdir -p "$dir"
    "$build_dir/bin/tarnwick-make-root" "$dir"
    # The default settings with the port, the document folder and limits that admit wrk's
    # connections; logging stays as the defaults have it.
    fill tarnwick.xml.in "$port" "$dir" "" >"$dir/Tarnwick.xml"
    if [[ "$default_root" == 1 ]]; then
        rm -rf "$dir/www"
        cp -r "$work/www" "$dir/www"
    fi
    TARNWICK_ROOT=$dir TARNWICK_LISTEN_ADDRESS=127.0.0.1 TARNWICK_RUNTIME_DIR=$dir/run \
        "$@" "$build_dir/bin/Tarnwick" /Service >"$dir/stdout.txt" 2>&1 &
    pids[tarnwick]=$!
    wait_until_answering tarnwick "$port"
}

start_nginx()
{
    local port=$1 dir=$work/nginx user=""
    mkdir -p "$dir"
    # Run by root, nginx would hand its workers to "nobody"; they stay with this user.
    [[ $(id -u) -eq 0 ]] && user="user $(id -un) $(id -gn);"
    fill nginx.conf.in "$port" "$dir" "$user" >"$dir/nginx.conf"
    nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" >"$dir/stdout.txt" 2>&1 &
    pids[nginx]=$!
    wait_until_answering nginx "$port"
}

start_lighttpd()
{
    local port=$1 dir=$work/lighttpd
    mkdir -p "$dir"
    fill lighttpd.conf.in "$port" "$dir" "" >"$dir/lighttpd.conf"
    lighttpd -D -f "$dir/lighttpd.conf" >"$dir/stdout.txt" 2>&1 &
    pids[lighttpd]=$!
    wait_until_answering lighttpd "$port"
}

# --- the document folder and the loads ------------------------------------------------------

# A 4 KiB file, a 1 MiB file and a folder of 200 small files, under work/www.
make_documents()
{
    local www=$work/www
    mkdir -p "$www/dir"
    python3 - "$www" <<'EOF'
import os, sys
www = sys.argv[1]
def write(path, size):
    line = b"Tarnwick benchmark document: the same bytes from every server.\n"
    data = (line * (size // len(line) + 1))[:size]
    with open(os.path.join(www, path), "wb") as f:
        f.write(data)
write("4k.txt", 4096)
write("1m.txt", 1 << 20)
for i in range(200):
    write("dir/file-%03d.txt" % i, 1000 + i)
EOF
}

url_of()
{
    case $1 in
        keepalive | close) echo "/4k.txt" ;;
        large) echo "/1m.txt" ;;
        index) echo "/dir/" ;;
        *) die "unknown load $1 (keepalive, close, large, index)" ;;
    esac
}

# Tarnwick keeps a connection only when the request asks with "Connection: keep-alive";
# wrk's HTTP/1.1 requests carry no Connection header, so every server gets the same one.
header_of()
{
    case $1 in
        close) echo "Connection: close" ;;
        *) echo "Connection: keep-alive" ;;
    esac
}

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }
