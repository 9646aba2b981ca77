# Installs what building and testing need, from Debian's packages, when it
# is missing. Sourced by the demo and test commands.
#   vk_need_packages PKG... : each PKG is "package:check" where check is a
#                             command that succeeds when it is present
vk_missing=()
vk_missing_lean=()  # installed without their recommended packages

vk_check() {  # package, test command
  if ! eval "$2" >/dev/null 2>&1; then vk_missing+=("$1"); fi
}

vk_check_lean() {  # package, test command
  if ! eval "$2" >/dev/null 2>&1; then vk_missing_lean+=("$1"); fi
}

vk_install_missing() {
  local all=("${vk_missing[@]}" "${vk_missing_lean[@]}")
  [ ${#all[@]} -eq 0 ] && return 0
  echo "== installing: ${all[*]}"
  local run=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
      run=(sudo)
    else
      echo "These Debian packages are missing: ${all[*]}" >&2
      echo "Install them (as root: apt-get install ${all[*]}) and run this command again." >&2
      exit 1
    fi
  fi
  "${run[@]}" apt-get update -qq
  if [ ${#vk_missing[@]} -gt 0 ]; then
    "${run[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${vk_missing[@]}" >/dev/null
  fi
  if [ ${#vk_missing_lean[@]} -gt 0 ]; then
    "${run[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      "${vk_missing_lean[@]}" >/dev/null
  fi
  vk_missing=()
  vk_missing_lean=()
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
  vk_check dpkg-dev "command -v dpkg-shlibdeps"
  vk_check_lean lintian "command -v lintian"
  # In /usr/sbin, which a user's PATH may lack.
  vk_check ser2net "command -v ser2net || test -x /usr/sbin/ser2net"
}

# The guest-kernel lane (tests/usb/lane.sh): QEMU, a static busybox, cpio
# and usbip; the kernel package itself is fetched by the lane.
vk_need_usb_lane_tools() {
  vk_check_lean qemu-system-x86 "command -v qemu-system-x86_64"
  # ldd fails on a static binary (a pipe into grep would fail with it
  # under pipefail, and the package would be installed again every time).
  vk_check busybox-static "command -v busybox && ! ldd \$(command -v busybox)"
  vk_check cpio "command -v cpio"
  vk_check usbip "command -v usbip || test -x /usr/sbin/usbip"
}

vk_need_windows_build_tools() {
  vk_check_lean g++-mingw-w64-x86-64-posix "command -v x86_64-w64-mingw32-g++-posix"
  vk_check groff-base "command -v groff"  # the man pages as text in the Windows packages
}

# cpack on the Windows build: the installer with NSIS.
vk_need_windows_package_tools() {
  vk_check_lean nsis "command -v makensis"
}

# Wine runs the Windows build's smoke tests; its 64-bit part alone runs
# 64-bit programs (no i386 architecture needed).
vk_need_wine() {
  vk_check_lean wine64 "test -x /usr/lib/wine/wine64"
  vk_check_lean wine "command -v wine"
}

vk_jobs() { nproc 2>/dev/null || echo 2; }
