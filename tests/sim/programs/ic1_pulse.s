; SPDX-License-Identifier: GPL-3.0-or-later
; Measures a low pulse on PA2 (a button to ground) with input capture 1: the falling edge's
; count, then the rising edge's, and their difference in E cycles at WIDTH. DONE becomes 1.
; Runs in RAM from $0000 in bootstrap mode.
        .sect .text
        .globl _start
        TIC1   = 0x10
        TCTL2  = 0x21
        TFLG1  = 0x23
        IC1F   = 0x04
        FALL1  = 0x20           ; EDG1B:EDG1A = 10: falling edges
        RISE1  = 0x10           ; 01: rising edges
        START  = 0x80
        WIDTH  = 0x82
        DONE   = 0x84

_start: ldx     #0x1000
        clr     *DONE
        ldaa    #FALL1
        staa    TCTL2,x
        ldaa    #IC1F
        staa    TFLG1,x         ; a 1 clears the flag
fall:   brclr   TFLG1,x #IC1F fall
        ldd     TIC1,x
        std     *START
        ldaa    #RISE1
        staa    TCTL2,x
        ldaa    #IC1F
        staa    TFLG1,x
rise:   brclr   TFLG1,x #IC1F rise
        ldd     TIC1,x
        subd    *START
        std     *WIDTH
        ldaa    #1
        staa    *DONE
idle:   bra     idle
