; SPDX-License-Identifier: GPL-3.0-or-later
; The resident monitor (docs/fast-protocol.md, "Monitor"), on the block layer of fastcore.inc:
; it stays on the chip while the user's program runs and takes the CPU back at an SWI, an
; illegal opcode or the SCI's receive interrupt. P, B, and
;   R   K with the address, then count bytes read from it on (0: 256)
;   W   stores the count byte at the address; K with the address
;   G   K, then RTI with the stack pointer at the address less one: the program runs on from
;       the frame there
; and, unasked, the stop: S (an SWI, or the SCI's receive interrupt) or I (an illegal opcode)
; with the address of the frame the entry stacked (CCR, B, A, X, Y, PC; the program's stack
; pointer before it is the frame's last byte). Every other letter reads.
; The PC does everything else through R and W: the registers are the frame, a breakpoint is a
; store (an EEPROM's through PPROG, timed by the PC), the SCI's receive interrupt, through which
; the PC stops the program, is RIE in SCCR2, and the PC tells a breakpoint from the program's
; own SWI and from its own stop by the frame's PC. There is room for nothing more: the monitor must leave the pseudo-vectors it does
; not take to the program, and $0100-$01FF of the larger parts.
;
; RAM, the same on every part:
;   $0000 - $0004    the request, over the start
;   $0005 - $0006    the CRC-8 and the stack byte it brings
;   $0007 - $000D    stack, until the first G; after it the monitor keeps below the frame on the
;                    program's own stack (8 bytes at most: an answer, JSR JSR PSHX JSR)
;   ...  - $00C3     the image, to its last byte
;   $00C4, $00F4, $00F7   the SCI, SWI and illegal opcode pseudo-vectors (the boot ROM's vectors
;                    lead there in bootstrap mode: M68HC11 Reference Manual 3.5.4.4)
        .equ STACK, 0x0D
        .equ CRC_AT, 0x05
        .include "hc11.inc"
        .equ CRC8, 1
        .equ WITH_DATA, 1
        .equ STACK_KEPT, 1
        .equ NEAR_NEXT, 1
        .equ ONLY_OK, 1

        .include "fastcore.inc"

        .sect .text
        .globl _start
_start: talker_start
        clr     SPCR            ; TxD driven both ways (fastcore.inc, fast_talker)
        fast_start
        .skip   2               ; the start's stack: its one JSR may not land on code
        fast_core

dispatch:
        tab
        ldaa    #'K'
        cmpb    #'W'
        beq     store
        cmpb    #'G'
        beq     run
        jsr     *header
        ldab    *blk+3
        bra     data
store:  ldab    *blk+3
        stab    0,x
        bra     answer
run:    jsr     *reply
        txs
        rti
; Every entry: X at the frame the CPU stacked (M68HC11 Reference Manual 5.4: the nine bytes
; from the CCR up, the stack pointer below them). The `.byte 0x8C` (CPX immediate) takes the
; next LDAA as its operand. The illegal opcode's own letter, as its trap stacks the opcode's
; address where SWI stacks the next one's: the PC could not tell them apart where an illegal
; opcode follows a byte $3F.
illegal:
        ldaa    #'I'
        .byte   0x8C
stop:   ldaa    #'S'
        bra     answer

        .org    0xC4
        tsx
        bra     stop
        .org    0xF4
        tsx
        bra     stop
        tsx
        bra     illegal
