; Programs the EPROM of the MC68HC711E9 ($D000-$FFFF) from the S-record file that the PC
; streams after the talker. Silent on success; on the first error it sends one letter and
; takes nothing more: "A" an address below $2000 (RAM and the registers), "V" a byte that did
; not read back as the file has it (no programming voltage, outside the EPROM, or a bit that
; would need a 1 over a 0), "C" a record whose checksum does not hold.
;
; A byte that already holds the file's value is left alone. An EPROM bit only goes from 1 to
; 0; erasing it takes ultraviolet light.

        .include "hc11.inc"

        .sect .text
        .globl _start
_start: talker_start BAUD_1200

main:   jsr     *nextrec
1:      ldab    *cnt
        beq     2f
        jsr     *getbyte
        bsr     progep
        inx
        dec     cnt
        bra     1b
2:      jsr     *endrec
        bra     main

; Programs A at X: ELAT, the data to the address, then EPGM in a second write, held 2 ms,
; with +12 V on XIRQ/VPPE (MC68HC711E9 technical data, EPROM programming).
progep: cmpa    0,x
        beq     2f
        cpx     #0x2000
        blo     3f
        ldab    #0x20           ; ELAT
        stab    EPROG
        staa    0,x
        incb                    ; EPGM
        stab    EPROG
        ldy     #160            ; 160 rounds of at least 25 E cycles: over 2 ms at 2 MHz
1:      bsr     poll
        dey
        bne     1b
        clr     EPROG
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
