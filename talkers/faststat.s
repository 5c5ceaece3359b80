; SPDX-License-Identifier: GPL-3.0-or-later
; The fast protocol's status-check talker (docs/fast-protocol.md), on the block layer of
; fastcore.inc: the chip's own memories read in the bootstrap mode itself (HPRIO MDA clear, as
; the boot loader leaves it), as eestat and estat read them.
;   Q   address = the range's first byte, 2 data bytes = its last (count ignored). K with the
;       last address when every byte reads $FF; V with the first that does not.
        .include "hc11.inc"

        .equ LONG, 'Q'
        .equ LONG_REQ, 8        ; 2 data bytes
        .equ VERIFIES, 1
        .equ RATE_CHECKED, 1
        .include "fastcore.inc"

        fast_talker

dispatch:
        cmpa    #'Q'
        bne     unknown
        cpx     *blk+4
        bhi     refuse          ; a range that ends before it begins
1:      ldaa    0,x
        inca
        bne     fail
        cpx     *blk+4
        beq     ok
        inx
        bra     1b

        talker_end
