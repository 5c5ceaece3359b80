; SPDX-License-Identifier: GPL-3.0-or-later
; Is there data in a range of the internal EEPROM?
        .include "hc11.inc"
        .include "status.inc"
