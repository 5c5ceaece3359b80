; SPDX-License-Identifier: GPL-3.0-or-later
; Programs CONFIG. It waits for $FF, $AA and the new value, and compares the value with the
; CONFIG cell: it does nothing when the cell holds it already, erases the cell only when the
; value needs a 1 where the cell holds a 0, and programs the value's 0s. The chip copies the
; cell into CONFIG at reset, so the new value takes effect at the next reset (MC68HC11A8
; technical data 3.5). It answers "O" once it is done; the PC reads CONFIG
; after the next reset.
;
; The erase is the bulk-erase mode with CONFIG's address latched, not a byte erase: that a
; byte erase reaches CONFIG is not found for the A8 in the manual's pages read, and the E
; series is said to need another procedure; the bulk-erase mode addressed to CONFIG is the
; one taken for every part (docs/hardware-facts.md, CONFIG).
;
; A read of CONFIG at this point shows the cell: the copy the chip took of it at this reset,
; which nothing has changed since. Bits that a part does not have read 0: CONFIG's bits 7-4
; on the A8, E9 and 711E9, which the 811E2 uses to place its EEPROM. Where bits 7-4 read 0
; and the new value has them all 1 (the 811E2's factory placement, $F800), they are taken for
; bits the part does not have and need no erase; an 811E2 whose EEPROM is at $0800 gets a
; new placement with the next change that needs an erase.

        .include "hc11.inc"

        .sect .text
        .globl _start
_start: talker_start
        pump_clock
1:      bsr     getc
2:      cmpa    #0xFF
        bne     1b
        bsr     getc
        cmpa    #0xAA
        bne     2b
        bsr     getc
        staa    *val            ; the new value
        clr     BPROT           ; PTCON protects CONFIG; it clears at any time in bootstrap
        ldx     #CONFIG
        ldab    0,x             ; the cell
        bitb    #0xF0
        bne     3f
        anda    #0xF0
        cmpa    #0xF0
        bne     3f
        orab    #0xF0           ; bits 7-4 the part does not show, left at 1
3:      cmpb    *val
        beq     done            ; the cell holds the value already
        comb
        andb    *val            ; a 1 over a 0 of the cell
        beq     4f
        ldab    #0x06           ; ERASE EELAT: the bulk-erase mode, addressed to CONFIG
        bsr     cycle
        ldaa    *val
        inca
        beq     done            ; the erased cell holds $FF
4:      ldaa    *val
        ldab    #0x02           ; EELAT
        bsr     cycle
        confirm_end

        .include "eecycle.inc"

        .include "getc.inc"
        .include "putc.inc"

        talker_end
