; SPDX-License-Identifier: GPL-3.0-or-later
; Restores the companion chip's default registers (SFR, EEM, BPR) and turns its software data
; protection off; the registers move back at the board's next reset.
        .include "hc11.inc"
        .include "xicmd.inc"
xseq:   .byte   0xAA, 0x55, 0x80, 0xAA, 0x55, 0x30
        talker_end
