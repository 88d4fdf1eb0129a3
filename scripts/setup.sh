#!/usr/bin/env bash
# Installs everything Pellumo needs to build, run and test on Debian 12.
# Idempotent: a second run finds everything in place and changes nothing.
#
# 32-bit Wine needs a kernel that executes 32-bit Linux programs. Where it does not, this
# adds QEMU's user-mode emulator from Debian's bookworm-backports suite (Debian 12's own
# QEMU 7.2 makes every Wine process crawl the address space). Nothing here registers it as
# a handler: scripts/wine-run does that inside a private namespace of each 32-bit run.
# PELLUMO_WINE32=emulated asks for the emulator on a host that would not need it.
set -euo pipefail
# Set by a script that has already run this one for the same run (scripts/common.sh).
[ -z "${PELLUMO_SETUP_DONE:-}" ] || exit 0

# libcurl4-openssl-dev and ca-certificates: the live forecast source's HTTPS client, Debian's
# most used and reviewed one, checking certificates against the system's store.
packages=(
    cmake ninja-build g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest
    wine wine32:i386 wine64 xvfb xauth x11-utils xdotool imagemagick
    fonts-wqy-microhei locales procps nginx-light python3
    g++ pkg-config libmicrohttpd-dev nlohmann-json3-dev wrk libcurl4-openssl-dev ca-certificates
    clang libclang-rt-14-dev
)
# The Chinese locale is the one the program is run in; the English one (code page 1252 under
# Wine) is where the tests check that it reads the same on a Windows of another language.
locale_names=("zh_CN.UTF-8" "en_US.UTF-8")

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    missing=("${packages[@]}")
else
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
fi
have_locale() {
    local name
    for name in "${locale_names[@]}"; do
        locale -a 2>/dev/null | grep -qix "${name%%.*}\.utf-\?8" || return 1
    done
}

backports_list=/etc/apt/sources.list.d/debian-bookworm-backports.sources
emulator=qemu-user
# Version 10 or later: the first that honours MAP_FIXED_NOREPLACE is not in Debian 12 itself.
have_emulator() {
    local v
    v=$(dpkg-query -W -f='${Version}' "$emulator" 2>/dev/null) && dpkg --compare-versions "$v" ge 1:10 &&
        [ -x /usr/bin/qemu-i386 ]
}
# The 32-bit loader comes with wine32, so this is asked only once the packages are in.
runs_32bit() { timeout 20 /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
need_emulator() {
    case ${PELLUMO_WINE32:-} in
        native) return 1 ;;
        emulated) ! have_emulator ;;
        *) ! runs_32bit && ! have_emulator ;;
    esac
}

if [ ${#missing[@]} -eq 0 ] && have_locale && ! need_emulator; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages or locale; run as root:" >&2
    echo "  sudo $0" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    dpkg --add-architecture i386
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
fi
if ! have_locale; then
    for locale_name in "${locale_names[@]}"; do
        sed -i "s/^# *\(${locale_name} UTF-8\)/\1/" /etc/locale.gen
        grep -q "^${locale_name} UTF-8" /etc/locale.gen || echo "${locale_name} UTF-8" >>/etc/locale.gen
    done
    locale-gen >/dev/null
fi
if need_emulator; then
    echo "setup: installing $emulator from bookworm-backports to run 32-bit Wine emulated"
    if [ ! -f "$backports_list" ]; then
        printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
            'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' >"$backports_list"
    fi
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    # Without recommends: qemu-user-binfmt would register handlers for the whole machine.
    apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends -t bookworm-backports "$emulator" >/dev/null
    have_emulator || { echo "setup: $emulator 10 or later did not install" >&2; exit 1; }
fi
