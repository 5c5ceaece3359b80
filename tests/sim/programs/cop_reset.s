; SPDX-License-Identifier: GPL-3.0-or-later
; Leaves bootstrap mode for the normal single-chip mode, where the COP watchdog runs (NOCOP
; clear), feeds it ten times, then stops feeding. The COP resets the chip, which comes back in
; bootstrap mode and takes the COP vector to the RAM slot at $00FA: RESETS counts those resets.
; FEEDS counts the services.
        .sect .text
        .globl _start
        COPRST = 0x3A
        HPRIO  = 0x3C
        SLOT   = 0xFA
        RESETS = 0x80
        FEEDS  = 0x81

_start: ldx     #0x1000
        ldaa    #0x7E           ; JMP copped in the slot
        staa    *SLOT
        ldd     #copped
        std     *SLOT+1
        clr     *RESETS
        clr     *FEEDS
        bsr     service         ; the COP has counted since reset: feed it before it can bite
        ldaa    #0x05           ; RBOOT and SMOD clear: normal single-chip mode
        staa    HPRIO,x
feed:   bsr     service
        ldy     #2000           ; 2000 x 7 E cycles: 7 ms, within the 16.4 ms period
wait:   dey
        bne     wait
        inc     *FEEDS
        ldaa    *FEEDS
        cmpa    #10
        bne     feed
stop:   bra     stop            ; no more feeding

service:
        ldaa    #0x55
        staa    COPRST,x
        ldaa    #0xAA
        staa    COPRST,x
        rts

copped: inc     *RESETS
done:   bra     done            ; bootstrap mode again: the COP cannot reset it here
