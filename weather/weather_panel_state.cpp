// The panel's construction: the day names and defaults, and the icon folder, which the
// build provides (see picture_folder.h).

#include "common/forecast_page.h"
#include "weather/picture_folder.h"
#include "weather/weather_panel.h"

#include <cstring>

WeatherPanel::WeatherPanel() {
    for (int day = 0; day < 3; ++day)
        std::memcpy(days[day].dayName, forecast_page::kDayWords[day], sizeof forecast_page::kDayWords[day]);
    if (!preparePictureFolder(pictureFolder, sizeof pictureFolder)) pictureFolder[0] = '\0';
}
