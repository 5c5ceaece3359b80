; SPDX-License-Identifier: GPL-3.0-or-later
; Programs the EPROM of the MC68HC711E9 ($D000-$FFFF) from the S-record file that the PC
; streams after the talker. At the file's S9 it answers "O" and an address; at the first error
; one letter and the address it concerns, and it takes nothing more: "A" the talker's own RAM or the register block,
; "V" a byte that did not read back as the file has it (no EPROM there, no programming
; voltage, or a bit that would need a 1 over a 0), "C" a record whose checksum does not hold.
;
; A byte that already holds the file's value is left alone. An EPROM bit only goes from 1 to
; 0; erasing it takes ultraviolet light.

        .include "hc11.inc"

        .equ ELAT, 0x20         ; PPROG bit 5: the EPROM's latch (711E9; none on the A8)

        .macro prepare
        .endm

; The EPROM is at $D000-$FFFF while ROMON (CONFIG bit 1) maps it. Only the 711E9 has it: where
; PPROG does not keep ELAT there is none, and nothing is latched (the A8's bit 5 always reads
; 0, MC68HC11A8 technical data 3.5.1; the E9 and 811E2 are taken to be the same). Were a part
; with mask ROM there to keep the bit, the data write and the programming bit would change
; nothing and the byte would not read back.
        .macro in_memory
        cpx     #0xD000
        blo     nomem
        ldab    CONFIG
        bitb    #0x02
        beq     nomem
        ldab    #ELAT
        stab    PPROG
        ldab    PPROG
        beq     nomem
        clr     PPROG           ; the byte is read next: not while the EPROM is latched
        .endm

; ELAT, the data to the EPROM address, then EPGM (bit 0) in a second write with +12 V on
; XIRQ/VPPE, then PPROG cleared (M68HC11E family data sheet, EPROM programming through
; PPROG). EPGM is held 2.16 ms at least, where the programming time is 2 ms: 180 rounds of at
; least 24 E cycles.
        .macro write_byte
        nvm_cycle ELAT, 180
        .endm

        .include "program.inc"
