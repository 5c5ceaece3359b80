; SPDX-License-Identifier: GPL-3.0-or-later
; Compares the internal EEPROM with a file.
        .include "hc11.inc"
        .include "compare.inc"
