#!/bin/bash
# The programs through real Linux USB serial drivers:
#   tests/usb/lane.sh BIN_DIR [WORK_DIR [--run SCRIPT [FILE...]]]
# boots Debian's 6.1 kernel under QEMU (TCG) with a busybox initramfs (this
# file is its /init), attaches vksim's emulated adapters through vhci-hcd
# (usbip) in the guest and runs tests/usb/scenarios against /dev/ttyUSB0. The
# guest prints a "LANE" line per result; a fail, a missing result or a guest
# past its bound fails the lane. With --run the guest sources SCRIPT
# (bench/usb-guest.sh) in place of the scenarios, with the functions below and
# the FILEs in /lane; its /dev/ttyS1 goes to WORK_DIR/ttyS1.out, its LANE
# lines to WORK_DIR/results.
set -u

# The emulated adapters: chip, driver, what vkports shows on its usb line,
# and its latency timer line after a tool has used the port ("-" none).
ADAPTERS='ft232r|ftdi_sio|0403:6001, serial VK232R01|1 ms
cp2102|cp210x|10c4:ea60, serial 0001|-
ch340|ch341-uart|1a86:7523, serial VK340001|-
pl2303|pl2303|067b:2303, serial VK230301|-'
MODULES='common/usb-common core/usbcore usbip/usbip-core usbip/vhci-hcd serial/usbserial serial/ftdi_sio
  serial/cp210x serial/ch341 serial/pl2303'

# ---------------------------------------------------------------- guest --
if [ "$$" = 1 ]; then
  set +u
  /bin/busybox --install -s /bin
  export PATH=/bin
  mount -t proc proc /proc && mount -t sysfs sys /sys && mount -t devtmpfs dev /dev && mount -t tmpfs tmp /tmp
  for m in $MODULES; do insmod "/mod/${m#*/}.ko" || echo "LANE fail insmod $m"; done
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
    flash=$1 && shift
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
    kill "$SIM" 2>/dev/null; wait "$SIM" 2>/dev/null
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

  check() {  # label index status (0: pass) message
    if [ "$3" = 0 ]; then echo "LANE pass $1 $2"; else echo "LANE fail $1 $2: $4"; fi
  }
  said() { tr '\n' '~' <"$dir/$1" | tail -c 300; }

  # Scenario rows of one kind, fields trimmed: "index|options|command|exit|text".
  lines() {
    awk -F'|' -v k="$1" -v OFS='|' '/^#/ { next } { for (i = 1; i <= NF; i++) gsub(/^ +| +$/, "", $i) }
      $1 == k { $1 = NR; print }' /lane/scenarios
  }

  # The "same" rows, a board for each run of rows with the same options:
  # over RFC 2217 the row's exit code, through an adapter what RFC 2217 gave.
  same_runs() {  # label usb|rfc
    last=none
    lines same | {
    while IFS='|' read -r idx opts cmd rc _; do
      if [ "$opts" != "$last" ]; then
        [ "$last" = none ] || { finish; rm -rf "$dir"; }
        last=$opts dir=/tmp/w/$1/$idx
        workdir "$dir"
        board "$dir.flash" $SIMOPTS $opts || return
        if [ "$2" = usb ]; then attach || return; dev=/dev/ttyUSB0; else dev=rfc2217://127.0.0.1:$PORT; fi
      fi
      run "$dir" "$dev" "$cmd"
      got="exit=$RC out=$OUT flash=$(grep -v '^#' "$dir.flash" | md5sum | cut -c1-32)"
      got="$got settings=$(cat "$dir"/*.SET 2>/dev/null | md5sum | cut -c1-32)"
      echo "LANE run $1 $idx $got"
      [ "$2" = rfc ] && echo "$got" >"/tmp/w/rfc.$idx"
      [ "$RC" = "$rc" ] && [ "$got" = "$(cat "/tmp/w/rfc.$idx")" ]
      check "$1" "$idx" $? "$got, over RFC 2217 $(cat "/tmp/w/rfc.$idx"), exit $rc expected; stderr $(said err)"
      case "$2$RC" in usb0 | usb2 | usb254 | rfc*) ;; *) dmesg | tail -5 ;; esac
    done
    finish
    rm -rf "$dir"
    }
  }

  through() {  # chip driver usb latency
    chip=$1 SIMOPTS="--usbip $PORT --adapter $1"
    same_runs "$chip" usb
    dir=/tmp/w/$chip/p
    workdir "$dir"
    board "$dir.flash" $SIMOPTS && attach && for kind in timer ports nobody; do
      [ $kind = ports ] && run "$dir" /dev/ttyUSB0 vklist  # a tool has used the port
      [ $kind = nobody ] && chown root:dialout /dev/ttyUSB0 && chmod 0660 /dev/ttyUSB0
      lines $kind | while IFS='|' read -r idx _ cmd rc text; do
        text=$(echo "$text" | sed "s/{driver}/$2/; s/{usb}/$3/; s/{latency}/$4/")
        case "$kind$4|$text" in timer-* | *" -") echo "LANE pass $chip $idx (not this chip)"; continue ;; esac
        if [ $kind = nobody ]; then
          (cd "$dir" && su -s /bin/sh nobody -c "env PATH=$dir:/bin VK_COM1=/dev/ttyUSB0 $COMS $cmd" >out 2>err)
          RC=$?
        else run "$dir" /dev/ttyUSB0 "$cmd"; fi
        stream=err && [ $kind = ports ] && stream=out
        grep -qF -- "$text" "$dir/$stream" && [ "$RC" = "$rc" ]
        status=$? message="exit $RC, $stream: $(said $stream)"
        if [ $kind = timer ]; then  # the command it names, run; then it no longer asks
          sh -c "$(sed -n 's/.*set it to 1 ms: //p' "$dir/err" | sed 's/sudo //')" >/dev/null
          run "$dir" /dev/ttyUSB0 "$cmd"
          [ $status = 0 ] && [ "$RC" = "$rc" ] && ! grep -q 'set it to' "$dir/err"
          status=$? message="$message then exit $RC, err: $(said err)"
        fi
        check "$chip" "$idx" $status "$message"
      done
    done
    finish
    # Runs that end on their own (the cable pulled, a board without CTS), the
    # settings left as the same command leaves them over RFC 2217.
    for kind in pull bound; do
      lines $kind | while IFS='|' read -r idx opts cmd rc text; do
        dir=/tmp/w/$chip/$idx
        workdir "$dir"
        board "$dir.prep" --once || continue
        run "$dir" rfc2217://127.0.0.1:$PORT "$cmd"
        finish
        before=$(cat "$dir"/*.SET | md5sum)
        board "$dir.flash" $SIMOPTS --once $opts && attach || continue
        run "$dir" /dev/ttyUSB0 "$cmd"
        finish
        after=$(cat "$dir"/*.SET | md5sum)
        grep -qF -- "$text" "$dir/out" && [ "$RC" = "$rc" ] && [ "$CS" -le 1500 ] && [ "$before" = "$after" ]
        check "$chip" "$idx" $? "exit $RC after ${CS}0 ms, settings $after from $before, out: $(said out)"
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
    echo "$ADAPTERS" | while IFS='|' read -r chip driver usb latency; do
      case " ${VK_LANE_ADAPTERS:-$chip} " in *" $chip "*) through "$chip" "$driver" "$usb" "$latency" ;; esac
    done
  fi
  echo "LANE end after $(cut -d' ' -f1 /proc/uptime) s"
  poweroff -f
fi

# ----------------------------------------------------------------- host --
BIN=$(cd "${1:?usage: tests/usb/lane.sh BIN_DIR [WORK_DIR [--run SCRIPT [FILE...]]]}" && pwd) || exit 1
WORK=${2:-$BIN/../usb-lane} GUEST_RUN=
[ "${3:-}" = --run ] && GUEST_RUN=${4:?usage: tests/usb/lane.sh BIN_DIR WORK_DIR --run SCRIPT [FILE...]} && shift 4
HERE=$(cd "$(dirname "$0")" && pwd)
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

if [ ! -d "$WORK/kernel/boot" ]; then  # the kernel: the package linux-image-amd64 depends on, unpacked here
  kernel_package() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'; }
  image=$(kernel_package)
  if [ -z "$image" ] && [ "$(id -u)" = 0 ]; then apt-get update -qq >/dev/null 2>&1; image=$(kernel_package); fi
  [ -n "$image" ] || fail "no kernel package to be had: apt-cache knows no linux-image-amd64 (run apt-get update)"
  rm -rf "$WORK/deb" && mkdir -p "$WORK/deb" && (cd "$WORK/deb" && apt-get download "$image" >/dev/null 2>&1) ||
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
for m in $MODULES; do
  f=$(ls "$MODS/$m".ko* | head -1) || fail "module $m missing from the kernel package"
  case "$f" in *.xz) xz -dc ;; *.zst) zstd -qdc ;; *) cat ;; esac <"$f" >"$ROOT/mod/${m#*/}.ko"
done
for p in "$BIN"/{vkburn,vkram,vklist,vkcheck,vkerase,vkname,vkwipe,vkstart,vkports,vksim} "$USBIP"; do
  [ -x "$p" ] || fail "$p is not built"
  cp "$p" "$ROOT/bin/" && strip "$ROOT/bin/$(basename "$p")"
  for lib in $(ldd "$p" | grep -o '/[^ ]*'); do mkdir -p "$ROOT$(dirname "$lib")" && cp -L "$lib" "$ROOT$lib"; done
done
cp "$HERE"/../../samples/blink/BLINK.X? "$HERE/scenarios" "$ROOT/lane/"
cc -shared -fPIC -O2 -o "$ROOT/lane/keep_latency.so" "$HERE/keep_latency.c" || fail "cannot build keep_latency.so"
[ -z "$GUEST_RUN" ] || { cp "$GUEST_RUN" "$ROOT/lane/run.sh" && { [ $# = 0 ] || cp "$@" "$ROOT/lane/"; }; } ||
  fail "cannot copy $GUEST_RUN $*"
sed '1s|.*|#!/bin/busybox sh|' "$0" >"$ROOT/init" && chmod +x "$ROOT/init"
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

status=0
for label in rfc $(cut -d'|' -f1 <<<"$ADAPTERS"); do  # every "same" row run over RFC 2217 and each adapter
  case " rfc ${VK_LANE_ADAPTERS:-$label} " in *" $label "*) ;; *) continue ;; esac
  [ "$(grep -c "^LANE run $label " "$WORK/results")" = "$(grep -c '^same ' "$HERE/scenarios")" ] ||
    { echo "FAIL $label: a \"same\" row's run is missing"; status=1; }
done
grep '^LANE fail' "$WORK/results" && status=1
echo "usb lane: $(grep -c '^LANE pass' "$WORK/results") checks passed; console in $LOG"
[ $status = 0 ] || fail "differences above"
echo "usb lane: passed"
