; SPDX-License-Identifier: GPL-3.0-or-later
; The fast protocol's talker for an EEPROM on the expanded bus (docs/fast-protocol.md): the
; parallel EEPROM at $8000 or the companion chip's EEPROM, programmed as exteeprg programs them,
; on the block layer of fastcore.inc: P, B, and
;   W   address, count (1 to 16), 16 data bytes: the first count written from the address on.
;       K with the address past the last; V with a byte that did not read back within the write
;       cycle; N for a count of none or over 16, bytes that cross a 256-byte page (the PC
;       keeps a block within 16 aligned bytes), or an address below $2000, which exteeprg
;       refuses too: the HC11's own RAM and registers (CONFIG among them) lie there.
        .include "hc11.inc"

        .equ CRC8, 1            ; the CRC-16's room is what loading a page at once takes
        .equ VERIFIES, 1
        .equ LONG, 'W'
        .equ LONG_REQ, 21       ; 16 data bytes: one write cycle's worth on a part whose pages
                                ; are 16 bytes or more (the PC keeps a block within 16 aligned
                                ; bytes, so no page boundary cuts it)
        ; Data polling: 2440 rounds of 14 E cycles, 17.08 ms, where a write cycle takes 10 ms
        ; at most (5 ms on the board).
        .equ POLL_ROUNDS, 2440

        .include "fastcore.inc"

        fast_talker expanded_bus

; First every byte that differs is loaded, 23 E cycles apart (the load window is 150 us), so
; that a part that writes a page at a time writes them all in one cycle. A part that writes a
; byte at a time writes the first and ignores the rest while its cycle runs. (A byte of another
; page would land in the load's own page: the PC keeps a block within 16 aligned bytes.) Then
; 637.5 us pass, past the longest byte-load window of such parts (200 us): what a read returns
; inside it is not said anywhere, and a part that showed the byte just loaded would let the
; talker answer before its write cycle has begun. The second pass settles it: at the first byte
; that differs it waits until that byte reads back (data polling, which only the cycle's end
; ends), so it reads cells, not polling, from then on; each byte that still differs is written
; on its own and read back. V when one does not hold its value within 17 ms. The data bytes are
; pulled from the request (the stack pointer over them; nothing is called meanwhile, interrupts
; are masked).
dispatch:
        cmpa    #'W'
        bne     unknown
        ldab    *blk+3
        decb                    ; 0 to 15, or a count the request does not carry
        cmpb    #15
        bhi     refuse
        ldaa    *blk+2
        aba                     ; the last byte's place in its 256: past it, a block that
        bcs     refuse          ; crosses a 256-byte page, and past $FFFF into the HC11's RAM
        cpx     #0x2000         ; within a page: its first byte says where all of it lies
        blo     refuse
        lds     #blk+3
1:      pula
        cmpa    0,x
        beq     2f
        staa    0,x
2:      inx
        decb
        bpl     1b
4:      decb                    ; from $FF: 255 rounds of 5 E cycles, 638 us at E = 2 MHz
        bne     4b
        ldx     *blk+1
        ldab    *blk+3
        lds     #blk+3
1:      pula
        cmpa    0,x
        beq     3f
        staa    0,x
        ldy     #POLL_ROUNDS
count_poll = . - 2
2:      cmpa    0,x
        beq     3f
        dey
        bne     2b
        bra     fail
3:      inx
        decb
        bne     1b
        jmp     ok              ; out of a branch's reach

        talker_end
