; SPDX-License-Identifier: GPL-3.0-or-later
; A program with the names a monitor shows: a function and a table with their sizes, labels
; without one, an equate for a register, and a local name that the other file also has.
        .sect .text
        .globl main
        .type main,@function
main:   ldaa    #5
loop:   deca
        bne     loop
        jsr     print
        ldab    PORTA
        bra     main
        .size main, .-main
        .globl print
print:  ldx     #table
        rts

        .sect .rodata
        .globl table
        .type table,@object
table:  .byte   1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12
        .size table, .-table

PORTA = 0x1000
