// The controller finder: listens on each COM port at each baud rate setup
// offers and counts what arrives, to name the first setting on which the
// panel's packets come through clean.  Nothing is ever sent to a port.
#ifndef ZAVIR_CONFIG_FINDER_H
#define ZAVIR_CONFIG_FINDER_H

#include <windows.h>

#include "com_port.h"
#include "settings.h"

// What one listening window received.
struct PacketTally {
    LONG touches;     // 0xFF and four 7-bit data bytes
    LONG releases;    // 0xFF 0xFE 0xFE
    LONG strayBytes;  // bytes that fit no packet
    LONG cutBytes;    // a packet cut by the window's start or end
};

// Counts a stream that arrives in pieces.  Up to four data bytes, or up to
// two 0xFE bytes, before the first lead byte may be the tail of a packet
// that began before the window opened, and the bytes of a packet still
// open when it closes may be cut by its end: both count as cut when they
// could belong to a packet, never as stray.
struct PacketCounter {
    PacketTally tally;
    BYTE packet[5];     // the packet under way, from its lead byte
    int packetLength;
    BOOL leadSeen;
    int leadingBytes;   // before the first lead byte
    BOOL leadingData;      // and each of them is a data byte
    BOOL leadingReleases;  // or each is 0xFE
};

void StartCounting(PacketCounter* counter);
void CountBytes(PacketCounter* counter, const BYTE* bytes, DWORD count);
// The window has closed: what is still open is settled.
void FinishCounting(PacketCounter* counter);

enum SettingVerdict {
    kNotTried,      // the search ended before it
    kPortNotOpen,   // the port would not open at this rate
    kSilent,        // nothing but perhaps a cut packet came
    kClean,         // packets and not one stray byte
    kGarbled        // stray bytes: the wrong rate, or not a controller
};
SettingVerdict JudgeTally(const PacketTally* tally);

// Every port the system lists at every rate, port by port.
#define FINDER_MAX_SETTINGS (COM_PORT_COUNT * COM_BAUD_COUNT)

struct FinderSetting {
    const ComPortRow* port;
    LONG baud;
    SettingVerdict verdict;
    PacketTally tally;
};

struct FinderSearch {
    FinderSetting settings[FINDER_MAX_SETTINGS];
    int count;
    int current;  // the setting being listened to; count when done
};

// The settings to try for the ports of a ListedComPorts mask, none tried.
void PlanSearch(FinderSearch* search, DWORD listedPorts);
// The first clean setting, or NULL.
const FinderSetting* FirstCleanSetting(const FinderSearch* search);

// The table: a line per port, a column per rate, each cell the touch and
// release packets and the stray bytes, or what kept them from being
// counted.  Tab-separated, lines end in CR LF; always terminated within
// size.
void FormatFinderTable(const FinderSearch* search, char* text, int size);
// The setting being listened to while the search runs; then "Controller
// found on COM 2 at 9600 baud", or why none was named.
void FormatFinding(const FinderSearch* search, char* text, int size);

// Puts a found setting into a record loaded with the stored kFoundValues
// and returns which of them to write; nothing else is to be written.
SettingMask FoundSettings(const FinderSetting* found, TouchSettings* settings,
                          BOOL baseAndIrqStored);
extern const SettingMask kFoundValues;  // ComPort, ComBase, ComIrq, ComBaud

#endif
