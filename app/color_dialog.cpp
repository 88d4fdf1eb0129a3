#include "app/color_dialog.h"

#include <algorithm>
#include <iterator>

CHOOSECOLORA colorDialogData;
COLORREF customColors[16];
COLORREF currentColor = 0x00000000;
BOOL(WINAPI* colorDialog)(LPCHOOSECOLORA) = ChooseColorA;

void initColorDialog(CHOOSECOLORA& record, COLORREF (&custom)[16], HWND owner, COLORREF initial) {
    std::fill(std::begin(custom), std::end(custom), COLORREF{0x00FFFFFF});
    record = CHOOSECOLORA{};
#ifndef _WIN64
    static_assert(sizeof(CHOOSECOLORA) == 36, "the dialog expects the 32-bit record");
#endif
    record.lStructSize = sizeof(CHOOSECOLORA);
    record.hwndOwner = owner;
    record.hInstance = nullptr;
    record.rgbResult = initial;
    record.lpCustColors = custom;
    record.Flags = CC_RGBINIT | CC_FULLOPEN | CC_ANYCOLOR;
    record.lCustData = 0;
    record.lpfnHook = nullptr;
    record.lpTemplateName = nullptr;
}
