"""A Modbus RTU slave on a pseudo-terminal for the Windows build's tests under Wine, where the
Linux test peers cannot run beside the .exe: slave 1 answers function 3 for registers 0 to 9
(version 4.54 in register 9, 1 packet in registers 3/4); frames for another slave or with a bad
CRC get no answer. Usage: modbus_pty_peer.py TERMINAL (prints "ready" once it listens)."""
import os
import sys
import tty

REGISTERS = [0, 0, 0, 1, 0, 0, 0, 0, 0, 0x0454]


def crc(data):
    value = 0xFFFF
    for byte in data:
        value ^= byte
        for _ in range(8):
            value = (value >> 1) ^ 0xA001 if value & 1 else value >> 1
    return bytes([value & 0xFF, value >> 8])


def main():
    fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    print("ready", flush=True)
    pending = b""
    while True:
        pending += os.read(fd, 256)
        while len(pending) >= 8:
            request, pending = pending[:8], pending[8:]
            if request[6:] != crc(request[:6]) or request[0] != 1 or request[1] != 3:
                continue
            first = int.from_bytes(request[2:4], "big")
            count = int.from_bytes(request[4:6], "big")
            if first + count > len(REGISTERS):
                continue
            words = REGISTERS[first:first + count]
            reply = bytes([1, 3, 2 * count]) + b"".join(w.to_bytes(2, "big") for w in words)
            os.write(fd, reply + crc(reply))


main()
