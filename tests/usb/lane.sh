#!/bin/bash
# The programs through real Linux USB serial drivers: boots Debian's 6.1
# kernel under QEMU (TCG) with a busybox initramfs, attaches vksim's
# emulated adapters through vhci-hcd (usbip attach) inside the guest, and
# runs tests/usb/scenarios against /dev/ttyUSB0 through ftdi_sio, cp210x,
# ch341 and pl2303. The guest prints one "LANE" line per result on its
# console; this side compares them and fails on any difference, on a
# missing result, or on a guest that does not finish within its bound.
#
#   tests/usb/lane.sh BIN_DIR [WORK_DIR]
#   tests/usb/lane.sh BIN_DIR WORK_DIR --run SCRIPT [FILE...]
#
# The second form boots the same guest to run SCRIPT in place of the
# scenarios (bench/usb-guest.sh): the guest sources it with the functions
# below at hand and the FILEs in /lane; what it writes to /dev/ttyS1 ends up
# in WORK_DIR/ttyS1.out, its LANE lines in WORK_DIR/results.
#
# Needs qemu-system-x86, busybox-static, cpio, usbip, a C compiler and the
# kernel package (fetched with apt-get download, unpacked, never
# installed). A lane that cannot run fails with the reason. The same file
# is the guest's /init.
set -u

# The emulated adapters: chip, driver, what vkports shows on its usb line,
# and its latency timer line after a tool has used the port ("-" none).
ADAPTERS='ft232r ftdi_sio 0403:6001,_serial_VK232R01 1_ms
cp2102 cp210x 10c4:ea60,_serial_0001 -
ch340 ch341-uart 1a86:7523,_serial_VK340001 -
pl2303 pl2303 067b:2303,_serial_VK230301 -'

# ---------------------------------------------------------------- guest --
if [ "$$" = 1 ]; then
  set +u
  /bin/busybox --install -s /bin
  export PATH=/bin
  mount -t proc proc /proc && mount -t sysfs sys /sys && mount -t devtmpfs dev /dev && mount -t tmpfs tmp /tmp
  for m in usb-common usbcore usbip-core vhci-hcd usbserial ftdi_sio cp210x ch341 pl2303; do
    insmod /mod/$m.ko || echo "LANE fail insmod $m"
  done
  ip link set lo up
  COMS="VK_COM2=rfc2217://127.0.0.1:9 VK_COM3=rfc2217://127.0.0.1:9 VK_COM4=rfc2217://127.0.0.1:9"
  FLASH_INIT='PROG 1 24 5 25 14 3 0 00809c00 12345678 9abcdef0
DATA 2 24 5 25 14 3 0 00809c00 0f0f0f0f'
  PORT=3240

  now_cs() { read up _ </proc/uptime; echo "${up%.*}${up#*.}"; }

  # A fresh work directory with the programs, the sample and a "y" to type.
  workdir() {
    rm -rf "$1" && mkdir -p "$1" && cp -p /bin/vk[a-z]* /lane/BLINK.X? "$1"/ && echo y >"$1/yes" && chmod -R a+rwX "$1"
  }

  # Starts a board: vksim OPTIONS... on PORT, its flash in $1, its trace in $1.trace.
  board() {
    flash=$1
    shift
    [ -e "$flash" ] || echo "$FLASH_INIT" >"$flash"
    vksim --port $PORT --flash "$flash" --trace "$flash.trace" "$@" >"$flash.out" 2>&1 &
    SIM=$!
    for _ in $(seq 50); do grep -q listening "$flash.out" 2>/dev/null && return 0; sleep 0.1; done
    echo "LANE fail vksim did not start: $(cat "$flash.out")"
    return 1
  }

  attach() {
    usbip --tcp-port $PORT attach -r 127.0.0.1 -b 1-1 >/dev/null 2>&1 || { echo "LANE fail usbip attach"; return 1; }
    for _ in $(seq 100); do [ -c /dev/ttyUSB0 ] && return 0; sleep 0.05; done
    echo "LANE fail no /dev/ttyUSB0"; dmesg | tail -5
    return 1
  }

  # Detaches when attached; waits for the board (ended by the detach or the pull).
  finish() {
    [ -e /dev/ttyUSB0 ] && usbip detach -p 0 >/dev/null 2>&1
    for _ in $(seq 100); do [ -e /dev/ttyUSB0 ] || break; sleep 0.05; done
    kill "$SIM" 2>/dev/null
    wait "$SIM" 2>/dev/null
  }

  # run DIR DEVICE COMMAND: one run in DIR, at most RUN_LIMIT_S (60 s); sets RC,
  # OUT, CS (centiseconds).
  run() {
    start=$(now_cs)
    (cd "$1" && env PATH="$1:/bin" VK_COM1="$2" $COMS timeout "${RUN_LIMIT_S:-60}" sh -c "$3" >"$1/out" 2>"$1/err")
    RC=$?
    CS=$(($(now_cs) - start))
    OUT=$(sed 's/Download Time = [0-9.]*/Download Time = #/' "$1/out" | md5sum | cut -c1-32)
  }

  # One line per run for the host to compare: the exit code and the digests
  # of standard output, flash and every settings file.
  report() {  # label index dir flash
    sets=$(cat "$3"/*.SET 2>/dev/null | md5sum | cut -c1-32)
    fl=$(grep -v '^#' "$4" | md5sum | cut -c1-32)
    echo "LANE run $1 $2 exit=$RC out=$OUT flash=$fl settings=$sets"
  }

  # Scenario lines of one kind: "index|options|command|exit|text".
  lines() {
    awk -F'|' -v k="$1" '/^#/ { next } { gsub(/^ +| +$/, "", $1) } $1 == k { print NR "|" $2 "|" $3 "|" $4 "|" $5 }' \
      /lane/scenarios
  }
  trim() { echo "$1" | sed 's/^ *//; s/ *$//'; }

  # The "same" runs: a board per run of lines with the same options; through
  # an adapter when SIMOPTS names one.
  same_runs() {  # label device-or-rfc
    last=none
    lines same | {
    while IFS='|' read -r idx opts cmd _ _; do
      opts=$(trim "$opts"); cmd=$(trim "$cmd")
      if [ "$opts" != "$last" ]; then
        if [ "$last" != none ]; then finish; rm -rf "$dir"; fi
        last=$opts
        dir=/tmp/w/$1/$idx
        workdir "$dir"
        board "$dir.flash" $SIMOPTS $opts || return
        if [ "$2" = usb ]; then attach || return; dev=/dev/ttyUSB0; else dev=rfc2217://127.0.0.1:$PORT; fi
      fi
      run "$dir" "$dev" "$cmd"
      report "$1" "$idx" "$dir" "$dir.flash"
      [ "$2" = usb ] && [ -n "$(cat "$dir/err")" ] && sed "s/^/LANE note $1 $idx stderr: /" "$dir/err" | head -3
      if [ "$2" = usb ] && [ "$RC" -ne 0 ] && [ "$RC" -ne 254 ] && [ "$RC" -ne 2 ]; then dmesg | tail -5; fi
    done
    finish
    rm -rf "$dir"
    }
    # The board saw the RTS pulse and then CTS rise, which the tool waited for.
    for t in /tmp/w/$1/*.flash.trace; do
      if grep -q '# rts 0' "$t" && grep -q '# cts 1' "$t"; then echo "LANE pass $1 rts-cts $(basename "$t")"
      else echo "LANE fail $1 rts-cts $(basename "$t")"; fi
    done
  }

  check() {  # label index condition-result message
    if [ "$3" = 0 ]; then echo "LANE pass $1 $2"; else echo "LANE fail $1 $2: $4"; fi
  }

  through() {  # chip driver usb latency
    chip=$1
    sim="--usbip $PORT --adapter $chip"
    SIMOPTS=$sim
    same_runs "$chip" usb
    # The ports and permission scenarios on a fresh board.
    dir=/tmp/w/$chip/p
    workdir "$dir"
    board "$dir.flash" $sim && attach && {
      # The latency timer as the driver set it at the attach, the tools'
      # request kept from it: -i names it with the command that fixes it,
      # and after that command no longer does.
      lines timer | while IFS='|' read -r idx _ cmd rc text; do
        [ "$4" = - ] && { echo "LANE pass $chip $idx (not this chip)"; continue; }
        run "$dir" /dev/ttyUSB0 "$(trim "$cmd")"
        first=$RC
        grep -qF -- "$(trim "$text")" "$dir/err"; found=$?
        said=$(tr '\n' '~' <"$dir/err")
        sh -c "$(sed -n 's/.*set it to 1 ms: //p' "$dir/err" | sed 's/sudo //')" >/dev/null
        run "$dir" /dev/ttyUSB0 "$(trim "$cmd")"
        check "$chip" "$idx" "$([ $found = 0 ] && [ "$first" = "$(trim "$rc")" ] && [ "$RC" = "$(trim "$rc")" ] &&
          ! grep -q 'set it to' "$dir/err" && echo 0)" "exit $first then $RC, stderr: $said then $(tr '\n' '~' <"$dir/err")"
      done
      run "$dir" /dev/ttyUSB0 "vklist"  # a tool has used the port
      lines ports | while IFS='|' read -r idx _ cmd rc text; do
        text=$(trim "$text" | sed "s/{driver}/$2/; s/{usb}/$(echo "$3" | tr _ ' ')/; s/{latency}/$(echo "$4" | tr _ ' ')/")
        case "$text" in *" -") echo "LANE pass $chip $idx (not this chip)"; continue ;; esac
        run "$dir" /dev/ttyUSB0 "$(trim "$cmd")"
        grep -qF -- "$text" "$dir/out"; found=$?
        check "$chip" "$idx" "$([ $found = 0 ] && [ "$RC" = "$(trim "$rc")" ] && echo 0)" \
          "exit $RC, no '$text' in: $(tr '\n' '~' <"$dir/out")"
      done
      chown root:dialout /dev/ttyUSB0 && chmod 0660 /dev/ttyUSB0
      lines nobody | while IFS='|' read -r idx _ cmd rc text; do
        start=$(now_cs)
        (cd "$dir" && su -s /bin/sh nobody -c "env PATH=$dir:/bin VK_COM1=/dev/ttyUSB0 $COMS $(trim "$cmd")" >out 2>err)
        RC=$?
        grep -qF -- "$(trim "$text")" "$dir/err"; found=$?
        check "$chip" "$idx" "$([ $found = 0 ] && [ "$RC" = "$(trim "$rc")" ] && echo 0)" \
          "exit $RC, stderr: $(tr '\n' '~' <"$dir/err")"
      done
    }
    finish
    # Runs that end on their own: the cable pulled, a board without CTS.
    for kind in pull bound; do
      lines $kind | while IFS='|' read -r idx opts cmd rc text; do
        dir=/tmp/w/$chip/$idx
        workdir "$dir"
        # The settings as the same command leaves them over RFC 2217.
        board "$dir.prep" --once || continue
        run "$dir" rfc2217://127.0.0.1:$PORT "$(trim "$cmd")"
        finish
        before=$(cat "$dir"/*.SET | md5sum)
        board "$dir.flash" $sim --once $(trim "$opts") && attach || continue
        run "$dir" /dev/ttyUSB0 "$(trim "$cmd")"
        finish
        grep -qF -- "$(trim "$text")" "$dir/out"; found=$?
        after=$(cat "$dir"/*.SET | md5sum)
        check "$chip" "$idx" "$([ $found = 0 ] && [ "$RC" = "$(trim "$rc")" ] && [ "$CS" -le 1500 ] &&
          [ "$before" = "$after" ] && echo 0)" \
          "exit $RC after ${CS}0 ms, settings $([ "$before" = "$after" ] && echo kept || echo changed), out: $(tr '\n' '~' <"$dir/out" | tail -c 300)"
        rm -rf "$dir"
      done
    done
  }

  echo "LANE start $(uname -r)"
  if [ -f /lane/run.sh ]; then
    . /lane/run.sh
  else
    SIMOPTS=
    same_runs rfc rfc
    echo "$ADAPTERS" | while read -r chip driver usb latency; do
      case " ${VK_LANE_ADAPTERS:-$chip} " in *" $chip "*) through "$chip" "$driver" "$usb" "$latency" ;; esac
    done
  fi
  echo "LANE end after $(cut -d' ' -f1 /proc/uptime) s"
  poweroff -f
fi

# ----------------------------------------------------------------- host --
BIN=${1:?usage: tests/usb/lane.sh BIN_DIR [WORK_DIR [--run SCRIPT [FILE...]]]}
BIN=$(cd "$BIN" && pwd)
WORK=${2:-$BIN/../usb-lane}
GUEST_RUN=
if [ "${3:-}" = --run ]; then
  GUEST_RUN=${4:?usage: tests/usb/lane.sh BIN_DIR WORK_DIR --run SCRIPT [FILE...]}
  shift 4
fi
HERE=$(cd "$(dirname "$0")" && pwd)
SRC=$(cd "$HERE/../.." && pwd)
GUEST_LIMIT_S=${VK_LANE_LIMIT_S:-240}
mkdir -p "$WORK" && WORK=$(cd "$WORK" && pwd)

fail() { echo "usb lane: $*" >&2; exit 1; }

for tool in qemu-system-x86_64 cpio usbip cc; do
  command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] ||
    fail "$tool is missing (Debian packages qemu-system-x86, cpio, usbip, gcc)"
done
BUSYBOX=$(command -v busybox) && ldd "$BUSYBOX" 2>&1 | grep -q 'not a dynamic' ||
  fail "a static busybox is missing (Debian package busybox-static)"
USBIP=$(command -v usbip || echo /usr/sbin/usbip)

# The kernel: the package linux-image-amd64 depends on, unpacked here.
if [ ! -d "$WORK/kernel/boot" ]; then
  kernel_package() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'; }
  image=$(kernel_package)
  if [ -z "$image" ] && [ "$(id -u)" = 0 ]; then apt-get update -qq >/dev/null 2>&1; image=$(kernel_package); fi
  [ -n "$image" ] || fail "no kernel package to be had: apt-cache knows no linux-image-amd64 (run apt-get update)"
  rm -rf "$WORK/deb" && mkdir -p "$WORK/deb"
  (cd "$WORK/deb" && apt-get download "$image" >/dev/null 2>&1) ||
    fail "apt-get download $image failed: the kernel package cannot be had"
  dpkg-deb -x "$WORK"/deb/*.deb "$WORK/kernel.new" || fail "cannot unpack $(ls "$WORK"/deb)"
  rm -rf "$WORK/deb" && mv "$WORK/kernel.new" "$WORK/kernel"
fi
VMLINUZ=$(ls "$WORK"/kernel/boot/vmlinuz-* | head -1)
MODS=$(ls -d "$WORK"/kernel/lib/modules/*/kernel/drivers/usb)
[ -f "$VMLINUZ" ] && [ -d "$MODS" ] || fail "the kernel package holds no vmlinuz or USB modules"

# The initramfs: busybox, the modules, the programs with their libraries,
# usbip, the sample, the scenarios and this script as /init.
ROOT=$WORK/root
rm -rf "$ROOT" && mkdir -p "$ROOT"/{bin,mod,lane,etc,proc,sys,dev,tmp,var/run}
cp "$BUSYBOX" "$ROOT/bin/busybox"
for m in common/usb-common core/usbcore usbip/usbip-core usbip/vhci-hcd serial/usbserial serial/ftdi_sio \
  serial/cp210x serial/ch341 serial/pl2303; do
  f=$(ls "$MODS/$m".ko* | head -1) || fail "module $m missing from the kernel package"
  case "$f" in
    *.xz) xz -dc "$f" >"$ROOT/mod/$(basename "$m").ko" ;;
    *.zst) zstd -qdc "$f" >"$ROOT/mod/$(basename "$m").ko" ;;
    *) cp "$f" "$ROOT/mod/" ;;
  esac
done
for prog in vkburn vkram vklist vkcheck vkerase vkname vkwipe vkstart vkports vksim "$USBIP"; do
  p=$prog
  [ -x "$p" ] || p=$BIN/$prog
  [ -x "$p" ] || fail "$p is not built"
  cp "$p" "$ROOT/bin/" && strip "$ROOT/bin/$(basename "$p")"
  for lib in $(ldd "$p" | grep -o '/[^ ]*'); do
    mkdir -p "$ROOT$(dirname "$lib")" && cp -L "$lib" "$ROOT$lib"
  done
done
cp "$SRC"/samples/blink/BLINK.X? "$HERE/scenarios" "$ROOT/lane/"
cc -shared -fPIC -O2 -o "$ROOT/lane/keep_latency.so" "$HERE/keep_latency.c" || fail "cannot build keep_latency.so"
if [ -n "$GUEST_RUN" ]; then
  cp "$GUEST_RUN" "$ROOT/lane/run.sh" && { [ $# = 0 ] || cp "$@" "$ROOT/lane/"; } || fail "cannot copy $GUEST_RUN $*"
fi
cp "$0" "$ROOT/init" && chmod +x "$ROOT/init"
sed -i '1s|.*|#!/bin/busybox sh|' "$ROOT/init"
printf 'root:x:0:0::/:/bin/sh\nnobody:x:65534:65534::/tmp:/bin/sh\n' >"$ROOT/etc/passwd"
printf 'root:x:0:\ndialout:x:20:\nnogroup:x:65534:\n' >"$ROOT/etc/group"
(cd "$ROOT" && find . | cpio -o -H newc 2>/dev/null | gzip -1 >"$WORK/initrd.gz") || fail "cpio failed"

echo "usb lane: booting $(basename "$VMLINUZ") under QEMU (TCG), at most ${GUEST_LIMIT_S} s"
LOG=$WORK/console.log
rm -f "$WORK/ttyS1.out"
timeout "$GUEST_LIMIT_S" qemu-system-x86_64 -accel tcg -m 768 -smp 1 -nographic -no-reboot -nic none \
  -serial mon:stdio -serial "file:$WORK/ttyS1.out" -kernel "$VMLINUZ" -initrd "$WORK/initrd.gz" \
  -append "console=ttyS0 quiet panic=-1 VK_LANE_ADAPTERS=\"${VK_LANE_ADAPTERS:-}\"" </dev/null >"$LOG" 2>&1
qemu_rc=$?
tr -d '\r' <"$LOG" | grep '^LANE ' >"$WORK/results"
grep -q '^LANE end' "$WORK/results" ||
  fail "the guest did not finish (qemu exit $qemu_rc; console in $LOG): $(tail -5 "$LOG")"
if [ -n "$GUEST_RUN" ]; then
  grep '^LANE fail' "$WORK/results" && fail "$(basename "$GUEST_RUN") failed in the guest (console in $LOG)"
  echo "usb lane: $(basename "$GUEST_RUN") ran in the guest ($(grep '^LANE end' "$WORK/results" | cut -d' ' -f3-))"
  exit 0
fi

# Every adapter's "same" run must equal the RFC 2217 run of that scenario,
# whose exit code must be the table's.
status=0
while IFS='|' read -r n kind _ _ rc _; do
  [ "$(echo "$kind" | tr -d ' ')" = same ] || continue
  rfc=$(awk -v n="$n" '$2 == "run" && $3 == "rfc" && $4 == n { $1 = $2 = $3 = ""; print }' "$WORK/results")
  want="exit=$(echo "$rc" | tr -d ' ')"
  case " $rfc " in *" $want "*) ;; *) echo "FAIL rfc scenario line $n: $want expected, got '$rfc'"; status=1 ;; esac
  while read -r chip _; do
    case " ${VK_LANE_ADAPTERS:-$chip} " in *" $chip "*) ;; *) continue ;; esac
    usb=$(awk -v n="$n" -v c="$chip" '$2 == "run" && $3 == c && $4 == n { $1 = $2 = $3 = ""; print }' "$WORK/results")
    if [ "$usb" != "$rfc" ]; then echo "FAIL $chip scenario line $n: '$usb' against RFC 2217 '$rfc'"; status=1; fi
  done <<<"$ADAPTERS"
done < <(grep -n '' "$HERE/scenarios" | grep -v '^[0-9]*:#' | sed 's/:/|/' | grep -v '^[0-9]*| *$')
grep '^LANE fail' "$WORK/results" && status=1
grep '^LANE note' "$WORK/results"
pass=$(grep -c '^LANE pass' "$WORK/results")
echo "usb lane: $pass checks passed, $(grep -c '^LANE run' "$WORK/results") runs compared; console in $LOG"
[ $status = 0 ] || fail "differences above"
echo "usb lane: passed"
