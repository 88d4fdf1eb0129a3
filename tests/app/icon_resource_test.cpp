// The program carries icon 101: one 32 x 32 image in 16 colours.

#include "app/resource.h"

#include <gtest/gtest.h>
#include <windows.h>

TEST(IconResource, IsOne32By32SixteenColourImage) {
    HMODULE program = LoadLibraryExA(PELLUMO_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr) << PELLUMO_EXE;
    HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(IDI_PELLUMO), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    ASSERT_NE(found, nullptr);
    ASSERT_GE(SizeofResource(program, found), 20u);
    // A 6-byte header ending in the image count, then per image its width, height and
    // number of colours first.
    const auto* group = static_cast<const BYTE*>(LockResource(LoadResource(program, found)));
    EXPECT_EQ(group[4], 1);
    EXPECT_EQ(group[6], 32);
    EXPECT_EQ(group[7], 32);
    EXPECT_EQ(group[8], 16);
    FreeLibrary(program);
}
