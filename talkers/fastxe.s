; SPDX-License-Identifier: GPL-3.0-or-later
; The fast protocol's talker for an EEPROM on the expanded bus (docs/fast-protocol.md): the
; parallel EEPROM at $8000 or the companion chip's EEPROM, programmed as exteeprg programs them.
;   request  command, address (2, high first), count, data (W only: 8), CRC (2)
;   answer   status, address (2), CRC (2)
; Commands: P (ping: K), W (program the first count of the 8 data bytes, 1 to 8, from the
; address on; the PC refuses addresses below $2000 itself, as exteeprg does), B (the rate
; agreement, fastrate.inc). Status: K done, V a byte that did not read back within the write
; cycle (the address is the byte's), N a damaged request, U a command it does not know.
        .include "hc11.inc"
        .include "fastxcore.inc"

        .equ LONG, 'W'
        .equ LONG_REQ, 14
        ; Data polling: 2440 rounds of 14 E cycles, 17.08 ms, where a write cycle takes 10 ms
        ; at most (5 ms on the board).
        .equ POLL_ROUNDS, 2440

        .sect .text
        .globl _start
_start: fast_start

; Each byte: left alone when it holds its value already; otherwise written on its own and
; read back by data polling (bit 7 reads inverted while the write cycle runs), V when it does
; not hold the value within 17 ms. The data bytes are pulled from the request (the stack
; pointer over them; nothing is called meanwhile, interrupts are masked).
write:  ldx     *blk+1
        ldab    *blk+3          ; 1 to 8
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
        stx     *blk+1
        ldaa    #'V'
        bra     answer
3:      inx
        decb
        bne     1b

        fast_answer_take
        cmpa    #'P'
        beq     ok
        cmpa    #'W'
        beq     write
        cmpa    #'B'
        beq     rate
        ldaa    #'U'
        bra     answer

        .include "fastrate.inc"

        fast_bad

        fast_io

        talker_end
