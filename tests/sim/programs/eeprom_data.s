; SPDX-License-Identifier: GPL-3.0-or-later
; Data for the internal EEPROM at $B600: 40 bytes, so that the file has records of several
; lengths, and bytes that need every bit pattern.
        .sect .text
        .globl _start
_start: .byte   0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x7F
        .byte   0xBF, 0xDF, 0xEF, 0xF7, 0xFB, 0xFD, 0xFE, 0x55, 0xAA, 0x5A
        .ascii  "Kestro EEPROM test data"
        .byte   0x12
