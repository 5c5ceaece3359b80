; SPDX-License-Identifier: GPL-3.0-or-later
; Is there data in a range of the EPROM?
        .include "hc11.inc"
        .include "status.inc"
