#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, then builds and runs a
# program that parses a packet template and reads a value through the
# installed headers and libraries, once through their CMake packages and
# once through their pkg-config files.
set -euo pipefail
build_dir=$1
source_dir=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
test -x "$work/prefix/bin/ferrox"
test -f "$work/prefix/config/ferrox.cfg"
test -d "$work/prefix/log"
test -f "$work/prefix/config/de_input.csv"
# An installation over it keeps what the operator changed, the example's
# version beside it; an unchanged file gets no copy.
cp "$work/prefix/config/ferrox.cfg" "$work/example.cfg"
echo "<!-- the operator's -->" >> "$work/prefix/config/ferrox.cfg"
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
grep -q "the operator's" "$work/prefix/config/ferrox.cfg"
cmp "$work/example.cfg" "$work/prefix/config/ferrox.cfg.new"
if test -e "$work/prefix/config/de_input.csv.new"; then
    echo "an unchanged configuration file got an example copy beside it" >&2
    exit 1
fi

cmake -S "$source_dir/consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" \
      -DKORVA_LIBDIR="$work/prefix/lib" >/dev/null
cmake --build "$work/build" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib" "$work/build/consumer" | grep -qx linked

# The same program built with nothing but the pkg-config files.
export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
pkg-config --exists korvadatapacket sundry5
pkg-config --libs korvadatapacket | grep -q -- -lKORVADataPacket
# CXXFLAGS and LDFLAGS as the caller set them (the sanitizer build's flags,
# without which its libraries cannot be linked), as cmake takes them above.
# shellcheck disable=SC2046,SC2086 # the flags are meant to split
c++ -std=c++17 -fPIC ${CXXFLAGS:-} -o "$work/consumer-pc" "$source_dir/consumer/main.cpp" \
    $(pkg-config --cflags --libs korvadatapacket sundry5) ${LDFLAGS:-}
LD_LIBRARY_PATH="$work/prefix/lib" "$work/consumer-pc" | grep -qx linked
echo "installed package OK"
