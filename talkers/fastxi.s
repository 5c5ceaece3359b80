; SPDX-License-Identifier: GPL-3.0-or-later
; The fast protocol's talker for the companion chip's registers and commands
; (docs/fast-protocol.md): the PC finds the chip, writes its registers and sends its command
; sequences through it, as xisfr, xieem, xibpr, xisdpoff and xireset do on their own.
;   request  command, address (2, high first), count, data (S only: 8), CRC (2)
;   answer   status, address (2), data (S only: 8), CRC (2)
; Commands: P (ping: K), S (store and read: the data are a second address and six bytes; the
; bits of count, least significant first and up to its highest set bit, say where each byte
; goes, 0 the request's address, 1 the second address, all written back to back; then the
; eight bytes that follow the request's address are read and answered), B (the rate
; agreement, fastrate.inc). Status: K done, N a damaged request, U a command it does not know.
        .include "hc11.inc"
        .include "fastxcore.inc"

        .equ LONG, 'S'
        .equ LONG_REQ, 14

        .sect .text
        .globl _start
_start: fast_start

; The writes follow each other within 20 E cycles, well inside the 150 us that the chip's
; command sequences allow between two bytes. The bytes are pulled from the request, and then
; read from the address on, with the stack pointer over them (nothing is called meanwhile,
; interrupts are masked).
store:  lds     #blk+5
1:      ldx     *blk+1
        lsr     blk+3           ; carry: this byte's bit; zero: that was the last bit
        beq     3f
        bcc     2f
        ldx     *blk+4
2:      pula
        staa    0,x
        bra     1b
3:      lds     *blk+1
        ldx     #blk+3
4:      pula
        staa    0,x
        inx
        cpx     #blk+11
        bne     4b
        ldaa    #'K'
        bra     answerx

        fast_answer_take
        cmpa    #'P'
        beq     ok
        cmpa    #'S'
        beq     store
        cmpa    #'B'
        beq     rate
        ldaa    #'U'
        bra     answer

        .include "fastrate.inc"

        fast_bad

        fast_io

        talker_end
