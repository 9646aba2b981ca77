#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the files and runs
# installed programs; then builds the Debian package with cpack and checks
# its contents (skipped when dpkg-deb is absent).
#   install_test.sh BUILD_DIR VERSION PROGRAM...
# CMAKE and CPACK name the cmake and cpack commands.
set -euo pipefail
build=$1 version=$2
shift 2
programs=("$@")
cmake=${CMAKE:-cmake} cpack=${CPACK:-cpack}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

p=$tmp/prefix
"$cmake" --install "$build" --prefix "$p" >"$tmp/install.log" || { cat "$tmp/install.log"; fail "cmake --install"; }
for name in "${programs[@]}"; do
  [ -x "$p/bin/$name" ] || fail "$p/bin/$name missing"
  [ -f "$p/share/man/man1/$name.1.gz" ] || [ -f "$p/share/man/man1/$name.1" ] || fail "man page $name.1 missing"
  [ -f "$p/share/bash-completion/completions/$name" ] || fail "completion for $name missing"
done
for doc in README.md copyright changelog.gz; do [ -f "$p/share/doc/vktools/$doc" ] || fail "$doc missing"; done
zcat "$p/share/doc/vktools/changelog.gz" | head -1 | grep -qx "vktools ($version) unstable; urgency=medium" \
  || fail "the changelog's first entry is not for $version"
bash -c '. "$1"; complete -p vkburn vksim vkports' _ "$p/share/bash-completion/completions/vkburn" >/dev/null \
  || fail "the completion file does not define the completions"

completes() {  # DIR WORD...: what the installed completion offers for the last WORD, in a line
  (cd "$1" && shift && bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    fn=_vktools; [ "$1" = vksim ] && fn=_vksim; $fn "$1"; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$p/share/bash-completion/completions/vktools" "$@" | sort | tr '\n' ' ')
}
lanes=$tmp/lanes
mkdir -p "$lanes/sub"
touch "$lanes"/BLINK.X{0,1,2,3} "$lanes"/lower.x{0,1,2,3} "$lanes/sub/LAMP.X0" "$lanes/rec.trace"
while IFS='|' read -r words want; do
  eval "set -- $words"  # "" stands for an empty word
  got=$(completes "$lanes" "$@")
  [ "$got" = "$want" ] || fail "completion of '$words': got '$got', want '$want'"
done <<'ROWS'
vkburn b|BLINK 
vkram ""|BLINK sub 
vkburn sub/l|sub/LAMP 
vkburn low| 
vksim --replay r|rec.trace 
vksim --vers|--version 
ROWS
[ "$("$p/bin/vksim" --version)" = "vksim $version" ] || fail "vksim --version"

out=$("$p/bin/vkports" --help) || fail "vkports --help exited with $?"
grep -q '^usage: vkports' <<<"$out" || fail "vkports --help: $out"
[ "$("$p/bin/vkports" --version)" = "vkports $version" ] || fail "vkports --version"
nowhere=rfc2217://127.0.0.1:1
set +e
out=$(cd "$tmp" && VK_COM1=$nowhere VK_COM2=$nowhere VK_COM3=$nowhere VK_COM4=$nowhere \
      XDG_CONFIG_HOME=$tmp/config "$p/bin/vklist" -H)
rc=$?
set -e
[ $rc -eq 0 ] || fail "vklist -H exited with $rc"
grep -q '^Usage: VKLIST \[-C<n>\]' <<<"$out" || fail "vklist -H: $out"
echo "installed into a temporary prefix: ${#programs[@]} programs, man pages, completions, README"

# The install section's build on a machine without GoogleTest: the programs only.
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
"$cmake" -S "$source_dir" -B "$tmp/no-gtest" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >"$tmp/no-gtest.log" 2>&1 \
  || { cat "$tmp/no-gtest.log"; fail "configuring without GoogleTest"; }
grep -q '^VK_TESTS:BOOL=OFF$' "$tmp/no-gtest/CMakeCache.txt" || fail "tests enabled without GoogleTest"
[ ! -e "$tmp/no-gtest/tests" ] || fail "a tests directory was configured without GoogleTest"
echo "configured without GoogleTest: the programs only"

if ! command -v dpkg-deb >/dev/null; then
  echo "skipping the Debian package: dpkg-deb not found"
  exit 0
fi
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/package" >"$tmp/cpack.log" 2>&1 \
  || { cat "$tmp/cpack.log"; fail "cpack -G DEB"; }
debs=("$tmp"/package/vktools_"$version"_*.deb)
[ -f "${debs[0]}" ] || { cat "$tmp/cpack.log"; fail "no vktools_${version}_ARCH.deb"; }
contents=$(dpkg-deb -c "${debs[0]}")
for name in "${programs[@]}"; do
  grep -q " \./usr/bin/$name\$" <<<"$contents" || fail "package lacks /usr/bin/$name"
  grep -q " \./usr/share/man/man1/$name\.1\(\.gz\)\?\$" <<<"$contents" || fail "package lacks man page $name.1"
done
depends=$(dpkg-deb -f "${debs[0]}" Depends)
[ -n "$depends" ] || fail "package has no Depends (is dpkg-shlibdeps, package dpkg-dev, installed?)"
[ "$(dpkg-deb -f "${debs[0]}" Section)" = devel ] || fail "package section"
for doc in copyright changelog.gz; do grep -q " \./usr/share/doc/vktools/$doc\$" <<<"$contents" || fail "no $doc"; done
echo "package ${debs[0]##*/}: Depends: $depends"
if command -v lintian >/dev/null; then  # Debian's own checks: no errors (the README names its warnings)
  lintian --fail-on error "${debs[0]}" >"$tmp/lintian.log" 2>&1 || { cat "$tmp/lintian.log"; fail "lintian"; }
  echo "lintian: no errors"
else echo "skipping lintian: not installed"; fi
