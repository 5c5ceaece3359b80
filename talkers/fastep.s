; SPDX-License-Identifier: GPL-3.0-or-later
; Programs the EPROM of the MC68HC711E9 ($D000-$FFFF) through the fast protocol
; (docs/fast-protocol.md) as eprog does: ELAT, the data to the address, EPGM with +12 V on
; XIRQ/VPPE. The register is PPROG as assembled; the PC writes EPROG ($1036) into its four
; operands for the MC68HC711E20, whose ranges it judges itself (link/talker_parts.cpp). On the block layer of fastcore.inc: P (K with CONFIG, from which the PC sees
; ROMON), B, and
;   W   address, count (1 to 16), 16 data bytes: the first count programmed from the address on
;       and read back. K with the address past the last; V with a byte that did not read back
;       (an EPROM bit only goes from 1 to 0), or at once where PPROG does not keep ELAT (the
;       A8's bit 5 always reads 0, MC68HC11A8 technical data 3.5.1; the E9 and 811E2 are taken
;       to be the same): no EPROM there, and nothing else is latched. N for a count of none or
;       over 16, or bytes in page $00 or $10 or past $FFFF.
        .include "hc11.inc"

        .equ LONG, 'W'
        .equ LONG_REQ, 21       ; 16 data bytes, the CRC-8: a block's 34 ms of programming
                                ; carry its 1.7 ms of line time at 125,000 baud
        .equ PING_CONFIG, 1
        .equ CRC8, 1
        .equ VERIFIES, 1
        .equ MAX_COUNT, 16
        .equ ELAT, 0x20         ; PPROG bit 5: the EPROM's latch (711E9; none on the A8)
; 2 ms a byte (eprog's row in docs/hardware-facts.md), with 5 % over it: 700 rounds of 6 E
; cycles and the cycle's own, 2.11 ms.
        .equ ROUNDS, 700

        .include "fastcore.inc"

        fast_talker

dispatch:
        w_each_byte
        ldab    #ELAT
        stab    PPROG
part_reg_latch = . - 2
        tst     PPROG
part_reg_probe = . - 2
        beq     fail            ; PPROG does not keep ELAT: no EPROM on this part
        staa    0,x
        inc     PPROG           ; EPGM
part_reg_pgm = . - 2
        pshx
        ldx     #ROUNDS
count_cycle = . - 2
2:      dex
        bne     2b
        pulx
        clr     PPROG
part_reg_off = . - 2
        cmpa    0,x
        bne     fail
        w_next_byte jmp

        talker_end
