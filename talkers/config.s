; SPDX-License-Identifier: GPL-3.0-or-later
; Programs CONFIG. It waits for $FF, $AA and the new value, erases the CONFIG cell and
; programs the value into it. The chip copies the cell into CONFIG at reset, so the new value
; takes effect at the next reset (MC68HC11A8 technical data 3.5). No answer.

        .include "hc11.inc"

        .sect .text
        .globl _start
_start: talker_start BAUD_1200
1:      bsr     getc
2:      cmpa    #0xFF
        bne     1b
        bsr     getc
        cmpa    #0xAA
        bne     2b
        bsr     getc
        psha
        clr     BPROT           ; PTCON protects CONFIG; it clears at any time in bootstrap
        ldx     #CONFIG
        ldab    #0x16           ; BYTE ERASE EELAT
        bsr     cycle
        pula
        ldab    #0x02           ; EELAT
        bsr     cycle
idle:   bra     idle

        .include "eecycle.inc"

        .include "getc.inc"

        talker_end
