#!/usr/bin/env bash
# Checks the README's two Quick start commands on freshly made Debian 12 and Debian 13 systems.
# For each release it makes a minimal root filesystem with debootstrap, from the Debian archive
# that this machine's own apt entries name, clones the commit under test (HEAD of this
# repository; uncommitted changes are not part of it) into it, and runs ./scripts/run.sh and then
# ./scripts/test.sh there exactly as written, from the clone's root, with no display: once as
# root, and once, on another clean copy, as a user with passwordless sudo. Prints a table of
# release, command, user, result and time, and exits non-zero if any run failed.
# Needs root (debootstrap, mount, chroot); installs debootstrap with apt-get if it is missing.
# Everything stays in build-fresh/: the base systems in build-fresh/cache/ (made anew when older
# than 7 days; every run works on a clean copy of one and downloads its packages afresh), one log
# per run and command in build-fresh/logs/ (for a failed command also a folder with CTest's full
# logs and the tests' reports), the systems under test in build-fresh/runs/ (removed after each
# run).
# Usage: scripts/check-fresh.sh [--releases 12,13] [--user-on 12,13|none]
#        scripts/check-fresh.sh [--apt-dir DIR] --print-sources 12|13
#   --releases       the Debian releases to check (default 12,13)
#   --user-on        the releases that also get the run as a user with sudo (default: all checked)
#   --print-sources  print the archive and keyring that debootstrap gets and the apt entries that
#                    the release's system gets, then stop; needs no root
#   --apt-dir        read the machine's apt entries from DIR instead of /etc/apt
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
out=$repo/build-fresh
cache=$out/cache
logs=$out/logs
runs=$out/runs
user=tester
# No single command may take longer than this (seconds); a hung run fails instead of stalling CI.
limit=900
cache_days=7

fail() {
    echo "check-fresh: $*" >&2
    exit 1
}

releases=12,13
user_on=
print_sources=
apt_dir=/etc/apt
while [ $# -gt 0 ]; do
    case "$1" in
    --releases) releases=${2:?--releases needs a list such as 12,13} && shift 2 ;;
    --user-on) user_on=${2:?--user-on needs a list such as 13, or none} && shift 2 ;;
    --print-sources) print_sources=${2:?--print-sources needs a release, 12 or 13} && shift 2 ;;
    --apt-dir) apt_dir=${2:?--apt-dir needs a folder} && shift 2 ;;
    *) fail "unknown argument '$1' (usage: check-fresh.sh [--releases 12,13] [--user-on 12,13|none])" ;;
    esac
done
user_on=${user_on:-$releases}
[ "$user_on" = none ] && user_on=

codename() {
    case "$1" in
    12) echo bookworm ;;
    13) echo trixie ;;
    *) fail "unknown Debian release '$1' (12 or 13)" ;;
    esac
}
for r in ${releases//,/ } ${user_on//,/ } $print_sources; do codename "$r" >/dev/null; done

# Microseconds since the epoch, and a duration given in microseconds as minutes and seconds.
now() {
    echo "${EPOCHREALTIME/./}"
}
duration() {
    local s=$(($1 / 1000000))
    printf '%dm%02ds' $((s / 60)) $((s % 60))
}

# The machine's Debian entries as "URI SUITE KEYRING" lines (KEYRING "-" when none is named),
# from deb822 files and from one-line lists.
host_entries() {
    local f
    for f in "$apt_dir"/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk '
            function flush(   n, m, i, j, u, s) {
                if (types ~ /(^|[ \t])deb([ \t]|$)/ && enabled != "no") {
                    n = split(uris, u, /[ \t]+/)
                    m = split(suites, s, /[ \t]+/)
                    for (i = 1; i <= n; i++)
                        for (j = 1; j <= m; j++)
                            if (u[i] != "" && s[j] != "") print u[i], s[j], (key ~ /^\// ? key : "-")
                }
                types = uris = suites = key = enabled = ""
            }
            /^#/ { next }
            /^[ \t]*$/ { flush(); next }
            /^[ \t]/ { next }
            {
                name = tolower(substr($0, 1, index($0, ":") - 1))
                value = substr($0, index($0, ":") + 1)
                gsub(/^[ \t]+|[ \t]+$/, "", value)
                if (name == "types") types = value
                else if (name == "uris") uris = value
                else if (name == "suites") suites = value
                else if (name == "signed-by") key = value
                else if (name == "enabled") enabled = tolower(value)
            }
            END { flush() }' "$f"
    done
    for f in "$apt_dir"/sources.list "$apt_dir"/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        awk '
            $1 != "deb" { next }
            {
                key = "-"; i = 2
                if ($2 ~ /^\[/) {
                    options = ""
                    for (; i <= NF; i++) { options = options " " $i; if ($i ~ /\]$/) { i++; break } }
                    if (match(options, /signed-by=[^] ]+/)) key = substr(options, RSTART + 10, RLENGTH - 10)
                }
                print $i, $(i + 1), key
            }' "$f"
    done
}

# The release name that the entries are for (bookworm on Debian 12): the machine's own, or else
# the first suite that names a release alone. The entries for it, its -updates and its -security
# are the ones carried over.
all_entries=$(host_entries | sort -u)
host_codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if ! awk -v c="$host_codename" '$2 == c { found = 1 } END { exit !found }' <<<"$all_entries"; then
    host_codename=$(awk '$2 ~ /^[a-z]+$/ && $2 !~ /^((old)*stable|testing|unstable|sid)$/ {
        print $2; exit }' <<<"$all_entries")
fi
entries=$(awk -v c="$host_codename" '$2 == c || $2 == c "-updates" || $2 == c "-security"' <<<"$all_entries")
mirror=$(awk -v c="$host_codename" '$2 == c { print $1; exit }' <<<"$entries")
[ -n "$mirror" ] ||
    fail "no Debian release's entry in $apt_dir/sources.list(.d) to take the archive from."
keyring=$(awk -v c="$host_codename" '$2 == c { print $3; exit }' <<<"$entries")
[ "$keyring" != - ] || keyring=/usr/share/keyrings/debian-archive-keyring.gpg
[ -f "$keyring" ] || fail "the archive's keyring $keyring is missing (Debian package debian-archive-keyring)."

# The apt entries of a release's root: the host's entries with the host's release name swapped
# for that release's (bookworm-security becomes trixie-security), main only, signed by KEY.
sources_for() {
    awk -v c="$host_codename" -v r="$1" -v key="$2" '{
        suite = r substr($2, length(c) + 1)
        printf "Types: deb\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n\n", $1, suite, key
    }' <<<"$entries"
}

if [ -n "$print_sources" ]; then
    echo "# debootstrap: $mirror, keyring $keyring"
    sources_for "$(codename "$print_sources")" /usr/share/keyrings/debian-archive-keyring.gpg
    exit
fi

[ "$(id -u)" -eq 0 ] || fail "needs root, to run debootstrap, mount and chroot; run it as root or with sudo."
if ! command -v debootstrap >/dev/null; then
    echo "Installing with apt-get: debootstrap"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq || fail "apt-get update failed; check the network and the package sources."
    apt-get install -y -qq --no-install-recommends debootstrap >/dev/null ||
        fail "could not install debootstrap with apt-get."
fi

# Writes the release's apt entries into its new root, signed by the keyring the root has.
write_sources() {
    local root=$1 release=$2 key
    key=/usr/share/keyrings/debian-archive-keyring.gpg
    [ -f "$root$key" ] || key=/usr/share/keyrings/debian-archive-keyring.pgp
    [ -f "$root$key" ] || fail "the new $release system has no Debian archive keyring."
    rm -f "$root/etc/apt/sources.list"
    sources_for "$release" "$key" >"$root/etc/apt/sources.list.d/debian.sources"
}

# Mount points anywhere under a folder, deepest first, from this process's mount table.
mounts_under() {
    awk -v dir="$1" '{ p = $5; gsub(/\\040/, " ", p); if (p == dir || index(p, dir "/") == 1) print p }' \
        /proc/self/mountinfo | sort -r
}

# Processes whose root directory is inside a folder: what a run left running in its chroot.
processes_in() {
    local p root
    for p in /proc/[0-9]*; do
        root=$(readlink "$p/root" 2>/dev/null) || continue
        if [ "$root" = "$1" ] || [ "${root#"$1"/}" != "$root" ]; then
            echo "${p#/proc/}"
        fi
    done
}

stop_processes_in() {
    local pids
    pids=$(processes_in "$1")
    [ -n "$pids" ] || return 0
    # shellcheck disable=SC2086
    kill -TERM $pids 2>/dev/null || true
    for _ in $(seq 50); do
        pids=$(processes_in "$1")
        [ -n "$pids" ] || return 0
        sleep 0.1
    done
    # shellcheck disable=SC2086
    kill -KILL $pids 2>/dev/null || true
    sleep 0.5
}

# What this script mounted, in order; unmounted deepest (last) first.
mounted=()
mount_tracked() {
    local target=${*: -1}
    mount "$@"
    mounted+=("$target")
}
unmount_one() {
    umount "$1" 2>/dev/null && return 0
    sleep 1
    umount "$1" 2>/dev/null && return 0
    echo "check-fresh: $1 is busy; detaching it lazily." >&2
    umount -l "$1"
}
unmount_all() {
    local i point
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        point=${mounted[i]}
        if mounts_under "$point" | grep -qx "$point"; then
            unmount_one "$point" || echo "check-fresh: could not unmount $point" >&2
        fi
    done
    mounted=()
    # Anything else under the folder: debootstrap's own mounts, if it was stopped half way.
    for point in $(mounts_under "$out"); do
        unmount_one "$point" || echo "check-fresh: could not unmount $point" >&2
    done
}

# Removes a tree of this script's folder, only when nothing is mounted inside it any more.
remove_tree() {
    [ -e "$1" ] || return 0
    case "$1" in "$out"/*) ;; *) fail "refusing to remove $1, outside $out" ;; esac
    if [ -n "$(mounts_under "$1")" ]; then
        echo "check-fresh: not removing $1: still mounted inside: $(mounts_under "$1" | tr '\n' ' ')" >&2
        return 1
    fi
    rm -rf --one-file-system "$1"
}

current_root=
child=
tarball=
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    if [ -n "$child" ]; then
        kill "$child" 2>/dev/null || true
    fi
    if [ -n "$current_root" ]; then
        stop_processes_in "$current_root"
    fi
    stop_processes_in "$out"
    unmount_all
    if [ -n "$current_root" ]; then
        remove_tree "$current_root" || true
    fi
    remove_tree "$cache/new" || true
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The base system of a release, as a tarball in the cache (its path in $tarball), made with
# debootstrap when it is missing or older than $cache_days days.
base_system() {
    local release=$1 name started attempt status=0
    name=$(codename "$release")
    tarball=$cache/$name.tar
    if [ -f "$tarball" ] && [ -z "$(find "$tarball" -mtime +"$cache_days")" ]; then
        echo "Debian $release base system: $tarball, kept from an earlier run"
        return
    fi
    echo "Debian $release base system: debootstrap --variant=minbase $name from $mirror" \
        "(log: $logs/debootstrap-$name.log)"
    started=$(now)
    # Three tries: a download fails now and then while the archive's mirror is being updated.
    for attempt in 1 2 3; do
        remove_tree "$cache/new"
        mkdir -p "$cache/new"
        status=0
        debootstrap --variant=minbase --keyring="$keyring" "$name" "$cache/new/root" "$mirror" \
            >>"$logs/debootstrap-$name.log" 2>&1 </dev/null 9>&- &
        child=$!
        wait "$child" || status=$?
        child=
        unmount_all
        [ "$status" -ne 0 ] || break
        if [ "$attempt" -lt 3 ]; then
            echo "debootstrap of Debian $release failed ($(tail -n 1 "$logs/debootstrap-$name.log"));" \
                "trying again in 30 s"
            sleep 30
        fi
    done
    if [ "$status" -ne 0 ]; then
        show_failure "$logs/debootstrap-$name.log"
        fail "debootstrap of Debian $release failed three times; see $logs/debootstrap-$name.log"
    fi
    write_sources "$cache/new/root" "$name"
    rm -f "$cache/new/root"/var/cache/apt/archives/*.deb
    tar -C "$cache/new/root" --numeric-owner --xattrs -cf "$cache/new/$name.tar" .
    mv "$cache/new/$name.tar" "$tarball"
    remove_tree "$cache/new"
    echo "Debian $release base system: made in $(duration $(($(now) - started)))"
}

# A clean copy of the base system ($tarball), mounted for apt, Xvfb and valgrind: /proc, /sys and
# a private /dev.
make_root() {
    local root=$1
    remove_tree "$root" || fail "cannot start from a clean copy in $root"
    mkdir -p "$root"
    current_root=$root
    tar -C "$root" --numeric-owner --xattrs --xattrs-include='*' -xpf "$tarball"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    printf '127.0.0.1\tlocalhost\n127.0.1.1\t%s\n' "$(hostname)" >"$root/etc/hosts"
    # What a booted Debian makes in /tmp (systemd's tmpfiles): the folder for X's sockets, which
    # Xvfb can only create itself when it runs as root.
    install -d -m 1777 "$root/tmp/.X11-unix"

    mount_tracked -t proc proc "$root/proc"
    mount_tracked -t sysfs -o ro,nosuid,nodev,noexec sysfs "$root/sys"
    mount_tracked -t tmpfs -o mode=755,nosuid,size=16m tmpfs "$root/dev"
    local node
    for node in 'null 1 3' 'zero 1 5' 'full 1 7' 'random 1 8' 'urandom 1 9' 'tty 5 0'; do
        # shellcheck disable=SC2086
        set -- $node
        mknod -m 666 "$root/dev/$1" c "$2" "$3"
    done
    ln -s /proc/self/fd "$root/dev/fd"
    ln -s /proc/self/fd/0 "$root/dev/stdin"
    ln -s /proc/self/fd/1 "$root/dev/stdout"
    ln -s /proc/self/fd/2 "$root/dev/stderr"
    ln -s pts/ptmx "$root/dev/ptmx"
    mkdir "$root/dev/pts" "$root/dev/shm"
    mount_tracked -t devpts -o newinstance,ptmxmode=0666,mode=620,gid=5 devpts "$root/dev/pts"
    mount_tracked -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"
}

# Stops whatever still runs in the root, unmounts it and removes it.
drop_root() {
    stop_processes_in "$current_root"
    unmount_all
    remove_tree "$current_root" || fail "could not remove $current_root"
    current_root=
}

# Runs a command line in the root with a clean environment, as root or as the user, from the
# clone's root; output to a log. Returns the command's status.
run_in_root() {
    local root=$1 as=$2 dir=$3 command=$4 log=$5 home path status=0
    path=/usr/local/bin:/usr/bin:/bin
    if [ "$as" = root ]; then
        home=/root
        path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
        set -- chroot "$root"
    else
        home=/home/$as
        set -- chroot "$root" runuser -u "$as" --
    fi
    timeout --kill-after=30 "$limit" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@" \
        env -i HOME="$home" PATH="$path" TERM=dumb LANG=C.UTF-8 \
        /bin/bash -c "cd $dir && $command" >"$log" 2>&1 </dev/null 9>&- &
    child=$!
    wait "$child" || status=$?
    child=
    [ "$status" -ne 124 ] || echo "check-fresh: stopped after $limit s" >>"$log"
    return "$status"
}

# Setup of "a user with sudo": the sudo package, a user with a home, passwordless sudo.
add_sudo_user() {
    local root=$1 log=$2
    {
        chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
            sh -c 'apt-get update -qq && apt-get install -y -qq --no-install-recommends sudo' &&
            chroot "$root" useradd --create-home --shell /bin/bash "$user"
    } >"$log" 2>&1 </dev/null 9>&- || return 1
    echo "$user ALL=(ALL) NOPASSWD: ALL" >"$root/etc/sudoers.d/$user"
    chmod 440 "$root/etc/sudoers.d/$user"
}

commit=$(git rev-parse HEAD)
rows=()
failed=0
record() {
    rows+=("$1|$2|$3|$4|$5")
    printf '%-10s %-18s %-6s %-5s %s\n' "$1" "$2" "$3" "$4" "$5"
}
show_failure() {
    echo "---- last lines of $1 ----"
    tail -n 40 "$1"
    echo "----"
}

# What a failed run leaves to read beside its log, before its tree goes: CTest's full logs and the
# reports that tests write to /tmp; copied to a folder named like the log.
keep_reports() {
    local root=$1 clone=$2 dest=$3 f
    for f in "$root$clone"/build*/Testing/Temporary/LastTest*.log "$root"/tmp/helixview-*; do
        [ -f "$f" ] || continue
        mkdir -p "$dest"
        cp "$f" "$dest/$(sed "s|^$root$clone/||; s|^$root/||; s|/|_|g" <<<"$f")"
    done
    [ ! -d "$dest" ] || echo "(CTest's full logs and test reports: $dest/)"
}

# One release, as one user: a clean copy, the clone, then the README's two commands in turn.
check() {
    local release=$1 as=$2 name root home setup_log started status log command
    name=$(codename "$release")
    base_system "$release"
    root=$runs/$name-$as
    setup_log=$logs/debian$release-$as-setup.log
    make_root "$root"
    home=/root
    if [ "$as" != root ]; then
        home=/home/$as
        if ! add_sudo_user "$root" "$setup_log"; then
            record "Debian $release" "(setup)" "$as" FAIL -
            show_failure "$setup_log"
            failed=1
            drop_root
            return
        fi
    fi
    git clone -q --no-checkout --no-hardlinks "$repo" "$root$home/helixview"
    git -C "$root$home/helixview" checkout -q --detach "$commit"
    if [ "$as" != root ]; then
        chown -R "$(chroot "$root" id -u "$as"):$(chroot "$root" id -g "$as")" "$root$home/helixview"
    fi
    for command in ./scripts/run.sh ./scripts/test.sh; do
        log=$logs/debian$release-$as-${command##*/}.log
        started=$(now)
        status=0
        run_in_root "$root" "$as" "$home/helixview" "$command" "$log" || status=$?
        if [ "$status" -eq 0 ] && [ "$command" = ./scripts/run.sh ] &&
            [ ! -s "$root$home/helixview/build/helixview.png" ]; then
            echo "check-fresh: run.sh left no screenshot in build/helixview.png" >>"$log"
            status=1
        fi
        if [ "$status" -eq 0 ]; then
            record "Debian $release" "$command" "$as" ok "$(duration $(($(now) - started)))"
        else
            record "Debian $release" "$command" "$as" FAIL "$(duration $(($(now) - started)))"
            show_failure "$log"
            keep_reports "$root" "$home/helixview" "$logs/debian$release-$as-${command##*/}"
            failed=1
        fi
    done
    drop_root
}

mkdir -p "$cache" "$logs" "$runs"
# One run at a time in this folder: a second one would take the first one's mounts for leftovers.
# Long-running children get the lock's descriptor closed (9>&-), so that nothing a killed run
# left running holds it.
exec 9>"$out/lock"
flock -n 9 || fail "another check-fresh.sh is running in $out; wait for it to end."
# What a run that was killed outright left behind is this script's own: undo it first.
if [ -n "$(mounts_under "$out")" ] || [ -n "$(processes_in "$out")" ]; then
    echo "Stopping and unmounting what an earlier, interrupted run left in $out"
    stop_processes_in "$out"
    unmount_all
fi
for tree in "$runs"/* "$cache/new"; do
    remove_tree "$tree" || fail "cannot remove $tree, left by an earlier run"
done
rm -rf "${logs:?}"/*

echo "Checking the Quick start commands on fresh Debian systems"
echo "Commit under test: $(git log -1 --format='%h %s' "$commit")"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "(uncommitted changes in $repo are not part of the check)"
fi
echo "Archive: $mirror; logs: $logs/"
all_started=$(now)
for release in ${releases//,/ }; do
    check "$release" root
    case ",$user_on," in *",$release,"*) check "$release" "$user" ;; esac
done

echo
echo "Quick start commands on fresh Debian systems (commit ${commit:0:12}):"
echo
echo "| Release | Command | User | Result | Time |"
echo "|---|---|---|---|---|"
for row in "${rows[@]}"; do
    IFS='|' read -r r c u res t <<<"$row"
    [ "$u" = root ] || u="$u (sudo)"
    echo "| $r | \`$c\` | $u | $res | $t |"
done
echo
echo "Total: $(duration $(($(now) - all_started))); logs in $logs/"
exit "$failed"
