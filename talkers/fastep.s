; SPDX-License-Identifier: GPL-3.0-or-later
; Programs the EPROM of the MC68HC711E9 ($D000-$FFFF) through the fast protocol
; (fastprog.inc), as eprog does: ELAT, the data to the address, EPGM with +12 V on XIRQ/VPPE.
; An EPROM bit only goes from 1 to 0: a value that needs a 1 over a 0 does not read back (V).

        .include "hc11.inc"

        .equ ELAT, 0x20         ; PPROG bit 5: the EPROM's latch (711E9; none on the A8)

        .macro prepare
        .endm

; The EPROM is at $D000-$FFFF while ROMON (CONFIG bit 1) maps it, on the part whose PPROG
; keeps ELAT (the A8's bit 5 always reads 0, MC68HC11A8 technical data 3.5.1; the E9 and
; 811E2 are taken to be the same).
        .macro in_memory
        cpx     #0xD000
        blo     nomem
        ldab    CONFIG
        bitb    #0x02
        beq     nomem
        ldab    #ELAT
        stab    PPROG
        ldab    PPROG
        beq     nomem
        clr     PPROG           ; the byte is read next: not while the EPROM is latched
        .endm

        .macro write_byte
        ldab    #ELAT
        bsr     cycle
        .endm

; 2 ms a byte (eprog's row in docs/hardware-facts.md), with 5 % over it: 700 rounds of 6 E
; cycles and the cycle's own 25, 2.11 ms.
        .equ ROUNDS, 700

        .include "fastprog.inc"
