; Compares the EPROM (or ROM) with a file.
        .include "hc11.inc"
        .include "compare.inc"
