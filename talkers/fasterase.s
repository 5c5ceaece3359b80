; SPDX-License-Identifier: GPL-3.0-or-later
; The fast protocol's erase talker (docs/fast-protocol.md). The PC decides as eeerase does,
; from CONFIG, whether the range is all EEPROM and whether it takes one bulk erase or rows;
; the talker erases and checks:
;   P   K, with CONFIG in the address's low byte (the high byte means nothing).
;   E   address = the range's first byte, count = rows of 16 from it (0: one bulk erase),
;       2 data bytes = the range's last byte. Then every byte of the range is read: K with
;       the last address, or V with the first that does not read $FF.
        .include "hc11.inc"

        .equ BULK, 0x06         ; PPROG: ERASE EELAT
        .equ ROW, 0x0E          ; PPROG: ROW ERASE EELAT
        .equ REQ_LONG, 8
        .equ LONG_CMD, 'E'
        .macro PING_ADDRESS
        ldx     CONFIG-1            ; TEST1 and CONFIG: two bytes shorter than CONFIG alone
        .endm

        .sect .text
        .globl _start
_start: talker_start
        jsr     *drain           ; the boot loader's last fill byte on the 256-byte parts

        .include "fastmisc.inc"
        .include "fastio.inc"

dispatch:
        cmpa    #'E'
        bne     unknown
        clr     BPROT           ; bootstrap is a special mode: the bits clear at any time
        ldab    #BULK
        ldaa    *blk+3
        beq     2f
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
        bne     4f
        cpx     *blk+4
        beq     5f
        inx
        bra     3b
4:      ldaa    #'V'
        .byte   0x8C            ; cpx #: skips the next instruction
5:      ldaa    #'K'
        jmp     answer

        .include "eecycle.inc"

        talker_end
