#pragma once
// The colour dialog's state: one record filled when the main window is created and
// reused by every colour command, and the dialog's 16 custom colours.

#include <windows.h>

#include <commdlg.h>

extern CHOOSECOLORA colorDialogData;
extern COLORREF customColors[16];
extern COLORREF currentColor;  // the colour last confirmed in the dialog; black at start
// Runs the dialog: ChooseColorA, or what a test puts in its place.
extern BOOL(WINAPI* colorDialog)(LPCHOOSECOLORA);

// Sets all 16 custom colours to white and fills `record` for a fully opened dialog owned
// by `owner` that starts at `initial` and may return any colour. Keeps no reference to
// anything but `custom`, which the record points at.
void initColorDialog(CHOOSECOLORA& record, COLORREF (&custom)[16], HWND owner, COLORREF initial);
