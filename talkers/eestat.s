; Is there data in a range of the internal EEPROM?
        .include "hc11.inc"
        .include "status.inc"
