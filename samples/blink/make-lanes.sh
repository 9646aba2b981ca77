#!/bin/sh
# Splits blink.bin (little-endian 32-bit words, loaded at word address 0)
# into the four byte lanes BLINK.X0 (bits 7-0) .. BLINK.X3 (bits 31-24),
# with the entry address 0x00809C00. Needs srec_cat (Debian package srecord).
cd "$(dirname "$0")" || exit 1
for lane in 0 1 2 3; do
  srec_cat blink.bin -binary -split 4 $lane -o BLINK.X$lane -Tektronix_Extended \
    -execution-start-address 0x00809C00 -Output_Block_Size 32 || exit 1
done
