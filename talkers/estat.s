; Is there data in a range of the EPROM?
        .include "hc11.inc"
        .include "status.inc"
