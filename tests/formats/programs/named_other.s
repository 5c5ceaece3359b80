; SPDX-License-Identifier: GPL-3.0-or-later
; The second file of the named program: its own local `loop`.
        .sect .text
        .globl wait
wait:   ldy     #0x100
loop:   dey
        bne     loop
        rts
