; SPDX-License-Identifier: GPL-3.0-or-later
; Programs the EPROM of the MC68HC711E9 ($D000-$FFFF) from the S-record file that the PC
; streams after the talker. Silent on success; on the first error it sends one letter and
; takes nothing more: "A" an address below $2000 (RAM and the registers), "V" a byte that did
; not read back as the file has it (no programming voltage, outside the EPROM, or a bit that
; would need a 1 over a 0), "C" a record whose checksum does not hold.
;
; A byte that already holds the file's value is left alone. An EPROM bit only goes from 1 to
; 0; erasing it takes ultraviolet light.

        .include "hc11.inc"

        .macro prepare
        .endm

; ELAT, the data, then EPGM held 2 ms with +12 V on XIRQ/VPPE (MC68HC711E9 technical data,
; EPROM programming): 160 rounds.
        .macro write_byte
        nvm_cycle EPROG, 0x20, 160
        .endm

        .include "program.inc"
