#include "calendar/calendar_panel.h"
#include <gtest/gtest.h>
TEST(Dummy, Builds) { CalendarPanel p; EXPECT_TRUE(p.setViewMonth(2024, 2)); }
