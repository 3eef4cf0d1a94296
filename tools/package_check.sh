#!/usr/bin/env bash
# Builds the .deb from an existing build tree and checks it the way a user meets it:
# the desktop entry and AppStream data validate, lintian finds no error or warning, and the
# package installs, starts and purges without leaving anything of it behind in /usr.
#   tools/package_check.sh [build-dir]      (default: build)
# The install, start and purge happen in a throwaway Debian 12 root under the build tree,
# never in the host's /usr or dpkg database, so a velmor package already installed on the
# host does not matter. The base root is made once with debootstrap and kept as a tarball
# under /var/cache/velmor/ (VELMOR_CACHE), keyed by suite, archive and dependency list;
# each run unpacks a copy and deletes it. Needs root, or sudo, for debootstrap, chroot and mounts.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
suite=bookworm
cache=${VELMOR_CACHE:-/var/cache/velmor}
root=$build/package-root
work=$(mktemp -d)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

fail() {
    echo "package check: FAILED: $*" >&2
    exit 1
}

mounts_in_root() {
    findmnt -rn -o TARGET | awk -v r="$root" '$0 == r || index($0, r "/") == 1' | sort -r
}

# in_root's mounts die with its namespace; any still here came from elsewhere and are taken
# down first, and rm never crosses into another file system, so no host file is deleted
# through a mount.
remove_root() {
    mounts_in_root | while read -r mount; do $sudo umount -l "$mount"; done
    [ -z "$(mounts_in_root)" ] || fail "cannot unmount what is mounted under $root"
    $sudo rm -rf --one-file-system "$root"
}

# Every process whose root is the throwaway root, or what is left of it once deleted: all
# that the check started there, whatever it forked and however it was detached.
processes_in_root() {
    # shellcheck disable=SC2016
    $sudo sh -c 'for p in /proc/[0-9]*; do
            r=$(readlink "$p/root" 2>/dev/null) || continue
            case $r in "$1" | "$1 (deleted)") echo "${p#/proc/}" ;; esac
        done' sh "$root"
}

describe_processes() {
    local pid
    for pid in "$@"; do
        echo "$pid $($sudo cat "/proc/$pid/cmdline" 2>/dev/null | tr '\0' ' ')"
    done
}

# SIGTERM to what runs in the root, 5 s to go, then SIGKILL; says what it had to end.
end_processes_in_root() {
    local pids
    pids=$(processes_in_root)
    [ -n "$pids" ] || return 0
    # shellcheck disable=SC2086
    echo "package check: ending what still runs in $root: $(describe_processes $pids)" >&2
    # shellcheck disable=SC2086
    $sudo kill -TERM $pids 2>/dev/null || true
    for _ in $(seq 50); do
        [ -n "$(processes_in_root)" ] || return 0
        sleep 0.1
    done
    # shellcheck disable=SC2046
    $sudo kill -KILL $(processes_in_root) 2>/dev/null || true
}

cleanup() {
    end_processes_in_root
    remove_root
    rm -rf "$work"
}
trap cleanup EXIT

# Runs a command in the root with a clean environment (NAME=value words first), in a mount
# namespace of its own: /proc, a private /dev/pts and the few device nodes programs open are
# mounted only there, so they vanish when the command ends, however it ends.
in_root() {
    # shellcheck disable=SC2016
    $sudo unshare --mount --propagation private -- sh -euc '
        root=$1
        shift
        mount -t proc proc "$root/proc"
        mount -t tmpfs -o mode=755 dev "$root/dev"
        for node in null zero full random urandom tty; do
            touch "$root/dev/$node"
            mount --bind "/dev/$node" "$root/dev/$node"
        done
        mkdir "$root/dev/pts"
        mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
        ln -s pts/ptmx "$root/dev/ptmx"
        exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
            LANG=C.UTF-8 "$@"' sh "$root" "$@"
}

velmor_status() {
    in_root dpkg-query -W -f='${Status}' velmor 2>/dev/null || true
}

in_root_alive() {
    $sudo kill -0 "$1" 2>/dev/null
}

# Tags accepted on purpose: a package of our own closes no Debian bug.
lintian_accepted=initial-upload-closes-no-bugs

echo "== package"
rm -rf "$build/package"
cpack --config "$build/CPackConfig.cmake" -B "$build/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
debs=("$build"/package/velmor_*.deb)
{ [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ]; } || fail "expected one velmor_*.deb in $build/package"
deb=${debs[0]}
echo "$deb"
dpkg-deb -f "$deb" Package Version Depends

echo "== desktop entry and AppStream data"
dpkg-deb -x "$deb" "$work/root"
desktops=("$work"/root/usr/share/applications/*.desktop)
[ -f "${desktops[0]}" ] || fail "no desktop entry in the package"
desktop-file-validate "${desktops[@]}" || fail "desktop-file-validate"
appstreamcli validate-tree --no-net "$work/root" || fail "appstreamcli validate-tree"
# The newest release in the AppStream data is the packaged version.
version=$(dpkg-deb -f "$deb" Version)
release=$(grep -o -m1 '<release version="[^"]*"' "$work"/root/usr/share/metainfo/*.metainfo.xml |
    cut -d'"' -f2)
[ "$release" = "${version%-*}" ] ||
    fail "AppStream's newest release is '$release', the package is $version"

echo "== lintian"
lintian --display-info --fail-on error,warning --suppress-tags "$lintian_accepted" "$deb" ||
    fail "lintian reports errors or warnings"

echo "== root"
# The base: Debian $suite (minbase) and, installed by apt from the archive this machine
# uses, what the package depends on. Its name holds the suite, the archive and the
# dependency list, so it is made again only when one of them changes.
sources=$(apt-get indextargets --format '$(SITE) $(RELEASE) $(COMPONENT) $(IDENTIFIER)' \
    'Target-Of: deb' 2>/dev/null | awk -v s="$suite" '$3 == "main" && $4 == "Packages" &&
    ($2 == s || $2 == s "-updates" || $2 == s "-security") { print "deb", $1, $2, "main" }' |
    sort -u)
mirror=$(awk -v s="$suite" '$3 == s { print $2; exit }' <<<"$sources")
if [ -z "$mirror" ]; then
    mirror=http://deb.debian.org/debian
    sources="deb $mirror $suite main"
fi
depends=$(dpkg-deb -f "$deb" Depends)
base=$cache/$suite-$(printf '%s\n' "$suite" "$sources" "$depends" | sha256sum | cut -c1-16).tar
remove_root
$sudo mkdir -p "$root" "$cache"
if [ -f "$base" ]; then
    $sudo tar -C "$root" --numeric-owner -xf "$base"
else
    # Minutes of output, kept beside the build's other logs.
    logs=$build/logs
    mkdir -p "$logs"
    echo "making $base (debootstrap: $logs/debootstrap.log)"
    $sudo unshare --mount debootstrap --variant=minbase \
        --keyring=/usr/share/keyrings/debian-archive-keyring.gpg "$suite" "$root" "$mirror" \
        >"$logs/debootstrap.log" 2>&1 ||
        { tail -n 20 "$logs/debootstrap.log" >&2; fail "debootstrap, see $logs/debootstrap.log"; }
    $sudo tee "$root/etc/apt/sources.list" >/dev/null <<<"$sources"
    in_root apt-get update -qq || fail "apt-get update in the root"
    in_root DEBIAN_FRONTEND=noninteractive apt-get satisfy -y -qq --no-install-recommends \
        "$depends" >"$logs/debootstrap-satisfy.log" 2>&1 ||
        { tail -n 20 "$logs/debootstrap-satisfy.log" >&2; fail "apt-get satisfy in the root"; }
    in_root apt-get clean
    $sudo tar -C "$root" --numeric-owner -cf "$base.new" . && $sudo mv "$base.new" "$base"
    $sudo find "$cache" -maxdepth 1 -name "$suite-*.tar" ! -path "$base" -delete
fi
echo "$root from $base"

# The names under /usr and /etc before the install; the purge must bring back exactly these.
snapshot() {
    $sudo find "$root/usr" "$root/etc" | sed "s|^$root||" | sort
}
snapshot >"$work/before"

echo "== install"
$sudo cp "$deb" "$root/tmp/"
# The base holds what the package depended on when it was made; apt checks the package's
# list against it and would fetch anything missing.
in_root DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "/tmp/$(basename "$deb")" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; fail "apt-get install"; }
[ "$(velmor_status)" = "install ok installed" ] || fail "velmor is not installed after apt-get install"

echo "== run"
for program in "$work"/root/usr/bin/*; do
    if in_root ldd "/usr/bin/$(basename "$program")" | grep "not found"; then
        fail "/usr/bin/$(basename "$program") misses libraries"
    fi
done
# Start the installed program offscreen on an empty profile. It has started once the
# camera-type handler has stored CAMTYPE, which its window does while it sets itself up;
# it must then still be running, waiting for the operator.
profile=/tmp/config
$sudo mkdir -p "$root$profile"
in_root XDG_CONFIG_HOME=$profile QT_QPA_PLATFORM=offscreen /usr/bin/velmor >"$work/run.log" 2>&1 &
pid=$!
conf=$profile/PC-ZORVIK/velmor.conf
for _ in $(seq 300); do
    $sudo grep -q '^CAMTYPE=0' "$root$conf" 2>/dev/null && break
    in_root_alive "$pid" || break
    sleep 0.1
done
if ! in_root_alive "$pid"; then
    wait "$pid" && status=0 || status=$?
    cat "$work/run.log" >&2
    fail "velmor ended by itself (status $status)"
fi
# $pid is the shell that started it. In the root run the program and its guardian, a child
# it forked at its start that holds the line too; the program, the one whose parent is
# outside the root, is told to end. On SIGTERM it ends by itself with 128 + 15, and its
# guardian follows it.
running=$(processes_in_root | tr "\n" " ")
velmor_pid=""
for candidate in $running; do
    parent=$(awk '{ print $4 }' "/proc/$candidate/stat" 2>/dev/null || true)
    # shellcheck disable=SC2076
    [[ " $running " =~ " $parent " ]] || velmor_pid="$velmor_pid $candidate"
done
velmor_pid=${velmor_pid# }
# shellcheck disable=SC2086
[ "$(wc -w <<<"$velmor_pid")" -eq 1 ] && [ "$(wc -w <<<"$running")" -le 2 ] ||
    fail "expected velmor and its guardian alone in the root, found: $(describe_processes $running)"
$sudo kill -TERM "$velmor_pid"
for _ in $(seq 100); do
    [ -n "$(processes_in_root)" ] || break
    sleep 0.1
done
[ -z "$(processes_in_root)" ] || fail "velmor still runs 10 s after SIGTERM"
wait "$pid" && status=0 || status=$?
[ "$status" -eq 143 ] || { cat "$work/run.log" >&2; fail "velmor ended with status $status on SIGTERM, not 143"; }
$sudo grep -q '^CAMTYPE=0' "$root$conf" 2>/dev/null || fail "velmor did not write its profile $conf"
echo "velmor started and wrote $conf"

echo "== purge"
in_root dpkg --purge velmor >/dev/null || fail "dpkg --purge"
case "$(velmor_status)" in
    "" | *" not-installed") ;;
    *) fail "velmor is still known to dpkg after the purge: $(velmor_status)" ;;
esac
if snapshot | comm -13 "$work/before" - | grep .; then
    fail "left behind after purge"
fi
left=$(processes_in_root)
# shellcheck disable=SC2086
[ -z "$left" ] || fail "left running in the root: $(describe_processes $left)"
echo "nothing of the check runs in the root"
echo "package check: ok (${SECONDS}s)"
