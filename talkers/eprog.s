; SPDX-License-Identifier: GPL-3.0-or-later
; Programs the EPROM of the MC68HC711E9 ($D000-$FFFF), or with the operands the PC writes for
; it the MC68HC711E20's ($9000-$AFFF and $D000-$FFFF, through EPROG), from the S-record file
; that the PC streams after the talker. At the file's S9 it answers "O" and an address; at the
; first error one letter and the address it concerns, and it takes nothing more: "V" an
; address without EPROM (the talker's own RAM and the register block among them, which the PC
; names) or a byte that did not read back as the file has it (no programming voltage, or a
; bit that would need a 1 over a 0), "C" a record whose checksum does not hold.
;
; A byte that already holds the file's value is left alone. An EPROM bit only goes from 1 to
; 0; erasing it takes ultraviolet light.

        .include "hc11.inc"

        .equ ELAT, 0x20         ; bit 5 of the EPROM's register: its latch (none on the A8)
; The range check below sends every address under the EPROM to "V" before anything is
; written or read, the talker's own RAM and the register block among them.

        .macro prepare
        .endm

; The EPROM is at $D000-$FFFF (the 711E20's also from part_low to part_gap) while ROMON
; (CONFIG bit 1) maps it. The register is PPROG as assembled, EPROG ($1036) as the PC writes
; it for the 711E20 (docs/hardware-facts.md, EPROM). Where the register does not keep ELAT
; there is no EPROM, and nothing is latched (PPROG's bit 5 always reads 0 on the A8,
; MC68HC11A8 technical data 3.5.1; the E9 and 811E2 are taken to be the same; $1036 is
; reserved and reads 0 on the parts without EPROG). Were a part with mask ROM there to keep
; the bit, the data write and the programming bit would change nothing and the byte would not
; read back.
        .macro in_memory
        cpx     #0xD000
part_low = . - 2
        blo     nomem
        cpx     #0xD000
part_gap = . - 2
        blo     1f              ; below the gap: the 711E20's lower range
        cpx     #0xD000
        blo     nomem
1:      ldab    CONFIG
        bitb    #0x02
        beq     nomem
        ldab    #ELAT
        stab    PPROG
part_reg_probe = . - 2
        ldab    PPROG
part_reg_read = . - 2
        beq     nomem
        clr     PPROG           ; the byte is read next: not while the EPROM is latched
part_reg_clear = . - 2
        .endm

; ELAT, the data to the EPROM address, then EPGM (bit 0) in a second write with +12 V on
; XIRQ/VPPE, then the register cleared (M68HC11E family data sheet, EPROM programming
; through PPROG). EPGM is held 2.16 ms at least, where the programming time is 2 ms: 180
; rounds of at least 24 E cycles.
        .macro write_byte
        nvm_cycle ELAT, 180, part_reg
        .endm

        .include "program.inc"
