#!/usr/bin/env bash
# Builds a Debian source package (.dsc) as Debian's build daemons do: sbuild in a clean chroot of
# SUITE (unstable, bookworm or trixie), run as the unprivileged user helixview-build through
# sbuild's unshare backend. ARCH other than this machine's is a cross build, as Debian's
# cross-building checks make it (--host=ARCH, profiles cross and nocheck); a native build runs the
# build-time tests. The chroots are tarballs that mmdebstrap (--variant=buildd, with apt-utils)
# makes from this machine's Debian archive, in ~helixview-build/.cache/sbuild/SUITE-ARCH.tar, where
# sbuild looks for them; one missing or more than a day old is made again. The .deb, .changes,
# .buildinfo and build log (.build) go to OUTDIR, with mmdebstrap's log when it made a chroot.
# Further options go to sbuild as they are (check-debian.sh runs lintian). Needs root, to make
# the user; installs nothing (install-deps.sh debian has the tools).
# Usage: scripts/sbuild.sh SUITE ARCH DSC OUTDIR [SBUILD-OPTION...]
set -euo pipefail

fail() {
    echo "sbuild.sh: $*" >&2
    exit 1
}

[ $# -ge 4 ] || fail "usage: scripts/sbuild.sh SUITE ARCH DSC OUTDIR [SBUILD-OPTION...]"
suite=$1 arch=$2 dsc=$(realpath "$3") out=$4
shift 4
[ "$(id -u)" -eq 0 ] || fail "needs root, to make and become the build user"
case "$suite" in unstable | bookworm | trixie) ;; *) fail "unknown suite '$suite' (unstable, bookworm or trixie)" ;; esac
[ -f "$dsc" ] || fail "no source package $dsc"
user=helixview-build
build=$(dpkg --print-architecture)
home=/home/$user
tarball=$home/.cache/sbuild/$suite-$build.tar

# sbuild's unshare backend maps the chroot's users onto the build user's subordinate ids, which
# useradd gives a new user from /etc/login.defs' SUB_UID range. The user is the machine's, and
# builds start side by side (release.sh's, two CI runs at once): one at a time looks for it and
# makes it, under a lock of the machine's, or both would run useradd and leave its home to the
# loser's uid.
exec 8>/run/lock/helixview-build-user.lock
flock 8
if ! id "$user" >/dev/null 2>&1; then
    echo "sbuild.sh: making the user $user (useradd), who runs sbuild and mmdebstrap unprivileged"
    useradd --create-home --home-dir "$home" --shell /bin/bash "$user"
fi
# A home left by an earlier user of that name (removed without its home, or made by a run that
# lost such a race) belongs to another uid: the user could not write there.
if [ "$(stat -c %U "$home" 2>/dev/null)" != "$user" ]; then
    [ -d "$home" ] || fail "$user's home $home is missing; remove the user (userdel $user) and run this again"
    echo "sbuild.sh: $home belonged to $(stat -c '%U (uid %u)' "$home"), not to $user: giving it to $user (chown -R)"
    chown -R "$user:" "$home"
fi
grep -q "^$user:" /etc/subuid && grep -q "^$user:" /etc/subgid ||
    fail "$user has no subordinate ids in /etc/subuid and /etc/subgid; add a range with usermod --add-subuids and --add-subgids"
exec 8>&-
as_user() {
    setpriv --reuid="$user" --regid="$user" --init-groups --reset-env "$@"
}

mkdir -p "$out"
out=$(realpath "$out")
# The build user may not reach the caller's folders (a clone in /root): it builds in a folder of
# its own, which the results are copied out of.
work=$(as_user mktemp -d "$home/build.XXXXXX")
trap 'rm -rf "$work"' EXIT
dcmd cp "$dsc" "$work/"
chown -R "$user:" "$work"

# The suites from this machine's Debian archive, as scripts/check-fresh.sh finds it. Stable ones
# get their updates but not the security suite, whose foreign indexes this mirror has served
# behind amd64's, which breaks a cross build's Multi-Arch: same libraries.
# shellcheck disable=SC2016 # apt's format, not the shell's
archive=$(apt-get indextargets --format '$(SITE)' 'Label: Debian' 'Created-By: Packages' | sed -n 1p)
[ -n "$archive" ] || fail "this machine's apt uses no Debian archive to make the chroots from"
sources=("deb $archive $suite main")
[ "$suite" = unstable ] || sources+=("deb $archive $suite-updates main")

# Only one build makes a chroot at a time; the others wait for it and use it. The lock is the
# folder itself, as sbuild takes any file there named SUITE-ARCH.t* for a chroot.
as_user mkdir -p "$home/.cache/sbuild"
exec 9<"$home/.cache/sbuild"
flock 9
if [ -z "$(find "$tarball" -mtime -1 2>/dev/null)" ]; then
    log=$out/mmdebstrap-$suite.log
    echo "sbuild.sh: making the $suite chroot $tarball (mmdebstrap --variant=buildd, log in $log)"
    mmdebstrap=(mmdebstrap --mode=unshare --variant=buildd --include=apt-utils --format=tar)
    if ! as_user "${mmdebstrap[@]}" "$suite" "$tarball.new" "${sources[@]}" >"$log" 2>&1; then
        grep -q 'Release file for .* is expired' "$log" ||
            fail "mmdebstrap could not make the $suite chroot; see $log"
        # An expired Release file means the mirror stopped updating this suite: apt refuses it
        # unless told not to check the date, which the chroot's apt keeps for sbuild's updates.
        echo "sbuild.sh: the archive's $suite Release file has expired ($(grep -o 'invalid since [^)]*' "$log" | sed -n 1p)):" \
            "$archive is no longer updated for $suite. Making the chroot with apt's Acquire::Check-Valid-Until false."
        as_user "${mmdebstrap[@]}" --aptopt='Acquire::Check-Valid-Until "false"' "$suite" "$tarball.new" "${sources[@]}" >>"$log" 2>&1 ||
            fail "mmdebstrap could not make the $suite chroot; see $log"
    fi
    mv "$tarball.new" "$tarball"
fi
flock -u 9
echo "sbuild.sh: the $suite chroot $tarball was made $(date -u -r "$tarball" '+%F %T UTC')"

options=(--chroot-mode=unshare --dist="$suite" --nolog --no-run-piuparts --no-run-autopkgtest)
# lintian only when asked (sbuild refuses both options); its verdict is the log's "Lintian:" line.
[[ " $* " == *" --run-lintian "* ]] || options+=(--no-run-lintian)
[ "$arch" = "$build" ] || options+=(--host="$arch" --profiles=cross,nocheck)
log=$out/$(basename "$dsc" .dsc)_$arch.build
echo "sbuild.sh: building $(basename "$dsc") for $arch in $suite (log in $log)"
started=$SECONDS
status=0
as_user env -C "$work" sbuild "${options[@]}" "$@" "$(basename "$dsc")" >"$log" 2>&1 || status=$?
find "$work" -maxdepth 1 -name "*_$arch.*" -exec cp -t "$out" {} +
if [ "$status" -ne 0 ]; then
    ! grep -Eq 'Hash Sum mismatch|File has unexpected size|Mirror sync in progress' "$log" ||
        echo "sbuild.sh: the archive's indexes changed while the chroot read them (a mirror part way through an update): the archive's fault; try again later" >&2
    fail "the $arch build in $suite failed; see $log"
fi
echo "sbuild.sh: built for $arch in $suite in $((SECONDS - started)) s: $(cd "$out" && ls ./*_"$arch".deb | tr '\n' ' ')"
