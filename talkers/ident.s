; SPDX-License-Identifier: GPL-3.0-or-later
; The identification talker (docs/fast-protocol.md), on the block layer of fastcore.inc with
; the CRC-8. It writes no non-volatile memory; what it measures the PC decodes:
;   D   K with TEST1 and CONFIG as the address, then for each probe below two bytes: what the address read after the
;       probe's first value was written, and after its second. Each address gets back what it
;       held before.
; A byte reads back both $55 and $AA only where memory holds it: a floating data bus cannot
; follow two writes (docs/hardware-facts.md, "How identify tells the parts apart").
        .include "hc11.inc"

        .equ CRC8, 1
        .equ WITH_DATA, 1
        .equ NEAR_NEXT, 1
        .include "fastcore.inc"

        fast_talker

; RAM past page 0 is probed at the start of its page: a part that echoed page 0 there would
; hit the request just taken, never the talker, its CRC or its stack.
dispatch:
        cmpa    #'D'
        bne     unknown
        ldx     CONFIG-1        ; TEST1 and CONFIG, as the answer's address
        ldaa    #'K'
        jsr     *header
        ldx     #probes
1:      ldy     0,x
        ldab    0,y             ; kept: the CRC-8's putc leaves B alone
        ldaa    2,x
        jsr     *probe
        ldaa    3,x
        jsr     *probe
        stab    0,y
        inx
        inx
        inx
        inx
        cpx     #probes_end
        bne     1b
        jsr     *trailer
        bra     next

probe:  staa    0,y
        ldaa    0,y
        jmp     putc

; Address, first value, second value. ELAT ($20) is a latch, never a programming pulse: PPROG's
; EPGM and EPROG's EPGM stay clear, and both registers are back at 0 as reset left them.
probes:
        .word   0x0100
        .byte   0x55, 0xAA
        .word   0x0200
        .byte   0x55, 0xAA
        .word   0x0300
        .byte   0x55, 0xAA
        .word   0x105E          ; past the 64-byte register block: the F1's CSGADR
        .byte   0x50, 0xA0
        .word   PPROG           ; bit 5: ELAT on the 711E9, reads 0 elsewhere
        .byte   0x20, 0x00
        .word   0x1036          ; EPROG on the 711E20, reserved elsewhere
        .byte   0x20, 0x00
probes_end:

        talker_end
