// What the simulated module does beyond answering: timings, the image file, and the faults it injects.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

struct SimOptions {
    // Milliseconds between a reset's response and the boot event.
    int bootDelayMs = 100;
    // Start in the update state (as after a reset with the dfu flag) instead of the normal firmware.
    bool startInUpdateState = false;
    // Where the flash is written after every flash_upload_finish and at the end (empty: nowhere).
    QString flashOut;
    // Baud rate set on a device that the module attaches to (a pty has none that matters).
    int baud = 115200;
    // A real line's pace: bytes both ways take 10 bits each at this rate (0: as fast as the pty goes).
    int paceBaud = 0;
    // Microseconds the module takes to write one flash_upload chunk before it reads the next command.
    int flashWriteUs = 0;
    // The module's MAC address at start (six bytes; empty: the default).
    QByteArray mac;

    // Faults. The Nth flash_upload (counted from 1 over the whole run) is answered with rejectResult.
    int rejectUpload = 0;
    uint16_t rejectResult = 0x0308;
    // set_mac is answered with this result and the address stays (0: the address is taken).
    uint16_t refuseMacResult = 0;
    // set_mac is answered as taken, yet the module keeps the address it had.
    bool keepMac = false;
    // Bytes that cannot start a packet, written before every packet.
    int garbage = 0;
    // Every packet goes out one byte per write.
    bool byteWrites = false;
    // Every answer leaves this many milliseconds after the command came in.
    int delayMs = 0;
    // After this many received packets nothing more is answered (-1: never).
    int muteAfter = -1;
    // After this many received packets have been answered the line is closed (-1: never).
    int hangupAfter = -1;
    // After this many received packets the line is no longer read, so the host's writes back up (-1: never).
    int stallAfter = -1;

    // Streams for load tests: events as fast as the line takes them, or scan results at the byte rate of
    // this baud rate (10 bits a byte).
    bool flood = false;
    int scanStreamBaud = 0;
};
