; Programs the internal EEPROM from the S-record file that the PC streams after the talker.
; Silent on success; on the first error it sends one letter and takes nothing more:
; "A" an address below $2000 (RAM and the registers, never the EEPROM's), "V" a byte that did
; not read back as the file has it (outside the EEPROM, or a bit that needs erasing first),
; "C" a record whose checksum does not hold.
;
; A byte that already holds the file's value is left alone. Programming only clears bits:
; the EEPROM is erased first (the Erase button) where the file needs a 1 over a 0.

        .include "hc11.inc"

        .sect .text
        .globl _start
_start: talker_start BAUD_1200
        clr     BPROT           ; bootstrap is a special mode: the bits clear at any time

main:   jsr     *nextrec
1:      ldab    *cnt
        beq     2f
        bsr     getbyte
        bsr     progee
        inx
        dec     cnt
        bra     1b
2:      jsr     *endrec
        bra     main

; Programs A at X: EELAT, the data to the address, then EEPGM in a second write, held 10 ms
; (MC68HC11A8 technical data 3.5).
progee: cmpa    0,x
        beq     2f
        cpx     #0x2000
        blo     3f
        ldab    #0x02           ; EELAT
        stab    PPROG
        staa    0,x
        incb                    ; EEPGM
        stab    PPROG
        ldy     #800            ; 800 rounds of at least 25 E cycles: over 10 ms at 2 MHz
1:      bsr     poll
        dey
        bne     1b
        clr     PPROG
        cmpa    0,x
        beq     2f
        ldaa    #'V'
        jmp     fail
2:      rts
3:      ldaa    #'A'
        jmp     fail

        .include "poll.inc"
        .include "srec.inc"
        .include "fail.inc"

        talker_end
