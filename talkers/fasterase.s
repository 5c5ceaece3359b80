; SPDX-License-Identifier: GPL-3.0-or-later
; The fast protocol's erase talker (docs/fast-protocol.md), on the block layer of fastcore.inc
; with the CRC-8. The PC decides as eeerase does, from the CONFIG that P answers, whether the
; range is all EEPROM and whether it takes one bulk erase or rows; the talker erases and checks:
;   E   address = the range's first byte, count = rows of 16 from it (0: one bulk erase),
;       2 data bytes = the range's last byte. Then every byte of the range is read: K with
;       the last address, or V with the first that does not read $FF. N for a range that ends
;       before it begins, 128 rows or more, or rows that would run past $FFFF.
        .include "hc11.inc"

        .equ LONG, 'E'
        .equ LONG_REQ, 7        ; 2 data bytes, the CRC-8
        .equ PING_CONFIG, 1
        .equ CRC8, 1
        .equ VERIFIES, 1
        .equ BULK, 0x06         ; PPROG: ERASE EELAT
        .equ ROW, 0x0E          ; PPROG: ROW ERASE EELAT
        .include "fastcore.inc"

        fast_talker bprot

dispatch:
        cmpa    #'E'
        bne     unknown
        cpx     *blk+4
        bhi     refuse          ; a range that ends before it begins
        ldab    #BULK
        ldaa    *blk+3
        beq     2f
        bmi     refuse          ; more rows than the largest EEPROM, 2 KB, has
        deca
        ldab    #16
        mul
        addd    *blk+1          ; the last row's first byte
        bcs     refuse          ; past $FFFF, into the talker's own RAM
1:      ldab    #ROW
        bsr     cycle
        ldab    #16
        abx
        dec     blk+3
        bne     1b
        .byte   0x8C            ; cpx #: skips the next instruction
2:      bsr     cycle
        ldx     *blk+1
3:      ldaa    0,x
        inca
        bne     fail
        cpx     *blk+4
        beq     ok
        inx
        bra     3b

        .include "eecycle.inc"

        talker_end
