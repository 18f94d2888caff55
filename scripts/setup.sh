#!/bin/bash
# Installs what a fresh Debian machine lacks to build and test the tool:
# compilers, CMake, Ninja, GoogleTest, clang (fuzzing), groff (the manual
# page test), the en_US locale that the tool's grouped numbers
# ("%'lu" -> 1,234,567) need, the HTTP parser of vt_replay and vt_sink,
# OpenSSL (vt_replay's TLS, and the openssl command that makes the tests'
# certificates), the header-only JSON library with which the programs read
# and write the manifest and reports, libxxhash (the digests of a package's
# manifest) and the xxh128sum command a test checks them with, nginx for its
# end-to-end tests, Chromium, in which the test of `vt_package plot` opens
# the plot, strace, with which a test watches which files the programs open
# on closed standard descriptors, and
# dpkg-dev, whose dpkg-shlibdeps finds the Debian package's dependencies
# (`make deb`). Python 3 runs the fault generator of `make mutate-random` and
# its test.
#
#   scripts/setup.sh [--coverage]   (--coverage: also gcovr, for `make coverage`)
set -euo pipefail

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

need=()
command -v g++ >/dev/null || need+=(g++)
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v clang++ >/dev/null || need+=(clang)
command -v groff >/dev/null || need+=(groff-base)
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -d /usr/share/i18n/locales ] && command -v localedef >/dev/null || need+=(locales)
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
[ -f /usr/include/http_parser.h ] || need+=(libhttp-parser-dev)
[ -f /usr/include/openssl/ssl.h ] || need+=(libssl-dev)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
[ -f /usr/include/xxhash.h ] || need+=(libxxhash-dev)
command -v xxh128sum >/dev/null || need+=(xxhash)
command -v openssl >/dev/null || need+=(openssl)
[ -d /etc/ssl/certs ] || need+=(ca-certificates)
[ -x /usr/sbin/nginx ] || need+=(nginx)
command -v chromium >/dev/null || need+=(chromium)
command -v strace >/dev/null || need+=(strace)
command -v python3 >/dev/null || need+=(python3)
if [ "${1:-}" = --coverage ]; then command -v gcovr >/dev/null || need+=(gcovr); fi

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi

if ! locale -a 2>/dev/null | grep -qx 'en_US'; then
  echo "setup: generating the en_US locale"
  $SUDO localedef -i en_US -f ISO-8859-1 en_US
fi
