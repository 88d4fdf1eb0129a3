#!/usr/bin/env bash
# Installs everything Pellumo needs to build, run and test on Debian 12.
# Idempotent: a second run finds everything in place and changes nothing.
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
locale_name="zh_CN.UTF-8"

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    missing=("${packages[@]}")
else
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
fi
have_locale() { locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; }

if [ ${#missing[@]} -eq 0 ] && have_locale; then
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
    sed -i "s/^# *\(${locale_name} UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${locale_name} UTF-8" /etc/locale.gen || echo "${locale_name} UTF-8" >>/etc/locale.gen
    locale-gen >/dev/null
fi
