// The waits of the program in one place, below every layer that waits: the device layer's own wait for
// the modem is one of them. The program keeps these values; tests shorten them.
#pragma once

struct Durations {
    unsigned samplingPeriodMs = 6000;     // between two cell readings of the sampling worker
    unsigned radioPollMs = 1000;          // between two looks for the radio's answer while probing
    unsigned radioWaitMs = 500;           // between two looks for the radio's answer while sampling
    unsigned modemWaitMs = 3000;          // the longest wait of a serial port or the radio layer for the modem
    unsigned modemQuietMs = 200;          // a modem reply is complete after this long without a byte
    unsigned requestWatchdogMs = 60000;   // a server request, its connection included, is abandoned after this
    unsigned requestSocketTimeoutMs = 30000;  // a connected server silent this long is reported as a time-out;
                                              // shorter than the watchdog, so that it can be reported at all
    unsigned connectionWaitMs = 15000;    // the longest wait for a data connection
    unsigned connectionRetryMs = 2000;    // between two asks for a data connection at an automatic start
    unsigned statusMessageMs = 5000;      // how long a status message stays
    unsigned errorGlanceMs = 1000;        // an error of the log-in renewal stays readable before the report replaces it
};

Durations& GetDurations();
