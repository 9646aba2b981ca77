# Installs what building and testing need, from Debian's packages, when it
# is missing. Sourced by the demo and test commands.
#   vk_need_packages PKG... : each PKG is "package:check" where check is a
#                             command that succeeds when it is present
vk_missing=()

vk_check() {  # package, test command
  if ! eval "$2" >/dev/null 2>&1; then vk_missing+=("$1"); fi
}

vk_install_missing() {
  [ ${#vk_missing[@]} -eq 0 ] && return 0
  echo "== installing: ${vk_missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
      sudo apt-get update -qq && sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${vk_missing[@]}"
      return
    fi
    echo "These Debian packages are missing: ${vk_missing[*]}" >&2
    echo "Install them (as root: apt-get install ${vk_missing[*]}) and run this command again." >&2
    exit 1
  fi
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${vk_missing[@]}" >/dev/null
}

vk_need_build_tools() {
  vk_check cmake "command -v cmake"
  vk_check g++ "command -v g++"
  vk_check make "command -v make"
}

vk_need_test_tools() {
  vk_need_build_tools
  vk_check libgtest-dev "test -f /usr/include/gtest/gtest.h"
  vk_check python3-serial "/usr/bin/python3 -c 'import serial.rfc2217'"
  vk_check clang "command -v clang++"
  vk_check libclang-rt-14-dev "ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.asan-x86_64.a"
  vk_check srecord "command -v srec_cat"
}

vk_need_windows_build_tools() {
  vk_check g++-mingw-w64-x86-64-posix "command -v x86_64-w64-mingw32-g++-posix"
}

# Wine runs the Windows build's smoke tests; the 64-bit loader alone is
# enough for 64-bit programs (no i386 architecture needed).
vk_need_wine() {
  vk_check wine64 "test -x /usr/lib/wine/wine64"
  vk_check wine "command -v wine"
}

vk_jobs() { nproc 2>/dev/null || echo 2; }
