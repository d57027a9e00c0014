// The tray icon's tip: station and title in code page 949, cut on whole characters.
#include <gtest/gtest.h>

#include "TrayTip.h"

TEST(TrayTip, StationAloneWithoutTitle)
{
    EXPECT_EQ(MakeTrayTip("Pellora", L"", TRAY_TIP_BYTES), "Pellora");
}

TEST(TrayTip, StationAndTitleInCodePage949)
{
    // Narrow literals here are code page 949 bytes.
    EXPECT_EQ(MakeTrayTip("Pellora", L"바다 - Sea", TRAY_TIP_BYTES), "Pellora - 바다 - Sea");
}

TEST(TrayTip, LineBreaksBecomeSpaces)
{
    EXPECT_EQ(MakeTrayTip("Pellora", L"one\r\ntwo\tthree", TRAY_TIP_BYTES), "Pellora - one  two three");
}

TEST(TrayTip, CutNeverSplitsAKoreanCharacter)
{
    // "Pellora - " is 10 bytes; each syllable 2: 26 syllables end at byte 62, the 27th would end at 64.
    std::wstring title(40, L'가');
    std::string tip = MakeTrayTip("Pellora", title, TRAY_TIP_BYTES);
    EXPECT_EQ(tip.size(), 62u);
    std::string syllables;
    for (int i = 0; i < 26; ++i)
        syllables += "가";
    EXPECT_EQ(tip, "Pellora - " + syllables);
    // One byte more before the title: 26 syllables end at byte 63, exactly the room.
    std::string odd = MakeTrayTip("Pellora!", title, TRAY_TIP_BYTES);
    EXPECT_EQ(odd, "Pellora! - " + syllables);
    // And one more: the 26th would end at 64, so it goes whole; the tip ends at 62.
    EXPECT_EQ(MakeTrayTip("Pellora!!", title, TRAY_TIP_BYTES).size(), 62u);
}

TEST(TrayTip, CutAsciiAtTheLimit)
{
    std::string tip = MakeTrayTip("Pellora", std::wstring(100, L'x'), TRAY_TIP_BYTES);
    EXPECT_EQ(tip.size(), 63u);
    EXPECT_EQ(tip, "Pellora - " + std::string(53, 'x'));
}

TEST(TrayTip, CharactersOutside949BecomeTheDefaultCharacter)
{
    EXPECT_EQ(MakeTrayTip("Pellora", L"a\u0e01b", TRAY_TIP_BYTES), "Pellora - a?b");
}
