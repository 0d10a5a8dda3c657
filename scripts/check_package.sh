#!/usr/bin/env bash
# Makes the Debian package from an existing build and checks it: the
# libraries, programs, headers, corvan32.pc and the CMake package under
# /usr, run-time dependencies computed from the binaries, stripped binaries,
# a versioned SONAME for every library, one version throughout, the
# copyright file and changelog, a manual page per program, every header
# compiling alone in C and C++ against the unpacked tree, and lintian
# without errors (its warnings are printed; docs/notes.md says why each
# stays).
#
#   scripts/check_package.sh BUILD_DIR      (the package lands in BUILD_DIR/package)
set -euo pipefail
build_dir=$(cd "${1:?usage: check_package.sh BUILD_DIR}" && pwd)
fail() {
  echo "check_package: $*" >&2
  exit 1
}

(cd "$build_dir" && cpack -G DEB) >"$build_dir/cpack.log" 2>&1 || {
  cat "$build_dir/cpack.log" >&2
  fail "cpack -G DEB failed"
}
deb=$(ls -t "$build_dir"/package/*.deb | head -1)
echo "$deb"
contents=$(dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./|/|; s| ->.*||')
for file in /usr/bin/zimoserver /usr/bin/zimo-drvhost /usr/bin/zimo-cardsim /usr/bin/zimo-term \
  /usr/include/corvan/corvan32.h /usr/include/corvan/corvan32_config.h; do
  grep -qx "$file" <<<"$contents" || fail "$file is not in the package"
done
for pattern in '/usr/lib/.*libcorvan32\.so\.1$' '/usr/lib/.*libcorvan32\.so$' \
  '/usr/lib/.*libvmemgr\.so$' '/usr/lib/.*pkgconfig/corvan32\.pc$' \
  '/usr/lib/.*cmake/Corvan32/Corvan32Config\.cmake$' \
  '/usr/lib/.*cmake/Corvan32/Corvan32Targets\.cmake$'; do
  grep -qE "$pattern" <<<"$contents" || fail "nothing matching $pattern in the package"
done
if grep -qE '/usr/include/corvan/(shared_table|device_user_handle|rings|ring_locks)\.h$' <<<"$contents"; then
  fail "a private header is in the package"
fi
outside=$(grep -vxE '/|/usr(/.*)?' <<<"$contents" || true)
[[ -z "$outside" ]] || fail "files outside /usr: $(head -3 <<<"$outside")"
info=$(dpkg-deb --info "$deb")
depends=$(sed -n 's/^ Depends: //p' <<<"$info")
grep -q 'libc6' <<<"$depends" || fail "no computed dependencies: '$depends'"
grep -q 'libqt6widgets6' <<<"$depends" || fail "the Qt dependency is missing: '$depends'"

# Stripped: no debug information, and a size that shows it.
work=$(mktemp -d "${TMPDIR:-/tmp}/zimo-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
root="$work/root"
size=$(stat -c %s "$deb")
# The sanitizer build packs to about 35 MB stripped (117 MB with debug information).
((size < 60 * 1024 * 1024)) || fail "the package is $((size / 1024 / 1024)) MB"
while IFS= read -r file; do
  if readelf -S "$file" 2>/dev/null | grep -qE '\.debug_(info|line)'; then
    fail "${file#"$root"} carries debug information"
  fi
done < <(find "$root/usr/bin" "$root/usr/lib" -type f \( -perm -u+x -o -name '*.so*' \))

# One version: the package's, each library's file and SONAME major,
# corvan32.pc and the CMake package.
version=$(dpkg-deb -f "$deb" Version)
major=${version%%.*}
for library in corvan32 jux170 qeldll32 vmemgr vocto voctoks; do
  file=$(find "$root/usr/lib" -name "lib$library.so.$version" -type f)
  [[ -n "$file" ]] || fail "no lib$library.so.$version in the package"
  soname=$(readelf -d "$file" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [[ "$soname" == "lib$library.so.$major" ]] || fail "lib$library's SONAME is '$soname'"
  [[ -L "$(dirname "$file")/$soname" ]] || fail "no $soname link"
done
pc_file=$(find "$root/usr/lib" -name corvan32.pc | head -1)
pc_version=$(sed -n 's/^Version: //p' "$pc_file")
[[ "$pc_version" == "$version" ]] || fail "corvan32.pc says $pc_version, the package $version"
cmake_version=$(find "$root/usr/lib" -name Corvan32ConfigVersion.cmake | head -1)
grep -qF "set(PACKAGE_VERSION \"$version\")" "$cmake_version" ||
  fail "the CMake package's version is not $version"

# Where Debian keeps the copyright and the changelog.
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$root/usr/share/doc/zimo/copyright" || fail "no machine-readable /usr/share/doc/zimo/copyright"
zcat "$root/usr/share/doc/zimo/changelog.gz" | head -1 | grep -q "^zimo ($version) " ||
  fail "the changelog does not start with version $version"

# A manual page per program.
mkdir -p "$work/home"
for program in "$root"/usr/bin/*; do
  name=$(basename "$program")
  page="$root/usr/share/man/man1/$name.1.gz"
  [[ -f "$page" ]] || fail "no manual page for $name"
  zcat "$page" | grep -q '^\.SH NAME' || fail "the manual page of $name has no NAME section"
  # Its text, read back from troff, is the program's --help as it stands.
  ZIMO_HOME="$work/home" LD_LIBRARY_PATH="$root/usr/lib" "$program" --help </dev/null \
    >"$work/help.txt" 2>/dev/null || fail "$name --help failed"
  zcat "$page" | python3 -c '
import re, sys
lines = sys.stdin.read().split("\n")
body = lines[lines.index(".nf") + 1:lines.index(".fi")]
text = "".join(re.sub(r"^\\&", "", l).replace("\\-", "-").replace("\\e", "\\") + "\n" for l in body)
sys.exit(0 if text == open(sys.argv[1]).read() else 1)' "$work/help.txt" ||
    fail "the manual page of $name is not its --help"
done

# Every installed header compiles alone, as C and as C++, against the
# unpacked tree only.
for header in "$root"/usr/include/*/*.h; do
  name=${header#"$root/usr/include/"}
  printf '#include <%s>\ntypedef int header_check;\n' "$name" >"$work/alone.c"
  cc -std=c99 -Wall -Wextra -Werror -pedantic -I"$root/usr/include" -fsyntax-only "$work/alone.c" ||
    fail "$name does not compile alone as C"
  cp "$work/alone.c" "$work/alone.cc"
  c++ -std=c++17 -Wall -Wextra -Werror -pedantic -I"$root/usr/include" -fsyntax-only \
    "$work/alone.cc" || fail "$name does not compile alone as C++"
done

# lintian: no errors; its warnings are listed.
if command -v lintian >/dev/null; then
  lintian --no-tag-display-limit "$deb" >"$work/lintian.txt" 2>&1 || true
  if grep -q '^E: ' "$work/lintian.txt"; then
    grep '^E: ' "$work/lintian.txt" >&2
    fail "lintian finds errors"
  fi
  echo "lintian:"
  cat "$work/lintian.txt"
else
  fail "lintian is not installed"
fi

echo "Contents:"
grep -v '/$' <<<"$contents"
echo "Depends: $depends"
