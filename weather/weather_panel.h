#pragma once
// The weather half of the window: a three-day forecast for one city, cut out of a search
// result page, with a day and a night icon per day cached as GIF files in a picture folder.
// One static object serves the whole program; every field has a fixed size, and the page
// buffer of a refresh is the only allocation.

#include <atomic>
#include <cstddef>
#include <cstdint>

// The platform's window, device-context and bitmap handles are pointers to these incomplete
// types; naming them keeps <windows.h> out of this header, so that the scraper, which only
// needs the forecast fields, also builds where there is no such header.
struct HWND__;
struct HDC__;
struct HBITMAP__;

// One day of the forecast, exactly 256 bytes; every text is GBK and zero-terminated
// within its field.
struct DayForecast {
    char dayName[16];        // 今天, 明天 or 后天, set at construction
    char temperature[16];    // such as 22℃～15℃
    char description[32];    // at most 16 bytes of it are filled
    char wind[32];           // at most 16 bytes of it are filled
    char dayIconPath[80];    // where the day icon is cached
    char nightIconPath[80];  // and the night icon
};
static_assert(sizeof(DayForecast) == 256, "a day record is 256 bytes");

class WeatherPanel {
public:
    static constexpr size_t kIconUrlSize = 80;
    static constexpr size_t kCitySize = 16;
    static constexpr size_t kPictureFolderSize = 260;
    static constexpr int kIconCount = 6;
    static constexpr uint32_t kDefaultTextColor = 0xFF00FF;  // a COLORREF, 0x00BBGGRR

    // Fills the defaults and names the picture folder (see picture_folder.h); touches no file.
    WeatherPanel();
    // Keeps the bitmaps: they live as long as the process.
    ~WeatherPanel() = default;
    WeatherPanel(const WeatherPanel&) = delete;
    WeatherPanel& operator=(const WeatherPanel&) = delete;

    // Stores `city` (GBK, cut to 15 bytes without splitting a character) and queries its
    // forecast: the page, then every icon not yet cached, then the bitmaps. A non-empty city
    // equal to the one whose forecast is on show is not queried again unless forced (true).
    // While the weather worker runs, the query goes to it and this returns true at once; the
    // result comes back to the worker's window (see weather_worker.h). Otherwise it runs
    // here, blocking for at least the page's second and six 100 ms pauses, and is true when
    // all of it succeeded. False for a null city; a page without a complete forecast changes
    // nothing but the stored city.
    bool refresh(const char* city, bool force);

    // How far the network part of a refresh came.
    enum class Fetched { nothing, texts, all };
    // The network part of a refresh, run on a copy of the panel: queries this panel's `city`
    // at `searchHost`, scrapes the page into its own days and icon URLs and caches the icons
    // under `pictureFolder`, recording their paths. Touches no window, bitmap or other
    // panel. Ends early, failing, once `stop` (when given) is set.
    Fetched fetchForecast(const char* searchHost, const std::atomic<bool>* stop);
    // Takes a fetch's result on the window's thread, all at once: the texts, icon URLs and
    // paths of `from` and its city as the forecast's when it got them, then the bitmaps when
    // it got every icon, then a repaint. `from` may be this panel. True when it got all.
    bool commit(const WeatherPanel& from, Fetched fetched);

    // Scrapes the three days out of `page` (zero-terminated) into `days` and `iconUrls`.
    // All or nothing: true only when every field of every day was found; otherwise the
    // forecast keeps what it held. Reads the page and the icon host, nothing else.
    bool parsePage(const char* page);
    // The four steps of parsePage; each searches from `scanPos` and leaves it where the next
    // one starts. False when the step's marker is missing or its text cannot fit its field.
    bool scrapeIconUrl(int day, bool night);
    bool scrapeTemperature(int day);
    bool scrapeDescription(int day);
    bool scrapeWind(int day);

    // Loads the six icon files into `iconBitmaps`. False at the first file that cannot be
    // opened (earlier slots are new, later ones keep what they held). A file that is not a
    // picture is deleted, so the next refresh fetches it again, and its slot is kept.
    bool loadIcons();
    // Draws the city, the icons and the day texts into `dc` at the panel's origin and
    // remembers `window`; false, drawing nothing, while there is no forecast.
    bool paint(HWND__* window, HDC__* dc);
    // Asks the remembered window to repaint the panel's rectangle; always true.
    bool invalidate();
    // Sets the colour of every weather text and repaints; always true.
    bool setColor(uint32_t color);

    // The weather part of the settings line: "/x,y,colour,city".
    bool readSettings(const char* text);
    bool writeSettings(char* buffer);  // 128 bytes

    bool ready{};
    const char* scanPos{};  // into the page while parsePage runs, null otherwise
    DayForecast days[3]{};
    char iconUrls[3][2][kIconUrlSize]{};
    HBITMAP__* iconBitmaps[kIconCount]{};
    uint32_t textColor = kDefaultTextColor;
    HWND__* hwnd{};
    char city[kCitySize]{};  // as the user gave it; stored even when its query fails
    char pictureFolder[kPictureFolderSize]{};
    int32_t originX = 4;
    int32_t originY = 260;
    // The DPI of the window it draws on, set by the window; the origin and every length of
    // the panel are the ones at 96 DPI and scaled by dpi / 96 where they are drawn.
    int32_t dpi = 96;
    // The city whose query brought the forecast on show: what the panel draws as its title,
    // so a failed query never puts a new name over an older city's forecast.
    char forecastCity[kCitySize]{};
};

extern WeatherPanel weatherPanel;
