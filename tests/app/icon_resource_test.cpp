// The program carries icon 101 as one 32 x 32, 16-colour image of its own drawing.

#include "app/resource.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <set>

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {  // one entry of an RT_GROUP_ICON resource
    BYTE width, height, colorCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInRes;
    WORD id;
};
struct GroupIconHeader {
    WORD reserved, type, count;
    GroupIconEntry entries[1];
};
#pragma pack(pop)

struct Module {
    HMODULE handle;
    ~Module() {
        if (handle) FreeLibrary(handle);
    }
};

const void* resourceData(HMODULE module, LPCSTR name, LPCSTR type, DWORD& size) {
    HRSRC found = FindResourceA(module, name, type);
    if (!found) return nullptr;
    size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    return loaded ? LockResource(loaded) : nullptr;
}

TEST(IconResource, IsOne32By32SixteenColourImage) {
    Module program{LoadLibraryExA(PELLUMO_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE)};
    ASSERT_NE(program.handle, nullptr) << PELLUMO_EXE;

    DWORD size = 0;
    const auto* group = static_cast<const GroupIconHeader*>(
        resourceData(program.handle, MAKEINTRESOURCEA(IDI_PELLUMO), MAKEINTRESOURCEA(14), size));  // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    ASSERT_GE(size, sizeof(GroupIconHeader));
    ASSERT_EQ(group->count, 1);
    const GroupIconEntry& entry = group->entries[0];
    EXPECT_EQ(entry.width, 32);
    EXPECT_EQ(entry.height, 32);
    EXPECT_EQ(entry.colorCount, 16);
    EXPECT_EQ(entry.bitCount, 4);

    const auto* image = static_cast<const BITMAPINFOHEADER*>(
        resourceData(program.handle, MAKEINTRESOURCEA(entry.id), MAKEINTRESOURCEA(3), size));  // RT_ICON
    ASSERT_NE(image, nullptr);
    const DWORD colourBits = 32 * 32 / 2, maskBits = 32 * 32 / 8;
    ASSERT_GE(size, sizeof(BITMAPINFOHEADER) + 16 * sizeof(RGBQUAD) + colourBits + maskBits);
    EXPECT_EQ(image->biWidth, 32);
    EXPECT_EQ(image->biHeight, 64);  // colour and mask halves
    EXPECT_EQ(image->biBitCount, 4);

    // A real drawing, not a blank: several palette entries in use, some pixels see-through
    // and most not.
    const auto* pixels = reinterpret_cast<const uint8_t*>(image + 1) + 16 * sizeof(RGBQUAD);
    std::set<int> used;
    for (DWORD i = 0; i < colourBits; ++i) {
        used.insert(pixels[i] >> 4);
        used.insert(pixels[i] & 0xF);
    }
    EXPECT_GE(used.size(), 6u);
    int transparent = 0;
    for (DWORD i = 0; i < maskBits; ++i) {
        for (int bit = 0; bit < 8; ++bit) transparent += (pixels[colourBits + i] >> bit) & 1;
    }
    EXPECT_GT(transparent, 0);
    EXPECT_LT(transparent, 32 * 32 / 2);
}

}  // namespace
