/* The yardstick of a tarvenctl process: the least a program that looks for the module on USB can
 * do, in C against hidapi: initialise it, list the devices with the module's ids, and let go. */
#include <hidapi/hidapi.h>

int main(void) {
  if (hid_init() != 0) return 1;
  struct hid_device_info* list = hid_enumerate(0x03EB, 0x6202);
  hid_free_enumeration(list);
  return hid_exit() == 0 ? 0 : 1;
}
