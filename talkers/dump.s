; SPDX-License-Identifier: GPL-3.0-or-later
; Dumps a range: after the range command it sends an S0 header, the range as S1 records of 16
; data bytes and an S9 end, back to back with no line ends, and then falls silent. Every
; record but the S9 is 42 characters, as the PC cuts the text into lines of 42; the S9 comes
; as the last line. It reads through the expanded bus, so external RAM and EEPROM are dumped
; as well as the chip's own memories, which come first where they overlap them.

        .include "hc11.inc"
        .equ NO_HEX4, 1

        .sect .text
        .globl _start
_start: talker_start
        expanded_bus
        jsr     *getrange
        ; The PC clears what it has received right after the command has left it, a few
        ; milliseconds late when it is busy: the first record must not come before that.
        ldy     #25025          ; 25025 rounds of 16 E cycles: 200 ms
count_start = . - 2             ; the PC writes the count for its E
1:      pshx                    ; a round long enough for 200 ms at E = 3 MHz in 16 bits
        pulx
        dey
        bne     1b
        ldx     #0              ; the header, address 0
        stx     *adr
        ldaa    #'0'
        ldab    #16
        ldx     #title
        bsr     record
        ldx     *beg
1:      stx     *adr
        ldaa    #'1'
        ldab    #16
        bsr     record
        dex                     ; the record's last byte: was it the range's?
        cpx     *end
        beq     2f
        inx
        bra     1b
2:      ldx     #0
        stx     *adr
        ldaa    #'9'
        clrb
        bsr     record
idle:   bra     idle

; Sends one record: A its type, adr its address, X its B data bytes (X moves past them).
record: stab    *cnt
        psha
        ldaa    #'S'
        jsr     *putc
        pula
        jsr     *putc
        clr     sum
        ldaa    *cnt
        adda    #3              ; the count: address, data, checksum
        bsr     putsum
        ldaa    *adr
        bsr     putsum
        ldaa    *adr+1
        bsr     putsum
        tst     cnt
        beq     2f
1:      ldaa    0,x
        bsr     putsum
        inx
        dec     cnt
        bne     1b
2:      ldaa    *sum
        coma
        jmp     puthex

; Sends A as two hexadecimal digits and adds it to the checksum.
putsum: psha
        adda    *sum
        staa    *sum
        pula
        jmp     puthex

title:  .ascii  "HC11 memory dump"

        .include "command.inc"
        .include "out.inc"

        talker_end
