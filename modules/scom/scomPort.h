// Serial ports as the scom module drives them: a terminal device opened for
// reading and writing and set to 9600 baud, 8 data bits, no parity, one
// stop bit, no software flow control. A port is its file descriptor.
#pragma once
#include <cstdint>

// Opens the device at szPath and applies the line settings; the port, or
// -1 when the path cannot be opened, is not a terminal or refuses the
// settings.
int64_t scomPortOpen(const char *szPath);
// Closes a port this module opened: 1, or 0 for any other value or when
// closing fails.
int scomPortClose(int64_t nPort);
// Writes one byte (the low 8 bits of nChar) to a port this module opened:
// 1 when the write succeeded, else 0.
int scomPortPutChar(int64_t nPort, int64_t nChar);
