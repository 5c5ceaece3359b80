; SPDX-License-Identifier: GPL-3.0-or-later
; The fast protocol's reading talker (docs/fast-protocol.md): binary blocks, each with a
; CRC-16 (polynomial $1021, initial value $FFFF, not reflected, sent high byte first), and one
; answer to every request:
;   request  command, address (2, high first), count, CRC (2)
;   answer   status, address (2), data (R only, when K), CRC (2)
; Commands: P (ping: K), R (read count bytes from the address, 0 = 256, through the expanded
; bus), I (read as R, the chip's own memories alone), B (the rate agreement, fastrate.inc).
; Status: K done,
; N a damaged request (sent once the line has been idle for 20 ms), U a command it does not
; know.
;
; RAM, the same on every part (the A8 and 811E2 have only $0000-$00FF):
;   $0000 - $00F4    the image
;   $0000 - $0005    the request being received, over the start-up code that has run by then
;   $00F5 - $00F6    the CRC
;   $00F7 - $00FF    stack (9 bytes at most)
        .include "hc11.inc"

        .equ blk, 0x00          ; command, address, count, CRC
        .equ REQ, 6
        .equ crc, 0xF5
        .equ baud, 0xF4         ; what BAUD holds once the answer under way has left
        .equ FIRST_VAR, baud
        .equ IDLE_ROUNDS, 2500  ; of 16 E cycles: 20 ms of idle line ends a request

        .sect .text
        .globl _start
_start: talker_start
        jsr     *drain           ; the boot loader's last fill byte on the 256-byte parts
        ldaa    #BAUD_1200
        staa    *baud
        bra     next


; Takes a request: its first byte whenever it comes, the rest without a pause longer than the
; idle limit.
next:   ldx     #blk
1:      jsr     *getc
        bcs     1b
        ldab    #REQ            ; the first byte included
        bra     3f
2:      jsr     *getc
        bcs     bad
3:      staa    0,x
        inx
        decb
        bne     2b
        ldd     #0xFFFF         ; the CRC over the whole request, its own included, is 0
        std     *crc
        ldx     #blk
5:      ldaa    0,x
        jsr     *crcup
        inx
        cpx     #blk+REQ
        bne     5b
        ldd     *crc
        bne     bad
        ldx     *blk+1          ; the address
        ldaa    *blk
        cmpa    #'R'
        beq     rdbus
        cmpa    #'I'
        beq     rdchip
        cmpa    #'P'
        beq     ok
        cmpa    #'B'
        beq     rate
        ldaa    #'U'
        bra     answer

; B: K at the old rate, then the new rate once it has left the wire.
rate:   ldaa    *blk+3
        staa    *baud
        bra     ok

; A damaged request: wait until the line is idle, so that the rest of it is not taken for the
; next one, then ask for it again.
bad:    lds     #STACK
        jsr     *drain
        ldaa    #BAUD_1200
        cmpa    *baud
        beq     8f
        staa    *baud           ; at another rate: back to 1200 without a word, since an answer
        staa    BAUD            ; at 1200 would reach a PC listening faster as a break
        bra     next
8:      ldaa    #'N'
        bra     answer

; R reads in special test mode, where the expanded bus answers wherever the chip's own
; resources do not (a range in external RAM or EEPROM); I in the bootstrap mode itself, the
; chip's own memories alone, as the compare and status talkers read them. MDA is writable while
; SMOD is set (M68HC11 Reference Manual, HPRIO).
rdbus:  ldab    #MDA
        .byte   0x21            ; brn: skips the next byte
rdchip: clrb
        ldaa    HPRIO
        anda    #~MDA
        aba
        staa    HPRIO
read:   ldaa    #'K'
        jsr     *header
        ldab    *blk+3          ; 0 is 256
6:      pshb
        ldaa    0,x
        jsr     *putc
        pulb
        inx
        decb
        bne     6b
        bra     trailer

ok:     ldaa    #'K'
answer: lds     #STACK
        jsr     *header
trailer:
        ldd     *crc
        jsr     *putraw         ; keeps B
        tba
        jsr     *putraw
7:      ldaa    SCSR            ; a BAUD write changes the rate of the character being shifted
        bita    #TC
        beq     7b
        ldaa    *baud
        staa    BAUD
        jmp     next

; Sends the status in A and the address in X, starting the answer's CRC. Keeps X.
header: pshx                    ; pulled high byte first
        ldab    #0xFF
        stab    *crc
        stab    *crc+1
        jsr     *putc
        pula
        jsr     *putc
        pula
; Sends A and adds it to the CRC. Keeps X; uses B and Y (putraw: neither).
putc:   psha
        jsr     *crcup
        pula
putraw: tst     SCSR            ; TDRE is bit 7
        bpl     putraw
        staa    SCDR
        rts

; The CRC-16 with the byte in A, most significant bit first. Keeps X; uses D and Y.
crcup:  eora    *crc
        ldab    *crc+1
        ldy     #8
1:      lsld
        bcc     2f
        eora    #0x10
        eorb    #0x21
2:      dey
        bne     1b
        std     *crc
        rts

; One character into A with carry clear, or carry set when the line stayed idle for 20 ms
; (2500 rounds of 16 E cycles; from getcy, Y rounds). Uses A and Y.
getc:   ldy     #IDLE_ROUNDS
getcy:
1:      ldaa    SCSR
        bita    #RDRF
        bne     2f
        dey
        bne     1b
        sec
        rts
2:      ldaa    SCDR            ; SCSR then SCDR clears RDRF
        clc
        rts

; Waits until the line has been idle for 20 ms.
drain:  jsr     *getc
        bcc     drain
        rts

        talker_end
