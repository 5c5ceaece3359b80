; SPDX-License-Identifier: GPL-3.0-or-later
; Programs the internal EEPROM from the S-record file that the PC streams after the talker.
; Silent on success; on the first error it sends one letter and takes nothing more:
; "A" an address below $2000 (RAM and the registers, never the EEPROM's), "V" a byte that did
; not read back as the file has it (outside the EEPROM, or a bit that needs erasing first),
; "C" a record whose checksum does not hold.
;
; A byte that already holds the file's value is left alone. Programming only clears bits:
; the EEPROM is erased first (the Erase button) where the file needs a 1 over a 0.

        .include "hc11.inc"

        .macro prepare
        clr     BPROT           ; bootstrap is a special mode: the bits clear at any time
        .endm

; EELAT, the data, then EEPGM held 10 ms (MC68HC11A8 technical data 3.5): 800 rounds.
        .macro write_byte
        nvm_cycle PPROG, 0x02, 800
        .endm

        .include "program.inc"
