#!/bin/bash
# Installs what a fresh Debian machine lacks to build and test the tool:
# compilers, CMake, Ninja, GoogleTest, clang (fuzzing), groff (the manual
# page test), the en_US locale that the tool's grouped numbers
# ("%'lu" -> 1,234,567) need, the HTTP response parser of vt_replay and
# nginx for its end-to-end tests, Chromium, in which the test of
# `vt_package plot` opens the plot, and strace, with which a test watches
# which files the programs open on closed standard descriptors.
set -euo pipefail

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

need=()
command -v g++ >/dev/null || need+=(g++)
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v clang++ >/dev/null || need+=(clang)
command -v groff >/dev/null || need+=(groff-base)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -d /usr/share/i18n/locales ] && command -v localedef >/dev/null || need+=(locales)
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
[ -f /usr/include/http_parser.h ] || need+=(libhttp-parser-dev)
[ -x /usr/sbin/nginx ] || need+=(nginx)
command -v chromium >/dev/null || need+=(chromium)
command -v strace >/dev/null || need+=(strace)

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi

if ! locale -a 2>/dev/null | grep -qx 'en_US'; then
  echo "setup: generating the en_US locale"
  $SUDO localedef -i en_US -f ISO-8859-1 en_US
fi
