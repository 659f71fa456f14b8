#pragma once

// The causes a serial component reports through CommEvent() when it raises
// OnComm. The numbers are the classic communications-control codes, which
// the device-request handler filters on.
namespace isp {

enum CommEventCode : int {
    comEvSend = 1,    // fewer than SThreshold bytes left to send
    comEvReceive = 2, // at least RThreshold characters are waiting
    comEvCTS = 3,     // clear-to-send changed
    comEvDSR = 4,     // data-set-ready changed
    comEvCD = 5,      // carrier-detect changed
    comEvRing = 6,    // ring indicator
    comEvEOF = 7,     // end-of-file character received

    comEventBreak = 1001,
    comEventCTSTO = 1002,
    comEventDSRTO = 1003,
    comEventFrame = 1004,
    comEventOverrun = 1006,
    comEventCDTO = 1007,
    comEventRxOver = 1008,
    comEventRxParity = 1009,
    comEventTxFull = 1010,
    comEventDCB = 1011,

    // Not one of the classic codes: the device behind an open port went away
    // (USB adapter unplugged, far end of a pseudo-terminal closed). The
    // component has already closed the port when it reports this, once.
    comEventDeviceGone = 1100,
};

} // namespace isp
