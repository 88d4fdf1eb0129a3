#pragma once
// The one question the text coders ask of a byte: does it begin a double-byte character?
// Always answered by code page 936's rule, never the system's active code page, which on
// a Windows of another language (1252, 932, 949, 950) would split GBK text wrongly.

bool isLeadByte(unsigned char byte);
