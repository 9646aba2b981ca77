# The benchmark's runs inside the guest kernel (bench/usb.py starts them
# with tests/usb/lane.sh --run, which sources this file with its functions
# board, attach, run and finish at hand). /lane/cases holds a line per run:
#
#   NAME PATH TIMER MODE PROGRAM
#
# PATH is rfc (vkburn over RFC 2217 to a vksim in the guest) or the chip of
# the adapter vkburn reaches the board through, at /dev/ttyUSB0. TIMER is
# "request" for the tool as it is (its low-latency request reaches the
# driver), or N: the request kept from the driver (keep_latency.so) and the
# adapter's latency timer set to N ms through sysfs before the run, where
# the adapter has one. MODE is vkburn's s or f, PROGRAM the lane files'
# name. Every board paces its line at 115200 baud. Each run's trace,
# standard output and standard error go into one tar on /dev/ttyS1.
RUN_LIMIT_S=900
mkdir -p /tmp/out
while read -r name path timer mode program; do
  dir=/tmp/b/$name
  workdir "$dir"
  cp /lane/"$program".X? "$dir/"
  printf 'PORT=COM1\nBAUD=115200\nMODE=%s\n' "$mode" >"$dir/vkburn.SET"
  if [ "$path" = rfc ]; then
    board "$dir.flash" --pace --trace-times --once || continue
    dev=rfc2217://127.0.0.1:$PORT
  else
    board "$dir.flash" --pace --trace-times --once --usbip $PORT --adapter "$path" && attach || continue
    dev=/dev/ttyUSB0
  fi
  pre=
  if [ "$timer" != request ]; then
    pre=LD_PRELOAD=/lane/keep_latency.so
    f=/sys/bus/usb-serial/devices/ttyUSB0/latency_timer
    if [ -e $f ]; then echo "$timer" >$f; fi
  fi
  run "$dir" "$dev" "$pre vkburn $program -i"
  finish
  echo "LANE note bench $name exit $RC after ${CS}0 ms"
  [ "$RC" = 0 ] || echo "LANE fail bench $name: exit $RC: $(tail -c 300 "$dir/out" | tr '\n' '~')"
  mkdir -p /tmp/out/"$name"
  cp "$dir/out" "$dir/err" /tmp/out/"$name"/ && cp "$dir.flash.trace" /tmp/out/"$name"/trace
  rm -rf "$dir" "$dir".*
done </lane/cases
stty -F /dev/ttyS1 raw -echo
tar -czf - -C /tmp/out . >/dev/ttyS1
