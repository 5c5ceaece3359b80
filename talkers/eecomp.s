; Compares the internal EEPROM with a file.
        .include "hc11.inc"
        .include "compare.inc"
