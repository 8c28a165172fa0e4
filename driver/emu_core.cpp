#include "emu_core.h"

#include "standin_pipe.h"

#include "settings.h"

#ifndef FILE_FLAG_FIRST_PIPE_INSTANCE
#define FILE_FLAG_FIRST_PIPE_INSTANCE 0x00080000
#endif

namespace {

char* AppendHex(char* out, DWORD value, int minDigits) {
    static const char kDigits[] = "0123456789abcdef";
    char digits[8];
    int count = 0;
    do {
        digits[count++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    while (count < minDigits) digits[count++] = '0';
    *out++ = '0';
    *out++ = 'x';
    while (count > 0) *out++ = digits[--count];
    return out;
}

struct RequestShape {
    DWORD code;
    DWORD inWords;   // words the request reads
    DWORD outWords;  // words its answer holds
};

const RequestShape kShapes[] = {
    {kReadRawPositionRequest, 0, 2}, {kLeftUpCornerRequest, 2, 0},
    {kRightUpCornerRequest, 2, 0},   {kRightDnCornerRequest, 2, 0},
    {kLeftDnCornerRequest, 2, 0},    {kCalibrationModeRequest, 2, 0},
    {kHandOverRequest, 1, 0},        {kPacketRequest, 4, 0},
};

const RequestShape* FindShape(DWORD code) {
    for (unsigned i = 0; i < sizeof kShapes / sizeof kShapes[0]; ++i)
        if (kShapes[i].code == code) return &kShapes[i];
    return NULL;
}

void SetNoAction(EmuAction* action) {
    action->kind = kEmuNothing;
    action->pixelX = 0;
    action->pixelY = 0;
}

BOOL HandlePacket(EmuState* s, DWORD client, const DWORD word[4], EmuAction* action) {
    if (IsReleasePacket(word)) {
        // The touch service forwards every release twice; only the first
        // one after a touch lifts the finger.
        s->heldOver = FALSE;
        if (!s->touching) return TRUE;
        s->touching = FALSE;
        if (!s->calibrating) {
            EmuTouchKind kind = s->touchKind;
            s->touchKind = kTouchLeft;
            s->pressingClient = 0;
            if (kind == kTouchLeft) action->kind = kEmuLift;
            if (kind == kTouchRight &&
                MapRawToScreen(&s->corners, s->lastRawX, s->lastRawY, s->screenWidth,
                               s->screenHeight, &action->pixelX, &action->pixelY))
                action->kind = kEmuRightClick;
            return TRUE;
        }
        // Corners that cover no area (a crossed calibration sent at once)
        // place nothing; the release then goes to the screen's centre so
        // that the calibration under way still gets its reading.
        if (!MapRawToScreen(&s->corners, s->lastRawX, s->lastRawY, s->screenWidth,
                            s->screenHeight, &action->pixelX, &action->pixelY)) {
            action->pixelX = s->screenWidth / 2;
            action->pixelY = s->screenHeight / 2;
        }
        action->kind = kEmuCalibrationUp;
        return TRUE;
    }
    LONG x, y;
    if (!DecodeTouchPacket(word, &x, &y)) return FALSE;
    if (s->heldOver) return TRUE;
    s->lastRawX = x;
    s->lastRawY = y;
    if (s->calibrating) {
        s->touching = TRUE;
        return TRUE;
    }
    if (!MapRawToScreen(&s->corners, x, y, s->screenWidth, s->screenHeight, &action->pixelX,
                        &action->pixelY))
        return TRUE;
    if (s->touching) {
        if (s->touchKind != kTouchArming) action->kind = kEmuMove;
        return TRUE;
    }
    s->touching = TRUE;
    s->pressingClient = client;
    if (s->rightArmed) {
        // The pointer follows a right tap; its click comes when it lifts.
        s->rightArmed = FALSE;
        s->touchKind = kTouchRight;
        action->kind = kEmuMove;
    } else if (s->rightButton &&
               InRightButtonCorner(action->pixelX, action->pixelY, s->screenWidth,
                                   s->screenHeight)) {
        s->rightArmed = TRUE;
        s->touchKind = kTouchArming;
        SetNoAction(action);
    } else {
        s->touchKind = kTouchLeft;
        action->kind = kEmuMoveAndPress;
    }
    return TRUE;
}

// "S-1-" and then numbers and dashes only: nothing that could end the
// entry it is put in and add another.
BOOL IsSidString(const char* text) {
    static const char kPrefix[] = "S-1-";
    if (!text) return FALSE;
    for (int i = 0; kPrefix[i]; ++i)
        if (text[i] != kPrefix[i]) return FALSE;
    const char* p = text + sizeof kPrefix - 1;
    if (*p < '0' || *p > '9') return FALSE;
    for (; *p; ++p)
        if (*p != '-' && (*p < '0' || *p > '9')) return FALSE;
    return TRUE;
}

char* AppendText(char* out, const char* end, const char* text) {
    while (out && *text) {
        if (out == end) return NULL;
        *out++ = *text++;
    }
    return out;
}

}  // namespace

namespace {

const char kCornersSuffix[] = ".corners";
const char kHeldSuffix[] = ".held";

// A value of this session's in the user's volatile stand-in key, of exactly
// this type and size.
BOOL ReadKeptValue(const char* suffix, DWORD type, void* data, DWORD size) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, STANDIN_NAME_KEY, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return FALSE;
    char value[STANDIN_VALUE_SIZE];
    StandInSessionValue(value, suffix);
    DWORD got = 0;
    DWORD length = size;
    LONG read = RegQueryValueExA(key, value, NULL, &got, (BYTE*)data, &length);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && got == type && length == size;
}

void KeepValue(const char* suffix, DWORD type, const void* data, DWORD size) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, STANDIN_NAME_KEY, 0, NULL, REG_OPTION_VOLATILE,
                        KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    char value[STANDIN_VALUE_SIZE];
    StandInSessionValue(value, suffix);
    RegSetValueExA(key, value, 0, type, (const BYTE*)data, size);
    RegCloseKey(key);
}

}  // namespace

// The corners the last stand-in of this session had in force.
BOOL CornersKeptInForce(CornerSet* corners) {
    CornerSet kept;
    if (!ReadKeptValue(kCornersSuffix, REG_BINARY, &kept, sizeof kept) || !CornersUsable(&kept))
        return FALSE;
    *corners = kept;
    return TRUE;
}

void KeepCornersInForce(const CornerSet* corners) {
    KeepValue(kCornersSuffix, REG_BINARY, corners, sizeof *corners);
}

void KeepButtonHeld(BOOL held) {
    DWORD value = held ? 1 : 0;
    KeepValue(kHeldSuffix, REG_DWORD, &value, sizeof value);
}

BOOL ButtonKeptHeld() {
    DWORD held = 0;
    return ReadKeptValue(kHeldSuffix, REG_DWORD, &held, sizeof held) && held == 1;
}

void LoadStartCorners(CornerSet* corners) {
    TouchSettings settings;
    ZeroMemory(&settings, sizeof settings);
    DefaultCorners(corners);
    if (CornersKeptInForce(corners)) return;
    if (!LoadSettingValues(&settings, kCornerValues)) return;
    CornerSet stored;
    CornersFromSettings(&settings, &stored);
    // Stored corners that cannot map anything would leave the pointer dead.
    if (CornersUsable(&stored)) *corners = stored;
}

BOOL LoadRightButtonSetting() {
    TouchSettings settings;
    ZeroMemory(&settings, sizeof settings);
    return LoadSettingValues(&settings, SETTING_BIT(kRightButton)) && settings.RightButton == 1;
}

BOOL InRightButtonCorner(LONG pixelX, LONG pixelY, int screenWidth, int screenHeight) {
    return pixelX >= screenWidth - screenWidth / 16 && pixelY >= screenHeight - screenHeight / 16;
}

LONG AbsoluteInputCoordinate(LONG pixel, int screenSize) {
    if (screenSize <= 0 || pixel <= 0) return 0;
    if (pixel >= screenSize) pixel = screenSize - 1;
    // In 32 bits, as DivideWide says why: a screen past 65535 pixels, which
    // none is, is halved with the pixel until it fits.
    DWORD size = (DWORD)screenSize;
    DWORD at = (DWORD)pixel;
    while (size > 65535) {
        size >>= 1;
        at >>= 1;
    }
    // Smallest value whose pixel, truncated or rounded, is this one.
    DWORD value = (at * 65536 + size - 1) / size;
    return value > 65535 ? 65535 : (LONG)value;
}

int FormatRequestLine(char* buffer, int capacity, const ZavirWireRequest* request) {
    // "0x" + up to 8 digits per field, 1 + 4 fields, 4 spaces, terminator.
    const int kLongest = 5 * 10 + 4 + 1;
    if (capacity < kLongest) {
        if (capacity > 0) buffer[0] = '\0';
        return 0;
    }
    DWORD words = request->inSize / 4;
    if (words > ZAVIR_MAX_WORDS) words = ZAVIR_MAX_WORDS;
    char* out = AppendHex(buffer, request->code, 6);
    for (DWORD i = 0; i < words; ++i) {
        *out++ = ' ';
        out = AppendHex(out, request->in[i], 8);
    }
    *out = '\0';
    return (int)(out - buffer);
}

void InitEmuState(EmuState* state, const CornerSet* corners, int screenWidth, int screenHeight) {
    const CornerSet given = *corners;  // may be the state's own
    ZeroMemory(state, sizeof *state);  // nothing touching, armed or calibrating
    state->corners = given;
    state->screenWidth = screenWidth;
    state->screenHeight = screenHeight;
    state->touchKind = kTouchLeft;
}

void SetEmuScreenSize(EmuState* state, int screenWidth, int screenHeight) {
    state->screenWidth = screenWidth;
    state->screenHeight = screenHeight;
}

void HandleRequest(EmuState* s, DWORD client, const ZavirWireRequest* request,
                   ZavirWireAnswer* answer, EmuAction* action) {
    ZeroMemory(answer, sizeof *answer);
    SetNoAction(action);
    const RequestShape* shape = FindShape(request->code);
    const DWORD frame = ZAVIR_MAX_WORDS * sizeof(DWORD);
    if (!shape || request->inSize > frame || request->outSize > frame ||
        request->inSize < shape->inWords * sizeof(DWORD) ||
        request->outSize < shape->outWords * sizeof(DWORD))
        return;
    const DWORD* in = request->in;
    BOOL ok = TRUE;
    switch (request->code) {
    case kReadRawPositionRequest:
        answer->out[0] = (DWORD)s->lastRawX;
        answer->out[1] = (DWORD)s->lastRawY;
        answer->bytesReturned = 2 * sizeof(DWORD);
        break;
    case kLeftUpCornerRequest:
        s->corners.LeftUpX = (LONG)in[0];
        s->corners.LeftUpY = (LONG)in[1];
        break;
    case kRightUpCornerRequest:
        s->corners.RightUpX = (LONG)in[0];
        s->corners.RightUpY = (LONG)in[1];
        break;
    case kRightDnCornerRequest:
        s->corners.RightDnX = (LONG)in[0];
        s->corners.RightDnY = (LONG)in[1];
        break;
    case kLeftDnCornerRequest:
        s->corners.LeftDnX = (LONG)in[0];
        s->corners.LeftDnY = (LONG)in[1];
        break;
    case kCalibrationModeRequest:
        // A finger still down when the mode changes would leave the left
        // button held for good: let it go first.
        if (s->touching && !s->calibrating && s->touchKind == kTouchLeft) action->kind = kEmuLift;
        // That finger belongs to the mode before (the tap that started the
        // tool is no reading, a calibration touch presses nothing).
        if (s->touching && s->calibrating != (in[0] == 1)) s->heldOver = TRUE;
        s->touching = FALSE;
        s->pressingClient = 0;
        s->rightArmed = FALSE;
        s->touchKind = kTouchLeft;
        s->calibrating = in[0] == 1;
        s->calibratingClient = s->calibrating ? client : 0;
        break;
    case kHandOverRequest:
        break;
    case kPacketRequest:
        ok = HandlePacket(s, client, in, action);
        break;
    }
    answer->ok = ok ? 1 : 0;
}

void EmuClientGone(EmuState* s, DWORD client, EmuAction* action) {
    SetNoAction(action);
    if (client == 0) return;
    if (s->calibratingClient == client) {
        // A finger collected for that calibration pressed nothing, nor
        // does it press anything after.
        s->calibrating = FALSE;
        s->calibratingClient = 0;
        s->heldOver = s->touching;
        s->touching = FALSE;
    }
    if (s->pressingClient == client) {
        if (s->touching && !s->calibrating && s->touchKind == kTouchLeft) action->kind = kEmuLift;
        s->touching = FALSE;
        s->pressingClient = 0;
        s->touchKind = kTouchLeft;
    }
}

DWORD FrameWaitMs(DWORD got, DWORD elapsedMs) {
    if (got == 0) return INFINITE;
    return elapsedMs >= kStandInFrameMs ? 0 : kStandInFrameMs - elapsedMs;
}

DWORD StandInPipeOpenMode(BOOL firstInstance) {
    return PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
           (firstInstance ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
}

DWORD StandInPipeMode(DWORD version) {
    DWORD mode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT;
    BOOL ntFamily = (version & 0x80000000) == 0;
    if (ntFamily && (version & 0xFF) >= 6) mode |= PIPE_REJECT_REMOTE_CLIENTS;
    return mode;
}

int StandInPipeSddl(const char* userSid, DWORD version, char* buffer, int capacity) {
    if (capacity <= 0) return 0;
    buffer[0] = '\0';
    if (!IsSidString(userSid)) return 0;
    // Protected (no inherited entries); the deny entry first, as Windows
    // orders them: a network logon of the user is refused too.  The user's
    // administrators may calibrate for them.  Without a label a process of
    // low integrity could still open the pipe to read, and so hold every
    // instance; older systems refuse the label.
    BOOL labels = (version & 0x80000000) == 0 && (version & 0xFF) >= 6;
    const char* parts[] = {"O:", userSid, "D:P(D;;GA;;;NU)(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;",
                           userSid, ")", labels ? "S:(ML;;NWNR;;;ME)" : ""};
    char* end = buffer + capacity - 1;
    char* out = buffer;
    for (unsigned i = 0; i < sizeof parts / sizeof parts[0]; ++i) out = AppendText(out, end, parts[i]);
    if (!out) {
        buffer[0] = '\0';
        return 0;
    }
    *out = '\0';
    return (int)(out - buffer);
}

BOOL ParseEmuCommandLine(const char* cmd, char* logPath, int logPathSize) {
    if (logPathSize <= 0) return FALSE;
    logPath[0] = '\0';
    if (!cmd) return TRUE;
    while (*cmd == ' ' || *cmd == '\t') ++cmd;
    if (*cmd == '\0') return TRUE;
    static const char kOption[] = "--log";
    for (int i = 0; kOption[i]; ++i)
        if (cmd[i] != kOption[i]) return FALSE;
    cmd += sizeof kOption - 1;
    if (*cmd != ' ' && *cmd != '\t') return FALSE;
    while (*cmd == ' ' || *cmd == '\t') ++cmd;
    BOOL quoted = *cmd == '"';
    if (quoted) ++cmd;
    int length = 0;
    while (*cmd && (quoted ? *cmd != '"' : (*cmd != ' ' && *cmd != '\t'))) {
        if (length + 1 >= logPathSize) {
            logPath[0] = '\0';
            return FALSE;
        }
        logPath[length++] = *cmd++;
    }
    logPath[length] = '\0';
    if (quoted) {
        if (*cmd != '"') {
            logPath[0] = '\0';
            return FALSE;
        }
        ++cmd;
    }
    while (*cmd == ' ' || *cmd == '\t') ++cmd;
    if (*cmd != '\0' || length == 0) {
        logPath[0] = '\0';
        return FALSE;
    }
    return TRUE;
}

BOOL ParseEmuOptions(const char* cmd, char* logPath, int logPathSize, BOOL* stamped) {
    *stamped = FALSE;
    if (cmd) {
        const char* p = cmd;
        while (*p == ' ' || *p == '\t') ++p;
        static const char kStamp[] = "--qpc";
        const int n = sizeof kStamp - 1;
        int i = 0;
        while (i < n && p[i] == kStamp[i]) ++i;
        if (i == n && (p[n] == '\0' || p[n] == ' ' || p[n] == '\t')) {
            *stamped = TRUE;
            cmd = p + n;
        }
    }
    if (!ParseEmuCommandLine(cmd, logPath, logPathSize)) {
        *stamped = FALSE;
        return FALSE;
    }
    return TRUE;
}

BOOL LogStartsAfresh(DWORD fileBytes, DWORD lineBytes) {
    return fileBytes > kStandInLogLimit || lineBytes > kStandInLogLimit - fileBytes;
}

namespace {

// n / d by shift and subtract: 64-bit division would bring the compiler's
// run-time helpers (2 KB) into every program of the stand-in.
unsigned long long DivideWide(unsigned long long n, DWORD d, DWORD* remainder) {
    unsigned long long quotient = 0;
    unsigned long long rest = 0;
    for (int bit = 63; bit >= 0; --bit) {
        rest = rest << 1 | (n >> bit & 1);
        quotient <<= 1;
        if (rest >= d) {
            rest -= d;
            quotient |= 1;
        }
    }
    *remainder = (DWORD)rest;
    return quotient;
}

}  // namespace

unsigned long long CounterToNanoseconds(long long counter, long long frequency) {
    if (frequency <= 0 || counter < 0) return 0;
    unsigned long long c = (unsigned long long)counter;
    unsigned long long f = (unsigned long long)frequency;
    while (f > 0xFFFFFFFFULL) {  // no counter runs that fast
        f >>= 1;
        c >>= 1;
    }
    // Whole seconds and the remainder apart: counter * 1e9 would overflow
    // after some weeks of uptime at a 10 MHz counter.
    DWORD rest = 0;
    unsigned long long seconds = DivideWide(c, (DWORD)f, &rest);
    DWORD ignored = 0;
    return seconds * 1000000000ULL +
           DivideWide((unsigned long long)rest * 1000000000ULL, (DWORD)f, &ignored);
}

int FormatStampedRequestLine(char* buffer, int capacity, unsigned long long nanoseconds,
                             const ZavirWireRequest* request) {
    char digits[24];
    int count = 0;
    do {
        DWORD digit = 0;
        nanoseconds = DivideWide(nanoseconds, 10, &digit);
        digits[count++] = (char)('0' + digit);
    } while (nanoseconds > 0);
    if (capacity <= count + 1) {
        if (capacity > 0) buffer[0] = '\0';
        return 0;
    }
    for (int i = 0; i < count; ++i) buffer[i] = digits[count - 1 - i];
    buffer[count] = ' ';
    int rest = FormatRequestLine(buffer + count + 1, capacity - count - 1, request);
    if (rest == 0) {
        buffer[0] = '\0';
        return 0;
    }
    return count + 1 + rest;
}
