; SPDX-License-Identifier: GPL-3.0-or-later
; Communication test talker: echoes every byte it receives, unchanged, at 1200 baud.
;
; Runs from internal RAM on every part (A8, E9, 711E9, 811E2), so it stays well below the
; 256 bytes of the smallest RAM. The boot loader leaves the SCI at the rate it detected;
; the rate is set again so the talker does not depend on that, once the transmitter has sent
; the loader's last echo whole (TC): on the A8 and 811E2 the talker starts while it is being
; shifted out, and a write to BAUD takes effect at once.

        .equ REGS, 0x1000       ; register block after reset (INIT = $01)
        .equ BAUD, 0x2b
        .equ SCCR1, 0x2c
        .equ SCCR2, 0x2d
        .equ SCSR, 0x2e
        .equ SCDR, 0x2f

        .equ BAUD_1200, 0x33    ; E = 2 MHz: prescaler /13, /8
        .equ TE_RE, 0x0c        ; transmitter and receiver on, no interrupts
        .equ TDRE, 0x80
        .equ TC, 0x40
        .equ RDRF, 0x20

        .sect .text
        .globl _start
_start:
        sei
        lds     #0x00ff         ; top of the RAM every part has
        ldx     #REGS
1:      brclr   SCSR,x #TC 1b
        ldaa    #BAUD_1200
        staa    BAUD,x
        clr     SCCR1,x         ; 8 data bits, wake-up off
        ldaa    #TE_RE
        staa    SCCR2,x
wait_rx:
        brclr   SCSR,x #RDRF wait_rx
        ldab    SCDR,x          ; SCSR then SCDR: clears RDRF (and OR, should one arise)
wait_tx:
        brclr   SCSR,x #TDRE wait_tx
        stab    SCDR,x
        bra     wait_rx
