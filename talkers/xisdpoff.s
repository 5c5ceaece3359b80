; SPDX-License-Identifier: GPL-3.0-or-later
; Turns the companion chip's software data protection off.
        .include "hc11.inc"
        .include "xicmd.inc"
xseq:   .byte   0xAA, 0x55, 0x80, 0xAA, 0x55, 0x20
        talker_end
