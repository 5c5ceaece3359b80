; SPDX-License-Identifier: GPL-3.0-or-later
; A program as a user's build makes one: code, a table of constants placed apart from it, data
; that runs in RAM but is stored beside the code (its load address not its run address), and
; zeroed memory that no file carries.
        .sect .text
        .globl _start
_start: ldx     #stored
        ldy     #counter
copy:   ldaa    0,x
        staa    0,y
        inx
        iny
        cpy     #counter+4
        bne     copy
        bra     _start

        .sect .rodata
table:  .byte   0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x7F, 0xBF, 0xDF
        .byte   0xEF, 0xF7, 0xFB, 0xFD, 0xFE, 0x55, 0xAA, 0x5A
        .ascii  "Kestro user program"

        .sect .data
counter: .byte  0x12, 0x34, 0x56, 0x78

        .sect .bss
buffer: .skip   64
