; SPDX-License-Identifier: GPL-3.0-or-later
; Programs the place and wiring of the companion chip's EEPROM (EEM).
        .include "hc11.inc"
        .equ XREG, 5 ; EEM
        .include "xireg.inc"
        talker_end
