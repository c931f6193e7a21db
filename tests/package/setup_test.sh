#!/usr/bin/env bash
# Runs scripts/setup.sh against an apt-get that takes seconds and writes APT's status lines, as a
# real one does on a slow network: setup must say each stage as it starts, and print apt-get's log
# (without the status lines) only when apt-get fails. Nothing is installed.
set -euo pipefail
source_dir=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "setup test: $*" >&2; exit 1; }

mkdir "$scratch/bin"
# Every package is installed but cmake; sudo runs its command as it is.
printf '#!/bin/sh\n[ "$3" = cmake ] && exit 1\nprintf "install ok installed"\n' >"$scratch/bin/dpkg-query"
printf '#!/bin/sh\nexec "$@"\n' >"$scratch/bin/sudo"
cat >"$scratch/bin/apt-get" <<'EOF'
#!/bin/sh
case "$*" in
*" update") echo "Hit:1 http://deb.debian.org/debian bookworm InRelease" ;;
*)
    echo "dlstatus:1:0.0000:Retrieving file 1 of 1"; echo "Get:1 http://deb.debian.org/debian cmake"; sleep 3
    echo "pmstatus:cmake:amd64:20.0000:Unpacking cmake (amd64)"; echo "Unpacking cmake ..."; sleep 3
    [ -z "$APT_FAILS" ] || { echo "E: Sub-process /usr/bin/dpkg returned an error code (1)" >&2; exit 100; } ;;
esac
EOF
chmod +x "$scratch/bin"/*
setup() { # setup: setup.sh's output, then its status
    local status=0
    env -u CI -u QUILLARN_SETUP_ALL PATH="$scratch/bin:$PATH" "$source_dir/scripts/setup.sh" >"$scratch/out" 2>&1 || status=$?
    cat "$scratch/out"
    echo "status $status"
}

expected="setup: installing cmake
setup: updating the package lists
setup: downloading
setup: unpacking and configuring"
said=$(APT_FAILS= setup)
[ "$said" = "$expected
setup: installed
status 0" ] || fail "an install that works says: $said"
said=$(APT_FAILS=1 setup)
[ "$said" = "$expected
Hit:1 http://deb.debian.org/debian bookworm InRelease
Get:1 http://deb.debian.org/debian cmake
Unpacking cmake ...
E: Sub-process /usr/bin/dpkg returned an error code (1)
setup: apt-get failed
status 1" ] || fail "an install that fails says: $said"
echo "setup test: each stage shown, the log only on failure"
