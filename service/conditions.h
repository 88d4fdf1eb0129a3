#pragma once
// The weather conditions the service knows. Each names one icon, served in a day and a night
// variant, and has the GBK words that the demo data uses to describe it.

#include <string_view>

namespace forecast {

struct Condition {
    const char* icon;   // ASCII file name without ".gif"
    const char* words;  // GBK
};

extern const Condition kConditions[];
extern const int kConditionCount;

// The condition whose icon name is exactly `icon`, or null.
const Condition* findCondition(std::string_view icon);

}  // namespace forecast
