#pragma once
// Linux: a baud rate that has no speed constant (250000, 31250, ...), set through the kernel's
// own terminal settings, which the C library's cannot carry. Its own file, since the kernel's
// header and the C library's <termios.h> define the same names and cannot meet in one file.

namespace tarven::comport {

// Sets `baud` on the terminal `fd` after its other settings are in place. False, with errno set,
// when the driver refuses it.
bool SetCustomBaudRate(int fd, int baud);

}  // namespace tarven::comport
