; SPDX-License-Identifier: GPL-3.0-or-later
; Compares an EEPROM on the expanded bus (or anything else there) with a file.
        .include "hc11.inc"
        .equ EXPANDED, 1
        .include "compare.inc"
