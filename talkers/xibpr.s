; SPDX-License-Identifier: GPL-3.0-or-later
; Programs the block protection of the companion chip's EEPROM (BPR).
        .include "hc11.inc"
        .equ XREG, 4 ; BPR
        .include "xireg.inc"
        talker_end
