; SPDX-License-Identifier: GPL-3.0-or-later
; Counts falling edges on IRQ: IRQE set in OPTION, and a handler that adds one to COUNT. Runs in
; RAM from $0000 in bootstrap mode, where the IRQ vector leads to the RAM slot at $00EE.
        .sect .text
        .globl _start
        OPTION = 0x39
        IRQE   = 0x20
        SLOT   = 0xEE
        COUNT  = 0x80

_start: ldx     #0x1000
        ldaa    #0x7E           ; JMP irq in the slot
        staa    *SLOT
        ldd     #irq
        std     *SLOT+1
        clr     *COUNT
        ldaa    OPTION,x
        oraa    #IRQE           ; falling edges only
        staa    OPTION,x
        cli
idle:   bra     idle

irq:    inc     *COUNT
        rti
