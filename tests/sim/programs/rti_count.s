; SPDX-License-Identifier: GPL-3.0-or-later
; Counts real-time interrupts at the fastest rate (RTR1:RTR0 = 00, every 8192 E cycles) in a
; 16-bit counter at COUNT. Runs in RAM from $0000 in bootstrap mode, where the RTI vector leads
; to the RAM slot at $00EB.
        .sect .text
        .globl _start
        TMSK2  = 0x24
        TFLG2  = 0x25
        PACTL  = 0x26
        RTIF   = 0x40
        SLOT   = 0xEB
        COUNT  = 0x80

_start: ldx     #0x1000
        ldaa    #0x7E           ; JMP rti in the slot
        staa    *SLOT
        ldd     #tick
        std     *SLOT+1
        clr     *COUNT
        clr     *COUNT+1
        clr     PACTL,x         ; RTR1:RTR0 = 00
        ldaa    #RTIF
        staa    TFLG2,x         ; a 1 clears the flag
        staa    TMSK2,x         ; RTII
        cli
idle:   bra     idle

tick:   ldd     *COUNT
        addd    #1
        std     *COUNT
        ldaa    #RTIF
        staa    TFLG2,x
        rti
