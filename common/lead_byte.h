#pragma once
// The one platform question the text coders ask: does this byte begin a double-byte
// character in the active ANSI code page? Kept apart so that the coders themselves stay
// free of platform headers.

bool isLeadByte(unsigned char byte);
