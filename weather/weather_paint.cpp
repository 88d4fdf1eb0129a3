// The panel's screen side: icon files to bitmaps, and the painting.

#include "weather/weather_panel.h"

#include "common/dpi_scale.h"
#include "common/gbk_wide.h"
#include "common/unique.h"
#include "net/http_fetcher.h"

#include <windows.h>

#include <ole2.h>
#include <olectl.h>

#include <cstring>

namespace {

constexpr int kIconSide = 49;
constexpr int kIconX[WeatherPanel::kIconCount] = {0, 49, 102, 151, 204, 253};
constexpr int kIconY = 16;
constexpr int kCityX = 114;
constexpr int kColumnWidth = 102;
constexpr int kFirstLineY = 67;
constexpr int kLineHeight = 16;
constexpr int kPanelWidth = 343;
constexpr int kPanelHeight = 196;

enum class IconLoad {
    loaded,
    unopened,  // no such file, or it cannot be opened
    broken,    // the file is there but holds no bitmap picture
    failed,    // the system could not help this time; the file may be fine
};

// Reads the whole file at `path` into movable global memory and turns it into a bitmap of
// the panel's own.
IconLoad loadIcon(const char* path, HBITMAP& bitmap) {
    const gbk::WidePath widePath(path);
    if (!widePath.ok) return IconLoad::unopened;
    UniqueFile file(CreateFileW(widePath.text, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return IconLoad::unopened;
    const DWORD size = GetFileSize(file.get(), nullptr);
    if (size == INVALID_FILE_SIZE) return IconLoad::failed;
    // An icon is never larger than what the fetcher saves; anything else is not one of ours.
    if (size == 0 || size > HttpFetcher::kMaxFileBytes) return IconLoad::broken;

    UniqueGlobal memory(GlobalAlloc(GMEM_MOVEABLE, size));
    if (!memory) return IconLoad::failed;
    void* bytes = GlobalLock(memory.get());
    if (!bytes) return IconLoad::failed;
    DWORD read = 0;
    const BOOL readOk = ReadFile(file.get(), bytes, size, &read, nullptr);
    GlobalUnlock(memory.get());
    if (!readOk || read != size) return IconLoad::failed;
    file.reset();

    IStream* rawStream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory.get(), FALSE, &rawStream))) return IconLoad::failed;
    UniqueCom<IStream> stream(rawStream);
    void* rawPicture = nullptr;
    if (FAILED(OleLoadPicture(stream.get(), 0, FALSE, IID_IPicture, &rawPicture)) || !rawPicture) {
        return IconLoad::broken;
    }
    UniqueCom<IPicture> picture(static_cast<IPicture*>(rawPicture));
    SHORT type = PICTYPE_NONE;
    OLE_HANDLE handle = 0;
    if (FAILED(picture.get()->get_Type(&type)) || type != PICTYPE_BITMAP ||
        FAILED(picture.get()->get_Handle(&handle))) {
        return IconLoad::broken;
    }
    // A picture hands its handle over as 32 bits; GDI handles are defined to survive being
    // sign-extended back to pointer size.
    const HANDLE pictureBitmap = LongToHandle(static_cast<LONG>(handle));
    bitmap = static_cast<HBITMAP>(CopyImage(pictureBitmap, IMAGE_BITMAP, 0, 0, 0));
    return bitmap ? IconLoad::loaded : IconLoad::failed;
}

}  // namespace

bool WeatherPanel::loadIcons() {
    const HRESULT com = CoInitialize(nullptr);
    bool allLoaded = true;
    for (int k = 0; k < kIconCount; ++k) {
        const DayForecast& day = days[k / 2];
        const char* path = k % 2 ? day.nightIconPath : day.dayIconPath;
        HBITMAP bitmap = nullptr;
        const IconLoad result = loadIcon(path, bitmap);
        if (result == IconLoad::unopened) {
            allLoaded = false;
            break;
        }
        if (result == IconLoad::loaded) {
            // Nothing else holds the old bitmap: paint selects one only for its own copy.
            if (iconBitmaps[k]) DeleteObject(iconBitmaps[k]);
            iconBitmaps[k] = bitmap;
            continue;
        }
        // The slot keeps its bitmap. A file that is no picture (an error page sent with
        // status 200, a damaged file) goes, so that the next refresh fetches it again.
        if (result == IconLoad::broken) {
            const gbk::WidePath widePath(path);
            if (widePath.ok) DeleteFileW(widePath.text);
        }
        allLoaded = false;
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return allLoaded;
}

bool WeatherPanel::paint(HWND window, HDC dc) {
    if (days[0].description[0] == '\0') return false;
    hwnd = window;
    UniqueMemoryDc memory(CreateCompatibleDC(dc));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, textColor);
    const auto at = [this](int length) { return scaleToDpi(length, dpi); };
    gbk::textOutField(dc, at(originX + kCityX), at(originY), forecastCity, sizeof forecastCity);

    // Scaled icons are smoothed; at 96 DPI they are copied as they are, as they always were.
    const int oldStretchMode = dpi != kBaseDpi ? SetStretchBltMode(dc, HALFTONE) : 0;
    if (oldStretchMode) SetBrushOrgEx(dc, 0, 0, nullptr);  // HALFTONE asks for it

    for (int k = 0; k < kIconCount && memory; ++k) {
        BITMAP size{};
        if (!iconBitmaps[k] || !GetObjectA(iconBitmaps[k], sizeof size, &size)) continue;
        // Cut to the square, then scaled with the window; a smaller icon leaves the rest of
        // it undrawn.
        const int width = size.bmWidth < kIconSide ? size.bmWidth : kIconSide;
        const int height = size.bmHeight < kIconSide ? size.bmHeight : kIconSide;
        const int left = at(originX + kIconX[k]), top = at(originY + kIconY);
        SelectGuard selected(memory.get(), iconBitmaps[k]);
        StretchBlt(dc, left, top, at(originX + kIconX[k] + width) - left, at(originY + kIconY + height) - top,
                   memory.get(), 0, 0, width, height, SRCCOPY);
    }
    if (oldStretchMode) SetStretchBltMode(dc, oldStretchMode);

    for (int d = 0; d < 3; ++d) {
        const DayForecast& day = days[d];
        const int x = at(originX + kColumnWidth * d);
        const int y = originY + kFirstLineY;
        gbk::textOutField(dc, x, at(y), day.dayName, sizeof day.dayName);
        gbk::textOutField(dc, x, at(y + kLineHeight), day.temperature, sizeof day.temperature);
        gbk::textOutField(dc, x, at(y + 2 * kLineHeight), day.description, sizeof day.description);
        gbk::textOutField(dc, x, at(y + 3 * kLineHeight), day.wind, sizeof day.wind);
    }
    ready = true;
    return true;
}

bool WeatherPanel::invalidate() {
    if (!hwnd) return true;
    const RECT area{scaleToDpi(originX, dpi), scaleToDpi(originY, dpi), scaleToDpi(originX + kPanelWidth, dpi),
                    scaleToDpi(originY + kPanelHeight, dpi)};
    InvalidateRect(hwnd, &area, TRUE);
    return true;
}

bool WeatherPanel::setColor(uint32_t color) {
    textColor = color;
    return invalidate();
}
