; SPDX-License-Identifier: GPL-3.0-or-later
; The fast protocol's talker for the companion chip's registers and commands
; (docs/fast-protocol.md): the PC finds the chip, writes its registers and sends its command
; sequences through it, as xisfr, xieem, xibpr, xisdpoff and xireset do on their own. On the
; block layer of fastcore.inc: P, B, and
;   S   address, count, a second address and six bytes: the bits of count, least significant
;       first and up to its highest set bit, say where each byte goes (0 the request's address,
;       1 the second address), all written back to back; then K with the request's address and
;       the eight bytes from it on. N for a seventh byte, or either address below $0200 (the PC
;       sends the request's own as the second where no byte goes there).
        .include "hc11.inc"

        .equ LONG, 'S'
        .equ LONG_REQ, 14
        .equ WITH_DATA, 1

        .include "fastcore.inc"

        fast_talker expanded_bus

; The writes follow each other within 27 E cycles, well inside the 150 us that the chip's
; command sequences allow between two bytes. The bytes are pulled from the request with the
; stack pointer over them (nothing is called meanwhile, interrupts are masked). Both addresses
; are checked before the first write: below $0200 lies the internal RAM, the talker, its CRC and
; stack among it. The register block $1000-$103F is left to the CRC: the chip's registers start
; at $1040 at the lowest and its command addresses lie at $x555 and $xAAA, so that the PC sends
; nothing there either, but the check would take more room than is left.
dispatch:
        cmpa    #'S'
        bne     unknown
        ldaa    *blk+1
        lsra
        beq     refuse          ; the request's address below $0200
        ldd     *blk+3          ; the count, and the second address's high byte
        bmi     refuse          ; a seventh byte: the request carries six
        lsrb
        beq     refuse          ; the second address below $0200
        tab
        lds     #blk+5
1:      ldx     *blk+1
        lsrb                    ; carry: this byte's bit; zero: that was the last bit
        beq     3f
        bcc     2f
        ldx     *blk+4
2:      pula
        staa    0,x
        bra     1b
3:      lds     #STACK
        ldaa    #'K'
        jsr     *header
        ldab    #8
        bra     data

        talker_end
