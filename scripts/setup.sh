#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine, when it is missing.
# Needs root (or sudo) only when something has to be installed.
set -euo pipefail

need=()
command -v g++ >/dev/null || need+=(g++)
command -v clang++ >/dev/null || need+=(clang)
command -v cmake >/dev/null || need+=(cmake)
command -v make >/dev/null || need+=(make)
command -v tmux >/dev/null || need+=(tmux)
command -v python3 >/dev/null || need+=(python3)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev googletest)
[ -f /usr/include/gmock/gmock.h ] || need+=(libgmock-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
command -v x86_64-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-x86-64-win32)
command -v i686-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-i686-win32)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v wine >/dev/null || need+=(wine wine64)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v valgrind >/dev/null || need+=(valgrind)
compgen -G '/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
    need+=(libclang-rt-14-dev)

if [ ${#need[@]} -gt 0 ]; then
    echo "setup: installing ${need[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${need[@]}"
fi
