#!/usr/bin/env bash
# install_test.sh BUILD SOURCE SANITIZE: installs the library into a folder of
# its own, builds the README's first program against it, and builds the hello
# example outside the tree against it four ways,
# as the README tells a programmer to: with pkg-config and with
# find_package(Ravlin), against the shared and against the static library.
# Each program must link as asked (libravlin.so.2 needed by the shared builds
# only) and run on a virtual display of its own for a few frames, ending with
# 0 and no sanitizer report. SANITIZE ON builds them with the sanitizers the
# installed library was built with.
set -euo pipefail
build="$1"
source="$2"
sanitize="${3:-OFF}"
work="$(mktemp -d /tmp/ravlin-install-XXXXXX)"
XVFB_PID=""
cleanup() {
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "$*"; exit 1; }

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "the install failed"; }
for f in include/ravlin.h lib/libravlin.a lib/libravlin.so lib/libravlin.so.2 lib/pkgconfig/ravlin.pc \
         lib/cmake/Ravlin/RavlinConfig.cmake lib/cmake/Ravlin/RavlinConfigVersion.cmake share/doc/ravlin/LICENSE; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
soname="$(readelf -d "$prefix/lib/libravlin.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')"
[ "$soname" = "libravlin.so.2" ] || fail "soname is \"$soname\", not libravlin.so.2"

# The program's own choice of flags: strict C99, and the sanitizers when the
# library has them.
cflags=(-std=c99 -Wall -Wextra -pedantic -Werror)
ldflags=()
if [ "$sanitize" = ON ]; then
  cflags+=(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  ldflags+=(-fsanitize=address,undefined)
fi
example="$source/examples/hello.c"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"

# pkg-config: the shared library, found at run time where it was installed.
# shellcheck disable=SC2046
cc "${cflags[@]}" "$example" -o "$work/pkg-config-shared" $(pkg-config --cflags --libs ravlin) \
  -Wl,-rpath,"$(pkg-config --variable=libdir ravlin)" "${ldflags[@]}" 2>"$work/cc.log" ||
  { cat "$work/cc.log"; fail "pkg-config, shared: the build failed"; }
# The first program of the README, which the reference shows as well, builds
# as it is written there.
extract() { awk '/^```c$/ { on = 1; next } /^```$/ { on = 0 } on' "$1"; }
extract "$source/README.md" >"$work/first.c"
[ -s "$work/first.c" ] || fail "no C program in the README"
extract "$source/docs/mainpage.md" | cmp -s - "$work/first.c" || fail "the README's first program and the reference's differ"
# shellcheck disable=SC2046
cc "${cflags[@]}" "$work/first.c" -o "$work/first" $(pkg-config --cflags --libs ravlin) "${ldflags[@]}" \
  2>"$work/cc.log" || { cat "$work/cc.log"; fail "the README's first program does not build"; }

# pkg-config --static: the archive by its file name, then what it needs.
libs="$(pkg-config --static --libs ravlin)"
# shellcheck disable=SC2046,SC2086
cc "${cflags[@]}" "$example" -o "$work/pkg-config-static" $(pkg-config --cflags ravlin) ${libs/-lravlin/-l:libravlin.a} \
  "${ldflags[@]}" 2>"$work/cc.log" || { cat "$work/cc.log"; fail "pkg-config, static: the build failed"; }

# find_package(Ravlin): a C project of its own outside the tree.
for kind in shared static; do
  static=OFF
  [ "$kind" = static ] && static=ON
  if ! { cmake -S "$source/tests/library/outside" -B "$work/cmake-$kind" -DCMAKE_PREFIX_PATH="$prefix" \
           -DEXAMPLE="$example" -DRAVLIN_STATIC=$static -DCMAKE_C_FLAGS="${cflags[*]}" \
           -DCMAKE_EXE_LINKER_FLAGS="${ldflags[*]}" &&
         cmake --build "$work/cmake-$kind"; } >"$work/cmake-$kind.log" 2>&1; then
    cat "$work/cmake-$kind.log"
    fail "find_package, $kind: the build failed"
  fi
  cp "$work/cmake-$kind/example" "$work/find_package-$kind"
done

programs=(pkg-config-shared pkg-config-static find_package-shared find_package-static)
for p in "${programs[@]}"; do
  needed="$(readelf -d "$work/$p" | grep -c 'NEEDED.*libravlin\.so\.2' || true)"
  case "$p" in
    *-shared) [ "$needed" = 1 ] || fail "$p does not use libravlin.so.2" ;;
    *-static) [ "$needed" = 0 ] || fail "$p uses libravlin.so.2, not the static library" ;;
  esac
done

. "$source/scripts/xvfb.sh"
start_xvfb 640x480x24
# No sound card here: the sound device plays to nothing.
printf '[general]\ndrivers=null\n' >"$work/alsoft.conf"
export ALSOFT_CONF="$work/alsoft.conf" GSETTINGS_BACKEND=memory
# A program built here unwinds its allocations the fast way, which stops in
# fontconfig: its start-up allocations cannot be told from ours by their
# callers (the library's unit tests do, with whole stacks), so fontconfig is
# left out as a whole, as the tree's own programs leave it out.
{ cat "$source/tests/lsan.supp"; echo "leak:libfontconfig.so"; } >"$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp:print_suppressions=0"
for p in "${programs[@]}"; do
  rc=0
  (cd "$work" && exec "$work/$p" 20) >"$work/$p.out" 2>"$work/$p.err" || rc=$?
  if [ "$rc" != 0 ] || grep -qE 'Sanitizer|runtime error' "$work/$p.err"; then
    cat "$work/$p.err"
    fail "$p ended with $rc"
  fi
  echo "$p: built, linked as asked, ran 20 frames"
done
