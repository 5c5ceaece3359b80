; SPDX-License-Identifier: GPL-3.0-or-later
; An LED on PA6 that blinks with output compare 2: the compare toggles the pin every HALF E
; cycles (5 ms at E = 2 MHz) and its interrupt moves TOC2 on by HALF. Runs in RAM from $0000
; in bootstrap mode, where the OC2 vector leads to the RAM slot at $00DC. The handler keeps at
; LATENCY how many counts after the match it started.
        .sect .text
        .globl _start
        HALF   = 10000
        TCNT   = 0x0E
        TOC2   = 0x18
        TCTL1  = 0x20
        TMSK1  = 0x22
        TFLG1  = 0x23
        OC2F   = 0x40
        OM2OL2 = 0x40           ; OM2:OL2 = 01: toggle the pin at each match
        SLOT   = 0xDC           ; bootstrap-mode slot of the OC2 vector
        LATENCY = 0x80

_start: ldx     #0x1000
        ldaa    #0x7E           ; JMP oc2 in the slot
        staa    *SLOT
        ldd     #oc2
        std     *SLOT+1
        ldaa    #OM2OL2
        staa    TCTL1,x
        ldd     TCNT,x
        addd    #HALF
        std     TOC2,x
        ldaa    #OC2F
        staa    TFLG1,x         ; a 1 clears the flag
        staa    TMSK1,x         ; OC2I
        cli
idle:   bra     idle

oc2:    ldd     TCNT,x
        subd    TOC2,x
        std     *LATENCY
        ldd     TOC2,x
        addd    #HALF
        std     TOC2,x
        ldaa    #OC2F
        staa    TFLG1,x
        rti
