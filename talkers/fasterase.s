; SPDX-License-Identifier: GPL-3.0-or-later
; The fast protocol's erase talker (docs/fast-protocol.md), on the block layer of fastcore.inc
; with the CRC-8. The PC decides as eeerase does, from the CONFIG that P answers, whether the
; range is all EEPROM and whether it takes one bulk erase or rows; the talker erases and checks:
;   E   address = the range's first byte, count = rows of 16 from it (0: one bulk erase),
;       2 data bytes = the range's last byte. Then every byte of the range is read: K with
;       the last address, or V with the first that does not read $FF. N for a range that ends
;       before it begins, or that does not lie within one aligned 2 KB ($x000-$x7FF or
;       $x800-$xFFF, as every EEPROM does) clear of $0000-$07FF and $1000-$17FF, where no part
;       has EEPROM and the talker and the register block (CONFIG at $103F) lie. Rows are
;       erased from the address on, 16 bytes apart, as long as they start within the range:
;       the rows the count says for a range the PC sent. A row erase takes the whole 16-byte row of
;       its address (MC68HC11A8 technical data 3.5.1, ROW): the PC sends whole rows.
        .include "hc11.inc"

        .equ LONG, 'E'
        .equ LONG_REQ, 7        ; 2 data bytes, the CRC-8
        .equ PING_CONFIG, 1
        .equ CRC8, 1
        .equ VERIFIES, 1
        .equ NEAR_NEXT, 1
        .equ STACK_KEPT, 1
        .equ BULK, 0x06         ; PPROG: ERASE EELAT
        .equ ROW, 0x0E          ; PPROG: ROW ERASE EELAT
        .include "fastcore.inc"

        fast_talker bprot

; The range is checked whole before anything is latched: a bulk erase addressed into the
; register block erases CONFIG on the board (docs/virtual-board.md), and a row erase writes its
; address, which in page $00 or $10 is the talker or a register. Within one aligned 2 KB, the
; range's first and last bytes' pages (high bytes) differ in bits 2-0 only.
dispatch:
        cmpa    #'E'
        bne     unknown
        cpx     *blk+4
        bhi     refuse          ; a range that ends before it begins
        ldaa    *blk+1
        bita    #0xE8
        beq     refuse          ; $0000-$07FF or $1000-$17FF
        eora    *blk+4
        cmpa    #0x08
        bhs     refuse          ; not within one 2 KB
        ldab    #BULK
        ldaa    *blk+3
        beq     2f
1:      ldab    #ROW
        bsr     cycle
        xgdx
        addd    #16
        xgdx
        bcs     4f              ; past $FFFF: the range's last row was done
        cpx     *blk+4
        bls     1b
        .byte   0x8C            ; cpx #: skips the next instruction
2:      bsr     cycle
4:      ldx     *blk+1
3:      ldaa    0,x
        inca
        bne     fail
        cpx     *blk+4
        beq     ok
        inx
        bra     3b

        .include "eecycle.inc"

        talker_end
