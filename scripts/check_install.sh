#!/usr/bin/env bash
# Checks an installed tree the way a client programmer and a lab machine
# use it: installs the build BUILD_DIR into a scratch prefix, checks what was
# installed, builds examples/ against that prefix with pkg-config and with
# CMake's find_package, and runs both against the installed simulated card
# and server in a scratch ZIMO_HOME, with nothing of the build or source
# tree on any search path.
#
#   scripts/check_install.sh BUILD_DIR
#
# EXAMPLE_CFLAGS and EXAMPLE_LDFLAGS are added to the example's build (the
# sanitizer flags when BUILD_DIR is a sanitizer build).
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(cd "${1:?usage: check_install.sh BUILD_DIR}" && pwd)
cflags=${EXAMPLE_CFLAGS:-}
ldflags=${EXAMPLE_LDFLAGS:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/zimo-install-XXXXXX")
prefix="$work/prefix"
card_pid=""
fail() {
  echo "check_install: $*" >&2
  exit 1
}
cleanup() {
  if [[ -n "$card_pid" ]] && kill -0 "$card_pid" 2>/dev/null; then
    kill -TERM "$card_pid" 2>/dev/null || true
    wait "$card_pid" 2>/dev/null || true
  fi
  # ZimoServer ends by itself shortly after its last client; its home stays
  # until then.
  for _ in $(seq 1 100); do
    [[ -e "$work/home/run/ZimoServer.sock" ]] || break
    sleep 0.1
  done
  rm -rf "$work"
}
trap cleanup EXIT

cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log" || {
  cat "$work/install.log" >&2
  fail "cmake --install failed"
}
libdir=$(sed -n 's|^libdir=\${prefix}/||p' "$prefix"/lib*/pkgconfig/corvan32.pc)
[[ -n "$libdir" ]] || fail "no corvan32.pc under $prefix"

# What is there: the shipped programs and libraries, the public headers and
# no private ones, one SONAME, only C exports.
for program in zimoserver zimo-drvhost zimo-cardsim zimo-term zimo-plcc; do
  [[ -x "$prefix/bin/$program" ]] || fail "bin/$program not installed"
done
for library in libcorvan32.so libcorvan32.so.1 libvmemgr.so; do
  [[ -e "$prefix/$libdir/$library" ]] || fail "$libdir/$library not installed"
done
for header in corvan32.h command_api.h device_api.h corvan32_config.h; do
  [[ -f "$prefix/include/corvan/$header" ]] || fail "include/corvan/$header not installed"
done
for header in shared_table.h device_user_handle.h rings.h ring_locks.h; do
  [[ ! -e "$prefix/include/corvan/$header" ]] || fail "private header $header installed"
done
[[ -f "$prefix/$libdir/cmake/Corvan32/Corvan32Config.cmake" ]] || fail "no CMake package"
soname=$(readelf -d "$prefix/$libdir/libcorvan32.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ "$soname" == libcorvan32.so.1 ]] || fail "SONAME is '$soname', not libcorvan32.so.1"
leaked=$(nm -D --defined-only "$prefix/$libdir/libcorvan32.so" | awk '$2 ~ /^[TWDBRVi]$/ && $3 ~ /^_Z/ {print $3}')
[[ -z "$leaked" ]] || fail "C++ symbols exported: $(echo "$leaked" | head -5)"
for file in "$prefix"/bin/* "$prefix/$libdir"/*.so; do
  if readelf -d "$file" 2>/dev/null | grep -E 'R(UN)?PATH' | grep -qF -e "$build_dir" -e "$source_dir"; then
    fail "$file searches the build or source tree"
  fi
done

# Every installed header compiles alone as C99.
for header in "$prefix"/include/*/*.h; do
  printf '#include <%s>\ntypedef int header_check;\n' "${header#"$prefix/include/"}" >"$work/alone.c"
  cc -std=c99 -Wall -Wextra -Werror -pedantic -I"$prefix/include" -fsyntax-only "$work/alone.c" ||
    fail "${header#"$prefix/"} does not compile as C"
done

# The example, with pkg-config and with find_package.
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
# shellcheck disable=SC2046,SC2086
cc -std=c99 -Wall -Werror $cflags $(pkg-config --cflags corvan32) "$source_dir/examples/ask_card.c" \
  -o "$work/ask_card_pkgconfig" $(pkg-config --libs corvan32) $ldflags \
  -Wl,-rpath,"$prefix/$libdir" || fail "the example does not build with pkg-config"
cmake -S "$source_dir/examples" -B "$work/examples" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="-Wall -Werror $cflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  >"$work/examples.log" 2>&1 &&
  cmake --build "$work/examples" >>"$work/examples.log" 2>&1 || {
  cat "$work/examples.log" >&2
  fail "the example does not build with find_package(Corvan32)"
}

# A scratch home, the installed programs only.
export ZIMO_HOME="$work/home"
unset ZIMO_BIN_DIR
export PATH="/usr/bin:/bin"
mkdir -p "$ZIMO_HOME"
cd "$work"
"$prefix/bin/zimoserver" -RegServer || fail "zimoserver -RegServer failed"
grep -qF "$prefix/bin/zimoserver" "$ZIMO_HOME/registry.reg" ||
  fail "the server's registration does not name the installed program"
# The driver services start the installed driver host.
"$prefix/bin/zimo-drvhost" --install >/dev/null || fail "zimo-drvhost --install failed"
launcher=$(find "$ZIMO_HOME/windows" -iname ZimoPCI.SYS)
[[ -x "$launcher" ]] || fail "no launcher for the ZimoPCI service"
launcher_help=$("$launcher" --help) || fail "the ZimoPCI launcher failed"
grep -q '^usage: zimo-drvhost' <<<"$launcher_help" || fail "the ZimoPCI launcher does not start zimo-drvhost"
"$prefix/bin/zimo-drvhost" --uninstall || fail "zimo-drvhost --uninstall failed"
[[ ! -e "$launcher" ]] || fail "zimo-drvhost --uninstall left $launcher"

"$prefix/bin/zimo-cardsim" --model older --pty --com 1 --no-stdin >"$work/card.out" 2>&1 &
card_pid=$!
for _ in $(seq 1 100); do
  grep -qx ready "$work/card.out" 2>/dev/null && break
  kill -0 "$card_pid" 2>/dev/null || fail "zimo-cardsim ended early: $(cat "$work/card.out")"
  sleep 0.05
done
grep -qx ready "$work/card.out" || fail "zimo-cardsim did not get ready"
# Device 0 is the card on COM1, written by hand as docs/configuration.md
# shows. The PLC compiler, run first, starts the server and compiles for the
# card the server identified.
printf '\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Device0]\r\n"Location"=dword:00000002\r\n"Enumeration"=dword:00000001\r\n' \
  >>"$ZIMO_HOME/registry.reg"
printf 'OPEN PLCC 1\r\nP1=P1+1\r\nCLOSE\r\n' >"$work/plc.pmc"
plcc=$("$prefix/bin/zimo-plcc" -d 0 "$work/plc.pmc" "$work/plc.56k" 2>&1) ||
  fail "zimo-plcc -d 0 right after the card's start: $plcc"
[[ "$plcc" =~ ^result\ 0,\ words\ [1-9][0-9]*$ ]] || fail "zimo-plcc -d 0 printed: $plcc"
"$prefix/bin/zimo-term" -d 0 -s 1 </dev/null || fail "zimo-term could not register device 0 on COM1"

for example in "$work/ask_card_pkgconfig" "$work/examples/ask_card"; do
  output=$("$example" 0 I10) || fail "$example failed: $output"
  expected=$'I10\n3713707\nresult 0x80000008'
  [[ "$output" == "$expected" ]] || fail "$example printed:
$output
expected:
$expected"
  echo "$example:"
  echo "$output"
done
