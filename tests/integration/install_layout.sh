#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses it from there the way
# a host does: the installed svcsnap finds the installed plug-in and platform
# library, and a program built through the installed pkg-config files links
# the platform and CIM libraries.
#   install_layout.sh <build dir> <c++ compiler>
set -euo pipefail
build=$1
cxx=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
unset LD_LIBRARY_PATH PKG_CONFIG_PATH SVCSNAP_CONFIG
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$HOME"

fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log" >&2; fail "cmake --install"; }

libdir=$(dirname "$(find "$prefix" -name libzqsoibmsvc.so -print -quit)")
[ "$libdir" != . ] || fail "no libzqsoibmsvc.so installed"
for f in bin/svcsnap bin/svcsim bin/zqcim include/zqso/zqso.h include/zqplatform/ZqPlatformRegistry.h \
         include/zqcim/cim/CIMClient.h; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done
for f in libzqplatform.so libzqplatform.so.1 libzqcim.a pkgconfig/zqplatform.pc pkgconfig/zqcim.pc \
         pkgconfig/zqso.pc; do
  [ -e "$libdir/$f" ] || fail "$f not installed in $libdir"
done

svcsnap=$prefix/bin/svcsnap
"$svcsnap" --help >"$work/help" || fail "svcsnap --help"
grep -q version "$work/help" || fail "svcsnap --help lists no commands"

# The plug-in and the platform library are the installed ones, not the
# build tree's.
"$svcsnap" --json version >"$work/version" || { cat "$work/version" >&2; fail "svcsnap version"; }
plugin=$(sed -n 's/.*"path": *"\([^"]*\)".*/\1/p' "$work/version" | head -1)
[ -n "$plugin" ] || { cat "$work/version" >&2; fail "svcsnap version names no plug-in"; }
[ "$(realpath "$plugin")" = "$(realpath "$libdir/libzqsoibmsvc.so")" ] ||
  fail "svcsnap loaded $plugin, not the installed plug-in"
platform=$(ldd "$svcsnap" | sed -n 's/.*libzqplatform.so.1 => \([^ ]*\).*/\1/p')
[ "$(realpath "$platform")" = "$(realpath "$libdir/libzqplatform.so.1")" ] ||
  fail "svcsnap links ${platform:-no libzqplatform.so.1}, not the installed one"
"$prefix/bin/svcsim" --help >/dev/null || fail "svcsim --help"

# The manual page and the bash completion, both written from the command line.
man=$prefix/share/man/man1/svcsnap.1.gz
[ -f "$man" ] || fail "share/man/man1/svcsnap.1.gz not installed"
zcat "$man" >"$work/svcsnap.1" || fail "svcsnap.1.gz is not gzip"
for section in NAME SYNOPSIS COMMANDS "EXIT STATUS" CONFIGURATION; do
  grep -q "^\.SH \"\?$section" "$work/svcsnap.1" || fail "the manual page has no section $section"
done
grep -q '^\.SS "array remove"' "$work/svcsnap.1" || fail "the manual page lacks the command array remove"
if command -v man >/dev/null; then
  man -l "$man" 2>&1 | grep -q "the provider refused the credentials" || fail "man cannot render svcsnap.1.gz"
fi
completion=$prefix/share/bash-completion/completions/svcsnap
[ -f "$completion" ] || fail "share/bash-completion/completions/svcsnap not installed"
# Completes commands, their options and the catalogue's job names.
"$svcsnap" --quiet prepare nightly /dev/zq-no-such-disk >/dev/null 2>&1 || true
complete_words() {
  PATH=$prefix/bin:$PATH bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _svcsnap
                                  echo "${COMPREPLY[*]}"' _ "$completion" "$@"
}
[ "$(complete_words svcsnap array r)" = remove ] || fail "completion of 'svcsnap array r': $(complete_words svcsnap array r)"
[ "$(complete_words svcsnap array remove --f)" = --force ] || fail "completion of 'array remove --f'"
[ "$(complete_words svcsnap --quiet show n)" = nightly ] ||
  fail "completion of 'svcsnap --quiet show n': $(complete_words svcsnap --quiet show n)"
"$prefix/bin/zqcim" --help >/dev/null || fail "zqcim --help"

# The main job against the in-process simulator, once the agent has it.
if grep -qE '^ +demo ' "$work/help"; then
  "$svcsnap" demo >"$work/demo" 2>&1 || { tail -30 "$work/demo" >&2; fail "svcsnap demo"; }
fi

# A host program built against the installed headers and libraries.
cat >"$work/host.cpp" <<'CPP'
#include <cstdio>

#include "ZqPlatformVersion.h"
#include "cim/CIMObjectPath.h"
#include "zqso/zqso.h"

int main() {
    uint16_t major = 0, minor = 0;
    zqplatform_version(&major, &minor);
    Pegasus::CIMObjectPath path("//svc:5989/root/ibm:IBMTSSVC_StorageVolume.DeviceID=\"7\"");
    std::printf("%u %s\n", unsigned(major), path.toString().c_str());
    return major == ZQPLATFORM_VERSION_MAJOR ? 0 : 1;
}
CPP
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
"$cxx" -std=c++17 -o "$work/host" "$work/host.cpp" $(pkg-config --cflags --libs zqso zqcim) ||
  fail "a program does not build with pkg-config zqso zqcim"
out=$(LD_LIBRARY_PATH=$libdir "$work/host") || fail "the program built against the install fails: $out"
case "$out" in
  *IBMTSSVC_StorageVolume*) ;;
  *) fail "the program printed: $out" ;;
esac
echo "installed into $prefix and used from there"
