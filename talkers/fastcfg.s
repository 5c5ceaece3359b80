; SPDX-License-Identifier: GPL-3.0-or-later
; The fast protocol's CONFIG talker (docs/fast-protocol.md), on the block layer of
; fastcore.inc. P answers CONFIG, from which the PC decides as config does which cycles the
; new value needs, and asks for each:
;   C   count $FF: the CONFIG cell erased (the bulk-erase mode, ERASE EELAT, with CONFIG's
;       address latched: as config, the one mode taken to erase CONFIG on every part); any
;       other count: that value's
;       0s programmed (EELAT). K with $103F once the cycle is done. The chip copies the cell
;       into CONFIG at reset, so the value takes effect at the next one (MC68HC11A8 technical
;       data 3.5).
        .include "hc11.inc"

        .equ PING_CONFIG, 1
        .equ RATE_CHECKED, 1
        .equ PUMP_CLOCK, 1
        .include "fastcore.inc"

        fast_talker bprot

dispatch:
        cmpa    #'C'
        bne     unknown
        ldx     #CONFIG
        ldaa    *blk+3          ; the value
        ldab    #0x06           ; ERASE EELAT: the bulk-erase mode, addressed to CONFIG
        inca
        beq     1f              ; $FF: the erase
        deca
        ldab    #0x02           ; EELAT
1:      bsr     cycle
        bra     ok

        .include "eecycle.inc"

        talker_end
