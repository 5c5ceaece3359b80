; SPDX-License-Identifier: GPL-3.0-or-later
; Programs the internal EEPROM through the fast protocol (docs/fast-protocol.md), on the block
; layer of fastcore.inc: P (K with CONFIG, from which the PC decides where the EEPROM is, as
; eeprog decides it), B, and
;   W   address, count (1 to 8), 8 data bytes: the first count made to hold their values from
;       the address on, each erased first only where its value needs a 1 over a 0, and read
;       back. K with the address past the last; V with a byte that did not read back; N for a
;       count of none or over 8, or bytes in page $00 or $10 or past $FFFF.
        .include "hc11.inc"

        .equ LONG, 'W'
        .equ LONG_REQ, 13       ; 8 data bytes, the CRC-8
        .equ PING_CONFIG, 1
        .equ CRC8, 1
        .equ VERIFIES, 1
        .equ MAX_COUNT, 8
        .equ NEAR_NEXT, 1
; 10 ms at E = 2 MHz for a program or an erase cycle (MC68HC11A8 technical data 3.5), with
; 5 % over it: 3500 rounds of 6 E cycles and the cycle's own, 10.51 ms.
        .equ ROUNDS, 3500

        .include "fastcore.inc"

        fast_talker bprot

; Each byte in order (w_each_byte): a byte erase (BYTE, ERASE, EELAT) only where the value has
; a 1 over a 0 of the byte, then EELAT for programming (MC68HC11A8 technical data 3.5); then
; read back.
dispatch:
        w_each_byte
        tab
        orab    0,x
        cmpb    0,x
        beq     2f              ; no 1 over a 0 of the byte
        ldab    #0x16
        bsr     cycle
2:      ldab    #0x02
        bsr     cycle
        cmpa    0,x
        bne     fail
        w_next_byte

; One cycle: the latch bits in B to PPROG, A to the address, the programming bit set in a
; second write, held for ROUNDS rounds of 6 E cycles, then PPROG cleared. Keeps A and X.
cycle:  stab    PPROG
        staa    0,x
        inc     PPROG
        pshx
        ldx     #ROUNDS
count_cycle = . - 2
1:      dex
        bne     1b
        pulx
        clr     PPROG
        rts

        talker_end
