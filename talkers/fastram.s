; SPDX-License-Identifier: GPL-3.0-or-later
; The fast protocol's RAM talker (docs/fast-protocol.md): loads a program into RAM on the
; expanded bus and runs it, deciding as ram does.
;   X   address, count (1 to 8), 8 data bytes: the first count stored from the address on. A
;       byte in the internal RAM below $0200, where the talker runs, or in the register block
;       ends the request with A and that byte's address; the bytes before it are stored. K
;       when all are.
;   G   answers K, waits until the answer has left the wire (TC), sets the SCI to 9600 baud
;       as ram leaves it, and jumps to the address with the expanded bus on.
;   P   K.
        .include "hc11.inc"

        .equ REQ_LONG, 14
        .equ LONG_CMD, 'X'
        .macro PING_ADDRESS
        .endm

        .sect .text
        .globl _start
_start: talker_start
        ldx     #0x1000         ; the expanded bus (expanded_bus, one byte shorter)
        bset    HPRIO-0x1000,x #MDA
        jsr     *drain           ; the boot loader's last fill byte on the 256-byte parts

        .include "fastmisc.inc"
        .include "fastio.inc"

dispatch:
        cmpa    #'G'
        beq     run
        cmpa    #'X'
        bne     unknown
        ldab    *blk+3          ; the count
        lds     #blk+3          ; the data, taken with PULA; answer sets the stack again
1:      cpx     #0x0200         ; the internal RAM
        blo     refuse
        cpx     #0x1000
        blo     2f
        cpx     #0x1040         ; the register block
        blo     refuse
2:      pula
        staa    0,x
        inx
        decb
        bne     1b
        jmp     ok
refuse: ldaa    #'A'
        jmp     answer

run:    ldaa    #'K'
        jsr     *reply
1:      ldaa    SCSR
        bita    #TC
        beq     1b
        ldaa    #BAUD_9600
        staa    BAUD
        jmp     0,x

        talker_end
