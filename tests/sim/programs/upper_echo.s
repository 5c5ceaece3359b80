; SPDX-License-Identifier: GPL-3.0-or-later
; Sends a greeting at 9600 baud (at another rate with BAUD_VALUE set), then echoes every byte
; it receives, a lower-case letter in upper case. Runs from wherever it is placed (the RAM
; download starts it at $2000).
        .sect .text
        .globl _start
        BAUD   = 0x2B
        SCCR1  = 0x2C
        SCCR2  = 0x2D
        SCSR   = 0x2E
        SCDR   = 0x2F
        TDRE   = 0x80
        RDRF   = 0x20

        .ifndef BAUD_VALUE
        BAUD_VALUE = 0x30       ; E/16/1/13: 9615 baud
        .endif

_start: ldx     #0x1000
        ldaa    #BAUD_VALUE
        staa    BAUD,x
        clr     SCCR1,x
        ldaa    #0x0C           ; TE and RE
        staa    SCCR2,x
        ldy     #hello
greet:  ldaa    0,y
        beq     echo
        bsr     putc
        iny
        bra     greet

echo:   ldaa    SCSR,x          ; SCSR then SCDR clears RDRF
        bita    #RDRF
        beq     echo
        ldaa    SCDR,x
        cmpa    #'a'
        blo     1f
        cmpa    #'z'
        bhi     1f
        suba    #0x20
1:      bsr     putc
        bra     echo

putc:   ldab    SCSR,x
        bitb    #TDRE
        beq     putc
        staa    SCDR,x
        rts

hello:  .asciz  "Hello from the HC11\r\n"
