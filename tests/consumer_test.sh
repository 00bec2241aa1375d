#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and builds examples/consumer against the
# installed CMake package, then against pkg-config, and runs both programs.
set -euo pipefail
build=$1 source=$2 sanitize=${3:-}
# A library built with sanitizers needs a consumer built with the same ones.
flags=""
[ -n "$sanitize" ] && flags="-fsanitize=$sanitize"
work=$(mktemp -d "${TMPDIR:-/tmp}/qmsec-consumer.XXXXXX")
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$source/examples/consumer" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
    -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$work/build" >/dev/null
# No LD_LIBRARY_PATH: the installed security library finds the layer beside it by itself.
env -u LD_LIBRARY_PATH "$work/build/consumer" | tee "$work/out.txt"
grep -q "consumer linked" "$work/out.txt"
libdir=$(ls -d "$work"/prefix/lib*/pkgconfig | head -n1)
PKG_CONFIG_PATH="$libdir" c++ $flags -o "$work/pc-consumer" "$source/examples/consumer/main.cpp" \
    $(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs qmseccore)
LD_LIBRARY_PATH="$work/prefix/lib" "$work/pc-consumer" | grep -q "consumer linked"
# The security library alone, loaded with no search path at all: it finds the layer beside it.
libs=$(dirname "$libdir")
readelf -d "$libs/libQmSecCore.so" | grep -Eq 'R(UN)?PATH.*\$ORIGIN'
[ -n "$sanitize" ] || env -u LD_LIBRARY_PATH python3 -c "import ctypes, sys; ctypes.CDLL(sys.argv[1])" "$libs/libQmSecCore.so.1"
echo "consumer builds against the installed package (CMake and pkg-config)"
