; SPDX-License-Identifier: GPL-3.0-or-later
; The fast protocol's reading talker (docs/fast-protocol.md), on the block layer of
; fastcore.inc: P, B, and
;   R   K with the address, then count bytes read from it on (0: 256), through the expanded bus
;   I   as R, the chip's own memories alone
        .include "hc11.inc"
        .equ WITH_DATA, 1
        .equ RATE_CHECKED, 1

        .include "fastcore.inc"

        fast_talker

; R reads in special test mode, where the expanded bus answers wherever the chip's own
; resources do not (a range in external RAM or EEPROM); I in the bootstrap mode itself, the
; chip's own memories alone, as the compare and status talkers read them. MDA is writable while
; SMOD is set (M68HC11 Reference Manual, HPRIO).
dispatch:
        ldab    #MDA
        cmpa    #'R'
        beq     1f
        clrb
        cmpa    #'I'
        bne     unknown
1:      ldaa    HPRIO
        anda    #~MDA
        aba
        staa    HPRIO
        ldaa    #'K'
        jsr     *header
        ldab    *blk+3
        bra     data

        talker_end
