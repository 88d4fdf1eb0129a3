#include "common/lead_byte.h"

#include <windows.h>

bool isLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }
