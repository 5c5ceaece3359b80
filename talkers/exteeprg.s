; SPDX-License-Identifier: GPL-3.0-or-later
; Programs an EEPROM on the expanded bus (a 28C64-style part, or the companion chip's EEPROM)
; from the S-record file that the PC streams after the talker. At the file's S9 it answers "O"
; and an address; at the first error one letter and the address it concerns, and it takes
; nothing more: "A" an
; address below $2000 (the chip's own RAM and registers, and the companion chip's registers
; where they are by default), "V" a byte that did not read back as the file has
; it within 17 ms (nothing there, the chip's own memory in the way, a protected block, or
; software data protection still on), "C" a record whose checksum does not hold.
;
; Each byte is written on its own and followed by data polling: while the write cycle runs
; the part returns bit 7 inverted, so the byte reads back as written only when it is done.

        .include "hc11.inc"
        .equ REFUSE_BELOW, 0x2000

        .macro prepare
        expanded_bus
        .endm

; No latch: the byte goes straight to the bus.
        .macro in_memory
        .endm

; The write, then data polling: 1100 rounds of at least 31 E cycles, 17.05 ms, where a write
; cycle takes 10 ms at most (docs/virtual-board.md: 5 ms on the board).
        .macro write_byte
        staa    0,x
        ldy     #1100
count_poll = . - 2              ; the PC writes the count for its E
1:      bsr     poll
        cmpa    0,x
        beq     2f
        dey
        bne     1b
        .endm

        .include "program.inc"
