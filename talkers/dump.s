; Dumps a range: after the range command it sends the range as S1 records of 16 data bytes,
; 42 characters each, back to back with no line ends, and then falls silent. It reads through
; the expanded bus, so external RAM and EEPROM are dumped as well as the chip's own memories,
; which come first where they overlap them.

        .include "hc11.inc"

        .sect .text
        .globl _start
_start: talker_start BAUD_1200
        expanded_bus
        jsr     *getrange
        ldx     *beg
rec:    ldaa    #'S'
        jsr     *putc
        ldaa    #'1'
        jsr     *putc
        clr     sum
        ldaa    #0x13           ; count: address, 16 bytes, checksum
        bsr     putsum
        stx     *adr
        ldaa    *adr
        bsr     putsum
        ldaa    *adr+1
        bsr     putsum
        ldab    #16
        stab    *cnt
1:      ldaa    0,x
        bsr     putsum
        inx
        dec     cnt
        bne     1b
        ldaa    *sum
        coma
        jsr     *puthex
        dex
        cpx     *end
        beq     idle
        inx
        bra     rec
idle:   bra     idle

; Sends A as two hexadecimal digits and adds it to the checksum.
putsum: psha
        adda    *sum
        staa    *sum
        pula
        jmp     puthex

        .include "command.inc"
        .include "out.inc"

        talker_end
