; Run from external RAM by the RAM download test: leaves a marker at $3000 where the test looks
; for it, then waits.
        .sect .text
        .globl _start
_start: ldaa    #0x5A
        staa    0x3000
        ldaa    #0xA5
        staa    0x3001
        ldx     #0x3002
        ldab    #0xC3
        stab    0,x
idle:   bra     idle
