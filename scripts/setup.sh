#!/usr/bin/env bash
# Installs what a bare Debian 12 machine lacks for building and testing; quiet when all is there.
set -euo pipefail

need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v make >/dev/null 2>&1 || need+=(make)
command -v mpicxx.mpich >/dev/null 2>&1 || need+=(mpich libmpich-dev)
command -v mpiexec.mpich >/dev/null 2>&1 || need+=(mpich)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev googletest)
command -v clang-format >/dev/null 2>&1 || need+=(clang-format)

if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "setup: installing ${need[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi
