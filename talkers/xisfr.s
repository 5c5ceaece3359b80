; SPDX-License-Identifier: GPL-3.0-or-later
; Programs the place of the companion chip's register block (SFR).
        .include "hc11.inc"
        .equ XREG, 6 ; SFR
        .include "xireg.inc"
        talker_end
