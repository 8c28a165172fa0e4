#include "finder.h"

#include "text.h"

const SettingMask kFoundValues = SETTING_BIT(kComPort) | SETTING_BIT(kComBase) |
                                 SETTING_BIT(kComIrq) | SETTING_BIT(kComBaud);

namespace {

const BYTE kLead = 0xFF;
const BYTE kRelease = 0xFE;
// A packet's bytes after its lead byte: at most four, a release's two.
const int kLongestTail = 4;
const int kReleaseTail = 2;

BOOL IsDataByte(BYTE b) { return b <= 0x7F; }

// A touch's data bytes or a release's 0xFE bytes, never a mix.
void SettleLeadingBytes(PacketCounter* c) {
    if ((c->leadingData && c->leadingBytes <= kLongestTail) ||
        (c->leadingReleases && c->leadingBytes <= kReleaseTail))
        c->tally.cutBytes += c->leadingBytes;
    else
        c->tally.strayBytes += c->leadingBytes;
    c->leadingBytes = 0;
}

// A packet that broke off: its bytes so far fit no packet.
void DropPacket(PacketCounter* c) {
    c->tally.strayBytes += c->packetLength;
    c->packetLength = 0;
}

void CountByte(PacketCounter* c, BYTE b) {
    if (!c->leadSeen) {
        if (b != kLead) {
            ++c->leadingBytes;
            if (!IsDataByte(b)) c->leadingData = FALSE;
            if (b != kRelease) c->leadingReleases = FALSE;
            return;
        }
        SettleLeadingBytes(c);
        c->leadSeen = TRUE;
    }
    if (b == kLead) {
        DropPacket(c);
        c->packet[0] = b;
        c->packetLength = 1;
        return;
    }
    if (c->packetLength == 0) {
        ++c->tally.strayBytes;
        return;
    }
    c->packet[c->packetLength++] = b;
    if (c->packet[1] == kRelease) {
        if (c->packetLength < 3) return;
        if (b == kRelease) {
            ++c->tally.releases;
            c->packetLength = 0;
        } else {
            DropPacket(c);
        }
        return;
    }
    if (!IsDataByte(b)) {
        DropPacket(c);
    } else if (c->packetLength == 1 + kLongestTail) {
        ++c->tally.touches;
        c->packetLength = 0;
    }
}

const char* const kNotCounted[] = {"-", "not open"};

void AppendCell(char* text, int size, const FinderSetting* s) {
    char cell[48];
    if (s->verdict == kNotTried || s->verdict == kPortNotOpen)
        lstrcpynA(cell, kNotCounted[s->verdict], sizeof cell);
    else
        wsprintfA(cell, "%ld/%ld/%ld", (long)s->tally.touches, (long)s->tally.releases,
                  (long)s->tally.strayBytes);
    AppendText(text, size, "\t");
    AppendText(text, size, cell);
}

BOOL AnyWith(const FinderSearch* search, SettingVerdict verdict) {
    for (int i = 0; i < search->count; ++i)
        if (search->settings[i].verdict == verdict) return TRUE;
    return FALSE;
}

}  // namespace

void StartCounting(PacketCounter* counter) {
    ZeroMemory(counter, sizeof *counter);
    counter->leadingData = counter->leadingReleases = TRUE;
}

void CountBytes(PacketCounter* counter, const BYTE* bytes, DWORD count) {
    for (DWORD i = 0; i < count; ++i) CountByte(counter, bytes[i]);
}

void FinishCounting(PacketCounter* counter) {
    SettleLeadingBytes(counter);
    counter->tally.cutBytes += counter->packetLength;
    counter->packetLength = 0;
}

SettingVerdict JudgeTally(const PacketTally* tally) {
    if (tally->strayBytes > 0) return kGarbled;
    if (tally->touches + tally->releases > 0) return kClean;
    return kSilent;
}

void PlanSearch(FinderSearch* search, DWORD listedPorts) {
    ZeroMemory(search, sizeof *search);
    for (int p = 0; p < COM_PORT_COUNT; ++p) {
        if (!(listedPorts & (1 << p))) continue;
        for (int b = 0; b < COM_BAUD_COUNT; ++b) {
            FinderSetting* s = &search->settings[search->count++];
            s->port = &kComPorts[p];
            s->baud = kComBauds[b];
            s->verdict = kNotTried;
        }
    }
}

const FinderSetting* FirstCleanSetting(const FinderSearch* search) {
    for (int i = 0; i < search->count; ++i)
        if (search->settings[i].verdict == kClean) return &search->settings[i];
    return NULL;
}

void FormatFinderTable(const FinderSearch* search, char* text, int size) {
    if (size <= 0) return;
    text[0] = 0;
    AppendText(text, size, "Touch/release packets/stray bytes at each rate:\r\nPort");
    char piece[32];
    for (int b = 0; b < COM_BAUD_COUNT; ++b) {
        wsprintfA(piece, "\t%ld", (long)kComBauds[b]);
        AppendText(text, size, piece);
    }
    // The plan holds each port's rates together, in kComBauds order.
    for (int i = 0; i < search->count; i += COM_BAUD_COUNT) {
        wsprintfA(piece, "\r\nCOM %ld", (long)search->settings[i].port->port);
        AppendText(text, size, piece);
        for (int b = 0; b < COM_BAUD_COUNT && i + b < search->count; ++b)
            AppendCell(text, size, &search->settings[i + b]);
    }
    AppendText(text, size, "\r\n");
}

void FormatFinding(const FinderSearch* search, char* text, int size) {
    char line[160];
    const FinderSetting* found = FirstCleanSetting(search);
    if (search->current < search->count) {
        const FinderSetting* s = &search->settings[search->current];
        wsprintfA(line, "Listening on COM %ld at %ld baud (%d of %d): touch the panel.",
                  (long)s->port->port, (long)s->baud, search->current + 1, search->count);
    } else if (found) {
        wsprintfA(line, "Controller found on COM %ld at %ld baud", (long)found->port->port,
                  (long)found->baud);
    } else if (AnyWith(search, kNotTried)) {
        lstrcpynA(line, "Stopped: no clean setting yet.", sizeof line);
    } else if (AnyWith(search, kGarbled)) {
        lstrcpynA(line, "No clean setting: check the cable and the power.",
                  sizeof line);
    } else if (AnyWith(search, kSilent)) {
        lstrcpynA(line, "Nothing came: touch the panel while searching.",
                  sizeof line);
    } else {
        lstrcpynA(line, "No COM port would open.", sizeof line);
    }
    if (size > 0) lstrcpynA(text, line, size);
}

SettingMask FoundSettings(const FinderSetting* found, TouchSettings* settings,
                          BOOL baseAndIrqStored) {
    settings->ComBaud = found->baud;
    // As on setup's port page: the stored port keeps its base and IRQ,
    // where the key holds them (missing ones read as COM1's).
    if (settings->ComPort == found->port->port && baseAndIrqStored)
        return SETTING_BIT(kComPort) | SETTING_BIT(kComBaud);
    settings->ComPort = found->port->port;
    settings->ComBase = found->port->base;
    settings->ComIrq = found->port->irq;
    return kFoundValues;
}
