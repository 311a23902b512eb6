/*
 * Facts of the wire between the host and the adapter firmware, shared by the
 * host's stream encoder and scanner, the simulated adapter and the firmware
 * itself. Plain C so that SDCC compiles it too.
 */
#ifndef BRANTLE_ADAPTER_WIRE_H
#define BRANTLE_ADAPTER_WIRE_H

/* Command stream: 0x00 escapes the byte after it; every other byte is a bus byte. */
enum {
    WireEscape = 0x00,
    CmdZeroByte = 0x00, /* 00 00 is the bus byte 0x00 */
    CmdOpen = 0x01,     /* clears the sticky error and NoAck flags */
    CmdClock100k = 0x11,
    CmdClock400k = 0x12,
    CmdStart = 0x13,
    CmdStop = 0x14,
    CmdWait = 0x30 /* extended command: length byte n (counting itself), sub-code, arguments */
};

/* Sub-codes of the extended command. */
enum {
    ExtWait = 0x01,     /* lo, hi: wait lo + 256 * hi units */
    ExtPortADir = 0x02, /* x: pins 4..7 of port A become outputs where bit (pin-4) of x is 0 */
    ExtPortARead = 0x03 /* ignored byte: appends pins 7..4 of port A as a low nibble */
};

/* The wait item the host writes: 00 30 04 01 LO HI. */
#define WIRE_WAIT_BLOCK_LENGTH 4
#define WIRE_WAIT_ITEM_LENGTH 6
#define WIRE_WAIT_UNIT_US 20
#define WIRE_WAIT_UNITS_PER_MS 50.0

/* A byte to be read is written into the stream as this placeholder. */
#define WIRE_READ_PLACEHOLDER 0xFF

/* Status byte, the last byte of every reply. */
#define WIRE_STATUS_FIRMWARE_ERROR 0x80
#define WIRE_STATUS_NOACK 0x40

/* Transaction framing: a 4-byte header of two little-endian 16-bit counts,
 * L = bytes sent including the header, R = bytes to send back. */
#define WIRE_HEADER_SIZE 4
/* The firmware stores the transaction and appends its results in one buffer
 * between the command buffer's start and the autovector table. */
#define WIRE_COMMAND_BUFFER_ADDRESS 0x1078
#define WIRE_AUTOVECTOR_ADDRESS 0x3F00
#define WIRE_COMMAND_BUFFER_SIZE 11912

/* Control requests. */
#define WIRE_REQUEST_INQUIRY 0x00 /* vendor, device-to-host, 1 byte: 0x01 = our firmware */
#define WIRE_INQUIRY_ANSWER 0x01
#define WIRE_REQUEST_FIRMWARE_LOAD 0xA0 /* the chip's own RAM load request */
#define WIRE_CPUCS_ADDRESS 0xE600
#define WIRE_FIRMWARE_IMAGE_SIZE 16384
#define WIRE_FIRMWARE_CHUNK_SIZE 4096

/* The alternate setting whose endpoints carry transactions, and the positions
 * of the OUT and IN endpoints in its endpoint list (0 = control endpoint). */
#define WIRE_TRANSFER_ALT_SETTING 1
#define WIRE_OUT_ENDPOINT_POSITION 4
#define WIRE_IN_ENDPOINT_POSITION 6

#endif
