; SPDX-License-Identifier: GPL-3.0-or-later
; Programs the internal EEPROM through the fast protocol (fastprog.inc): a byte is erased
; first only where its value needs a 1 over a 0.

        .include "hc11.inc"

        .macro prepare
        clr     BPROT           ; bootstrap is a special mode: the bits clear at any time
        .endm

; Where the EEPROM is, from CONFIG as the part shows it, as eeprog decides it: nowhere while
; EEON (bit 0) is clear; on the 811E2 at $x800-$xFFF with x from bits 7-4; on the A8, E9 and
; 711E9, whose CONFIG shows bits 7-4 as 0, at $B600-$B7FF, and with bits 7-4 at 0 also at
; $0800-$0FFF (an 811E2 with its EEPROM there, which CONFIG cannot tell apart). The address's
; high byte with bits 2-0 set must equal CONFIG with bits 3-1 set: EEON clear never does, and
; $B6-$B7 count as $08 when bits 7-4 are 0.
        .macro in_memory
        pshx
        pula                    ; A = the address's high byte
        ins
        ldab    CONFIG
        orab    #0x0E
        oraa    #0x01
        cmpa    #0xB7
        bne     4f
        ldaa    #0x08
4:      oraa    #0x07
        cba
        bne     nomem
        .endm

; A byte erase (BYTE, ERASE, EELAT) only where the value has a 1 over a 0 of the byte, then
; EELAT for programming (MC68HC11A8 technical data 3.5).
        .macro write_byte
        ldab    0,x
        comb
        andb    0,y             ; the 1s the value needs where the byte holds 0
        beq     8f
        ldab    #0x16
        bsr     cycle
8:      ldab    #0x02
        bsr     cycle
        .endm

; 10 ms at E = 2 MHz for a program or an erase cycle (MC68HC11A8 technical data 3.5), with
; 5 % over it: 3520 rounds of 6 E cycles, 10.56 ms.
        .equ ROUNDS, 3520

        .include "fastprog.inc"
