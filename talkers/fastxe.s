; SPDX-License-Identifier: GPL-3.0-or-later
; The fast protocol's talker for an EEPROM on the expanded bus (docs/fast-protocol.md): the
; parallel EEPROM at $8000 or the companion chip's EEPROM, programmed as exteeprg programs them,
; on the block layer of fastcore.inc: P, B, and
;   W   address, count (1 to 24), 24 data bytes: the first count written from the address on.
;       K with the address past the last; V with a byte that did not read back within the write
;       cycle. The PC refuses addresses below $2000 itself, as exteeprg does.
        .include "hc11.inc"

        .equ LONG, 'W'
        .equ LONG_REQ, 30       ; 24 data bytes: at 9600 baud a block's line time is then a
                                ; smaller share of its write cycles
        ; Data polling: 2440 rounds of 14 E cycles, 17.08 ms, where a write cycle takes 10 ms
        ; at most (5 ms on the board).
        .equ POLL_ROUNDS, 2440

        .include "fastcore.inc"

        fast_talker expanded_bus

; Each byte: left alone when it holds its value already; otherwise written on its own and
; read back by data polling (bit 7 reads inverted while the write cycle runs), V when it does
; not hold the value within 17 ms. The data bytes are pulled from the request (the stack
; pointer over them; nothing is called meanwhile, interrupts are masked).
dispatch:
        cmpa    #'W'
        bne     unknown
        ldab    *blk+3          ; 1 to 24
        lds     #blk+3
1:      pula
        cmpa    0,x
        beq     3f
        staa    0,x
        ldy     #POLL_ROUNDS
2:      cmpa    0,x
        beq     3f
        dey
        bne     2b
        ldaa    #'V'
        bra     answer
3:      inx
        decb
        bne     1b
        bra     ok

        talker_end
