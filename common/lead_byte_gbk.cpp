#include "common/lead_byte.h"

// Code page 936: a lead byte is 0x81 to 0xFE, on every platform and in every locale.
bool isLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }
