#include "common/lead_byte.h"

// For builds without a code-page service (the Linux host, where the coders are fuzzed):
// the rule of code page 936, which every text of the program is written in.
bool isLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }
