; SPDX-License-Identifier: GPL-3.0-or-later
; Loads an S-record file into RAM on the expanded bus at 9600 baud, then runs it. After the
; file (its S9, or the $5A itself in a file without S9) it waits for $5A and the start
; address as hexadecimal text with no terminator: the text ends when the line has been idle
; for 5 ms (about five characters). It then answers "O" and jumps there 50 ms later, time for
; the PC to read the answer and set the rate the program talks at. It runs nothing when a
; record was refused (the internal RAM below $0200, which holds the talker, the register
; block, or a byte that did not read back as stored: no RAM there), a checksum did not hold, or
; the address is not one to four significant hexadecimal digits (any other character, a blank
; included, a fifth digit, or none but 0); then it sends that record's letter ("A", "C") or
; "Z" for the address, and falls silent.

        .include "hc11.inc"
        .equ RUN_MARK, 0x5A
        .equ FIRST_VAR, sum      ; pendc and val are other talkers'
        .include "record.inc"

        .sect .text
        .globl _start
_start: talker_start BAUD_9600
        expanded_bus

main:   srec_header
1:      ldab    *cnt
        beq     2f
        jsr     *getbyte
        cpx     #0x0200         ; the internal RAM
        blo     3f
        cpx     #0x1000
        blo     4f
        cpx     #0x1040         ; the register block
        blo     3f
4:      staa    0,x
        cmpa    0,x             ; RAM keeps it; ROM, EEPROM (no EELAT) and an empty bus do not
        bne     3f
        inx
        dec     cnt
        bra     1b
2:      srec_checksum
        bra     main
badsum: ldaa    #'C'
        .byte   0x8C            ; cpx #: skips the next instruction
3:      ldaa    #'A'
        bra     fail

srec_end:
1:      jsr     *getc
        cmpa    #RUN_MARK
        bne     1b
run_mark:
        ldx     #0              ; X = the start address so far
2:      ldy     #625            ; 625 rounds of 16 E cycles: 5 ms
count_idle = . - 2
3:      ldaa    SCSR
        bita    #RDRF
        bne     4f
        dey
        bne     3b
        cpx     #0              ; the line is idle: the address is complete
        beq     5f
        ldaa    #DONE
        bsr     putc
        ldy     #14286          ; 14286 rounds of 7 E cycles: 50 ms, the answer long gone
count_jump = . - 2
6:      dey
        bne     6b
        jmp     0,x
4:      ldaa    SCDR            ; strictly a digit: what hexval skips or folds runs nothing
        suba    #'0'
        cmpa    #10
        blo     7f
        anda    #0xDF           ; either case
        suba    #'A'-'0'
        cmpa    #6
        bhs     5f
        adda    #10
7:      xgdx                    ; D = the address so far, X = the digit in its high byte
        bita    #0xF0
        bne     5f              ; a fifth significant digit
        asld
        asld
        asld
        asld
        xgdx                    ; X = the address times 16, A = the digit
        tab
        abx
        bra     2b
5:      ldaa    #'Z'

; Sends the letter in A and takes nothing more.
fail:   bsr     putc
idle:   bra     idle

        .include "putc.inc"

        .include "srec.inc"

        talker_end
