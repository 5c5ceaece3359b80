; SPDX-License-Identifier: GPL-3.0-or-later
; The fast protocol's CONFIG talker (docs/fast-protocol.md), deciding as config does:
;   C   count = the new value. Nothing when the CONFIG cell holds it; the cell erased only
;       where the value needs a 1 over a 0 of it; the value's 0s programmed unless the erased
;       cell holds it. K once done, with the request's address. The chip copies the cell into
;       CONFIG at reset, so the value takes effect at the next one (MC68HC11A8 technical data
;       3.5).
;   P   K.
; Bits 7-4 of CONFIG read 0 on the A8, E9 and 711E9, which do not have them; where they read 0
; and the new value has them all 1 (the 811E2's factory placement) they need no erase, as in
; config.
        .include "hc11.inc"

        .equ REQ_LONG, 6
        .macro PING_ADDRESS
        .endm

        .sect .text
        .globl _start
_start: talker_start
        jsr     *drain           ; the boot loader's last fill byte on the 256-byte parts

        .include "fastmisc.inc"
        .include "fastio.inc"

dispatch:
        cmpa    #'C'
        bne     unknown
        clr     BPROT           ; PTCON protects CONFIG; it clears at any time in bootstrap
        ldx     #CONFIG
        ldaa    *blk+3          ; the new value
        ldab    0,x             ; the cell
        bitb    #0xF0
        bne     3f
        anda    #0xF0
        cmpa    #0xF0
        bne     3f
        orab    #0xF0           ; bits 7-4 the part does not show, left at 1
3:      cmpb    *blk+3
        beq     done            ; the cell holds the value already
        comb
        andb    *blk+3          ; a 1 over a 0 of the cell
        beq     4f
        ldab    #0x16           ; BYTE ERASE EELAT
        bsr     cycle
        ldaa    *blk+3
        inca
        beq     done            ; the erased cell holds $FF
4:      ldaa    *blk+3
        ldab    #0x02           ; EELAT
        bsr     cycle
done:   ldx     *blk+1
        jmp     ok

        .include "eecycle.inc"

        talker_end
