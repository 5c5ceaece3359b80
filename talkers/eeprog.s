; SPDX-License-Identifier: GPL-3.0-or-later
; Programs the internal EEPROM from the S-record file that the PC streams after the talker.
; At the file's S9 it answers "O" and an address; at the first error one letter and the
; address it concerns, and it takes nothing more: "V" an address without EEPROM (the talker's
; own RAM and the register block among them, which the PC names) or a byte that did not read
; back as the file has it (a bit that needs erasing first), "C" a record whose checksum does
; not hold.
;
; A byte that already holds the file's value is left alone. Programming only clears bits:
; the EEPROM is erased first (the Erase button) where the file needs a 1 over a 0.

        .include "hc11.inc"

        .macro prepare
        clr     BPROT           ; bootstrap is a special mode: the bits clear at any time
        pump_clock
        .endm

; Where the EEPROM is, from CONFIG as the part shows it: nowhere while EEON (bit 0) is clear;
; on the 811E2 at $x800-$xFFF with x from bits 7-4; on the A8, E9 and 711E9, whose CONFIG
; shows bits 7-4 as 0, at $B600-$B7FF. A CONFIG with bits 7-4 at 0 is also an 811E2 with its
; EEPROM at $0800: the talker cannot tell the two apart, so with bits 7-4 at 0 it takes both
; $0800-$0FFF and $B600-$B7FF for EEPROM (the file says which part it is meant for).
        .macro in_memory
        pshx
        pula                    ; A = the address's high byte
        ins
        ldab    CONFIG
        bitb    #0x01           ; EEON
        beq     nomem
        orab    #0x0F           ; B = bits 7-4, and $F
        oraa    #0x01
        cmpa    #0xB7           ; $B600-$B7FF ...
        bne     4f
        cmpb    #0x0F           ; ... with bits 7-4 at 0
        beq     5f
4:      oraa    #0x07
        cba                     ; $x800-$xFFF with x = bits 7-4
        bne     nomem
5:
        .endm

; EELAT, the data, then EEPGM in a second write for 10.56 ms at least, where the manual asks
; for 10 ms at E = 2 MHz (MC68HC11A8 technical data 3.5): 880 rounds of at least 24 E cycles.
        .macro write_byte
        nvm_cycle 0x02, 880
        .endm

        .include "program.inc"
