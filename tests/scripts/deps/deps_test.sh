#!/bin/bash
# Runs scripts/deps with stand-in apt-get, dpkg-query, dpkg, id and sudo first on
# the PATH, so nothing reaches the real package system. The stand-ins log every
# call; each case sets how the index refresh and the two installs end.
#   deps_test.sh PATH/TO/scripts/deps
set -uo pipefail
deps=$1
codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
if [ -z "$codename" ]; then
    echo "SKIP: /etc/os-release names no codename, so scripts/deps has no release to retry with"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stubs=$work/bin
mkdir -p "$stubs"

# dpkg-query: a package counts as installed when STUB_INSTALLED is "all" or names it.
cat >"$stubs/dpkg-query" <<'STUB'
#!/bin/bash
echo "dpkg-query $*" >>"$STUB_LOG"
pkg=${!#}
if [ "$STUB_INSTALLED" = all ] || [[ " $STUB_INSTALLED " == *" $pkg "* ]]; then
    printf 'install ok installed'
else
    printf 'unknown ok not-installed'
fi
STUB
# dpkg: no foreign architecture yet.
cat >"$stubs/dpkg" <<'STUB'
#!/bin/bash
echo "dpkg $*" >>"$STUB_LOG"
STUB
# apt-get: STUB_UPDATE ok|fail; STUB_INSTALL ok|pinned (only with -t)|fail.
cat >"$stubs/apt-get" <<'STUB'
#!/bin/bash
echo "apt-get $*" >>"$STUB_LOG"
case "$*" in
    *update*)
        if [ "$STUB_UPDATE" = fail ]; then
            echo "E: Failed to fetch http://deb.example/debian-security/dists/x/main/binary-i386/Packages.xz  File has unexpected size (4 != 5). Mirror sync in progress?"
            exit 100
        fi
        exit 0 ;;
esac
if [ "$STUB_INSTALL" = ok ] || { [ "$STUB_INSTALL" = pinned ] && [[ " $* " == *" -t "* ]]; }; then
    exit 0
fi
echo "Some packages could not be installed."
echo "E: Unable to correct problems, you have held broken packages."
exit 100
STUB
cat >"$stubs/id" <<'STUB'
#!/bin/bash
[ "$1" = -u ] && { echo 1000; exit 0; }
exec /usr/bin/id "$@"
STUB
cat >"$stubs/sudo" <<'STUB'
#!/bin/bash
echo "sudo $1" >>"$STUB_LOG"
exec "$@"
STUB
chmod +x "$stubs"/*

failures=0
fail() {
    echo "FAIL [$case_name]: $*"
    failures=$((failures + 1))
}
expect_err() {
    grep -qF -- "$1" "$work/err" || fail "stderr lacks \"$1\""
}
expect_call() {
    grep -qE -- "$1" "$work/log" || fail "no call matching /$1/"
}
expect_no_call() {
    ! grep -qE -- "$1" "$work/log" || fail "unexpected call matching /$1/"
}

# name | installed | update | install | expected exit status
cases=(
    "nothing missing|all|fail|fail|0"
    "refresh fails, plain install fails, pinned retry works|build-essential cmake|fail|pinned|0"
    "refresh fails, both installs fail|build-essential cmake|fail|fail|1"
    "all goes well|all-but-wine|ok|ok|0"
)
for row in "${cases[@]}"; do
    IFS='|' read -r case_name installed update install status <<<"$row"
    [ "$installed" = all-but-wine ] && installed="zip unzip cmake"
    : >"$work/log"
    STUB_LOG=$work/log STUB_INSTALLED=$installed STUB_UPDATE=$update STUB_INSTALL=$install \
        PATH="$stubs:$PATH" bash "$deps" >"$work/out" 2>"$work/err"
    got=$?
    [ "$got" = "$status" ] || fail "exit status $got, expected $status"
    [ -s "$work/out" ] && fail "wrote to stdout: $(cat "$work/out")"
    case "$case_name" in
        "nothing missing")
            [ -s "$work/err" ] && fail "not quiet: $(cat "$work/err")"
            expect_no_call '^(apt-get|dpkg|sudo) ' ;;
        "refresh fails, plain install fails, pinned retry works")
            expect_err "warning: the package index refresh failed"
            expect_err "Mirror sync in progress?"
            expect_err "retrying with -t $codename"
            expect_call '^sudo dpkg$'
            expect_call '^dpkg --add-architecture i386$'
            expect_call '^apt-get install .*wine32:i386'
            expect_call "^apt-get install .* -t $codename .*wine32:i386"
            # The packages already there are not asked for again.
            expect_no_call '^apt-get install .* cmake( |$)'
            ! grep -q '^error:' "$work/err" || fail "reported an error after the retry worked" ;;
        "refresh fails, both installs fail")
            expect_err "retrying with -t $codename"
            expect_err "error: could not install the packages this project needs:"
            expect_err "wine32:i386"
            expect_err "apt said: E: Unable to correct problems, you have held broken packages."
            [ "$(grep -c '^apt-get install' "$work/log")" = 2 ] || fail "not exactly one retry" ;;
        "all goes well")
            expect_err "Installing:"
            ! grep -q 'warning' "$work/err" || fail "warned: $(cat "$work/err")"
            [ "$(grep -c '^apt-get install' "$work/log")" = 1 ] || fail "retried a working install" ;;
    esac
    if [ "$failures" -gt 0 ]; then
        echo "--- stderr"; cat "$work/err"; echo "--- calls"; cat "$work/log"
        break
    fi
done

[ "$failures" = 0 ] && echo "scripts/deps: ${#cases[@]} cases passed"
[ "$failures" = 0 ]
