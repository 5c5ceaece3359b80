; SPDX-License-Identifier: GPL-3.0-or-later
; Erases a range of the internal EEPROM. After the range command it checks that the range
; lies in the EEPROM ($B600-$B7FF, or on the 811E2 $x800-$xFFF with x from CONFIG bits 7-4;
; with bits 7-4 at 0, which the A8, E9 and 711E9 show too, a range below $1000 is taken for an
; 811E2's EEPROM at $0800, any other for $B600-$B7FF),
; erases it (one bulk erase for the whole EEPROM, else 16-byte rows), checks that every byte
; reads $FF, and answers "O"; "E" when the range is not all EEPROM (or CONFIG has the EEPROM
; off) or a byte did not erase.
; Rows of 10.85 ms each: the 512 bytes of an A8 take 0.35 s by rows, 10.85 ms in bulk.

        .include "hc11.inc"

        .equ BULK, 0x06         ; PPROG: ERASE EELAT
        .equ ROW, 0x0E          ; PPROG: ROW ERASE EELAT

        .sect .text
        .globl _start
_start: talker_start
        pump_clock
        clr     BPROT           ; bootstrap is a special mode: the bits clear at any time
        jsr     *getrange
        ldaa    CONFIG
        bita    #0x01           ; EEON: without it the EEPROM is not in the map
        beq     bad
        anda    #0xF0
        bne     1f
        ldab    *beg            ; bits 7-4 at 0: an 811E2 with its EEPROM at $0800, or a
        cmpb    #0x10           ; part with it at $B600; the range says which
        bhs     2f
1:      oraa    #0x08           ; 811E2: $x800, 2 KB
        clrb
        ldx     #0x07FF
        bra     3f
2:      ldd     #0xB600
        ldx     #0x01FF
3:      std     *adr            ; the EEPROM's first address
        xgdx
        addd    *adr
        std     *val            ; and its last
        ldd     *beg
        subd    *adr
        blo     bad
        ldd     *val
        subd    *end
        blo     bad
        bne     rows            ; not up to the EEPROM's end
        ldd     *beg
        cpd     *adr
        bne     rows
        ldab    #BULK
        bsr     cycle
        bra     check
rows:   ldd     *end            ; (end - begin + 1) / 16 rows
        subd    *beg
        lsrd
        lsrd
        lsrd
        lsrd
        incb
        stab    *cnt
        ldx     *beg
1:      ldab    #ROW
        bsr     cycle
        ldab    #16
        abx
        dec     cnt
        bne     1b
check:  ldx     *beg
1:      ldaa    0,x
        inca
        bne     bad
        cpx     *end
        beq     good
        inx
        bra     1b
good:   ldaa    #'O'
        bra     2f
bad:    ldaa    #'E'
2:      ldab    SCSR
        bitb    #TDRE
        beq     2b
        staa    SCDR
idle:   bra     idle

        .include "eecycle.inc"

        .include "command.inc"

        talker_end
