#!/usr/bin/env bash
# Makes the Debian package from an existing build and checks it: the
# libraries, programs, headers, corvan32.pc and the CMake package under
# /usr, and run-time dependencies computed from the binaries.
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
echo "Contents:"
grep -v '/$' <<<"$contents"
echo "Depends: $depends"
