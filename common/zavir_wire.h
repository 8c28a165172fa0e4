// Formats shared by the driver stand-in, its clients and the controller
// simulator: the frames on the stand-in's pipe and the meaning of a touch
// packet's four data bytes.
#ifndef ZAVIR_COMMON_ZAVIR_WIRE_H
#define ZAVIR_COMMON_ZAVIR_WIRE_H

#include <windows.h>

// Each start of the stand-in serves a pipe of a name nobody can guess,
// "\\.\pipe\ZAVIREMU.<session>.<32 hex digits>", and publishes it where
// only its user and SYSTEM can write (PublishStandInName).  A stand-in can
// only inject input into its own session's desktop, and the session's
// programs look for no other.
#define ZAVIR_PIPE_PREFIX "\\\\.\\pipe\\ZAVIREMU."
#define ZAVIR_PIPE_RANDOM_BYTES 16
#define ZAVIR_PIPE_NAME_SIZE 64

// The name's start for a session, "...ZAVIREMU.<session>."; its length.
inline int FormatStandInPipePrefix(char* out, DWORD session) {
    const char prefix[] = ZAVIR_PIPE_PREFIX;
    int length = 0;
    while (prefix[length]) {
        out[length] = prefix[length];
        ++length;
    }
    char digits[10];
    int count = 0;
    do {
        digits[count++] = (char)('0' + session % 10);
        session /= 10;
    } while (session != 0);
    while (count > 0) out[length++] = digits[--count];
    out[length++] = '.';
    out[length] = '\0';
    return length;
}

inline void FormatStandInPipeName(char* out, DWORD session,
                                  const BYTE random[ZAVIR_PIPE_RANDOM_BYTES]) {
    const char hex[] = "0123456789abcdef";
    int length = FormatStandInPipePrefix(out, session);
    for (int i = 0; i < ZAVIR_PIPE_RANDOM_BYTES; ++i) {
        out[length++] = hex[random[i] >> 4];
        out[length++] = hex[random[i] & 15];
    }
    out[length] = '\0';
}

// Whether a published name is one a stand-in of this session serves:
// anything else (another session's, one cut short or too long) is no name.
inline BOOL IsStandInPipeName(const char* name, DWORD session) {
    char expected[ZAVIR_PIPE_NAME_SIZE];
    int length = FormatStandInPipePrefix(expected, session);
    int i = 0;
    while (i < length && name[i] == expected[i]) ++i;
    if (i < length) return FALSE;
    for (; i < length + 2 * ZAVIR_PIPE_RANDOM_BYTES; ++i)
        if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f')))
            return FALSE;
    return name[i] == '\0';
}

// Words of a request or answer; no request carries more than four.
#define ZAVIR_MAX_WORDS 4

// Client to stand-in, 28 bytes, little-endian words.
struct ZavirWireRequest {
    DWORD code;
    DWORD inSize;   // bytes of input the caller passed
    DWORD outSize;  // bytes of answer the caller can take
    DWORD in[ZAVIR_MAX_WORDS];
};

// Stand-in to client, 24 bytes.  ok is 0 for a failed request.  A 0x222007
// answer holds the raw X and Y themselves in out[0] and out[1].
struct ZavirWireAnswer {
    DWORD ok;
    DWORD bytesReturned;
    DWORD out[ZAVIR_MAX_WORDS];
};

// Touch packets carry 7-bit data bytes, so none of them can be a lead byte
// (0xFF) or the release marker (0xFE):
//   raw X = byte1 * 128 + byte2,  raw Y = byte3 * 128 + byte4  (0 to 16383).
#define ZAVIR_RAW_MAX 16383

inline BOOL DecodeTouchPacket(const DWORD word[4], LONG* x, LONG* y) {
    for (int i = 0; i < 4; ++i)
        if (word[i] > 0x7F) return FALSE;
    *x = (LONG)(word[0] * 128 + word[1]);
    *y = (LONG)(word[2] * 128 + word[3]);
    return TRUE;
}

inline BOOL IsReleasePacket(const DWORD word[4]) {
    return word[0] == 0xFE && word[1] == 0xFE;
}

#endif
