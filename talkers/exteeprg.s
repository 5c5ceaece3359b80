; Programs an EEPROM on the expanded bus (a 28C64-style part, or the companion chip's EEPROM)
; from the S-record file that the PC streams after the talker. Silent on success; on the
; first error it sends one letter and takes nothing more: "A" an address below $2000 (RAM and
; the registers), "V" a byte that did not read back as the file has it within 20 ms (nothing
; there, the chip's own memory in the way, a protected block, or software data protection
; still on), "C" a record whose checksum does not hold.
;
; Each byte is written on its own and followed by data polling: while the write cycle runs
; the part returns bit 7 inverted, so the byte reads back as written only when it is done.

        .include "hc11.inc"

        .sect .text
        .globl _start
_start: talker_start BAUD_1200
        expanded_bus

main:   jsr     *nextrec
1:      ldab    *cnt
        beq     2f
        jsr     *getbyte
        bsr     progext
        inx
        dec     cnt
        bra     1b
2:      jsr     *endrec
        bra     main

; Writes A at X and waits until it reads back.
progext:
        cmpa    0,x
        beq     2f
        cpx     #0x2000
        blo     3f
        staa    0,x
        ldy     #1000           ; 1000 rounds of at least 34 E cycles: 17 ms; a write cycle is 5
1:      bsr     poll
        cmpa    0,x
        beq     2f
        dey
        bne     1b
        ldaa    #'V'
        jmp     fail
2:      rts
3:      ldaa    #'A'
        jmp     fail

        .include "poll.inc"
        .include "srec.inc"
        .include "fail.inc"

        talker_end
