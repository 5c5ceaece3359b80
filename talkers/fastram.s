; SPDX-License-Identifier: GPL-3.0-or-later
; The fast protocol's RAM talker (docs/fast-protocol.md): loads a program into RAM on the
; expanded bus and runs it, deciding as ram does. On the block layer of fastcore.inc:
;   X   address, count (1 to 17), 17 data bytes: the first count stored from the address on,
;       each read back; K, or V at a byte that does not read back as stored (no RAM there),
;       the bytes before it stored. The PC refuses, as ram does, the internal RAM below $0200
;       (where the talker runs) and the register block before it sends them; the talker
;       answers N to a block that starts in page $00, its own code, CRC and stack (the full
;       check of the PC's bounds takes some 20 bytes, which the data bytes leave no room for).
;   G   answers K, waits until the answer has left the wire (TC), sets the SCI to 9600 baud
;       as ram leaves it, and jumps to the address with the expanded bus on.
        .include "hc11.inc"

        .equ LONG, 'X'
        .equ VERIFIES, 1        ; V: a byte that did not read back as stored
        .equ LONG_REQ, 23       ; 17 data bytes, all that the image leaves room for: at 9600
                                ; baud the line is the whole cost of a RAM download
        .include "fastcore.inc"

        fast_talker expanded_bus

dispatch:
        cmpa    #'G'
        beq     run
        cmpa    #'X'
        bne     unknown
        ldab    *blk+3
        decb                    ; the count less 1: 0 to 16, or one the request does not carry
        cmpb    #16
        bhi     refuse
        ldaa    *blk+1
        beq     refuse          ; page $00: the talker itself
        lds     #blk+3          ; the data, taken with PULA; answer sets the stack again
1:      pula
        staa    0,x
        cmpa    0,x             ; RAM keeps it; ROM, EEPROM (no EELAT) and an empty bus do not
        bne     fail
        inx
        decb
        bpl     1b
        bra     ok

run:    ldaa    #'K'
        jsr     *reply
1:      ldaa    SCSR
        asla                    ; TC (bit 6) into the sign
        bpl     1b
        ldaa    #BAUD_9600
        staa    BAUD
        jmp     0,x

        talker_end
