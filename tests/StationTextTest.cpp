// Telling UTF-8 station texts from code page 949 ones, byte by byte.
#include <gtest/gtest.h>

#include "engine/report/StationText.h"

TEST(StationText, Utf8WithWideCharactersIsUtf8)
{
    EXPECT_TRUE(IsUtf8Text("\xEB\x85\xB8\xEB\x9E\x98 - \xEA\xB0\x80\xEC\x88\x98 \xE2\x99\xAA")); // 노래 - 가수 ♪
    EXPECT_TRUE(IsUtf8Text("caf\xC3\xA9"));
    EXPECT_TRUE(IsUtf8Text("\xF0\x9F\x8E\xB5 tune")); // outside the basic plane
    EXPECT_EQ(StationTextCodePage("caf\xC3\xA9"), static_cast<UINT>(CP_UTF8));
}

TEST(StationText, AsciiAndEmptyStayAnsi)
{
    EXPECT_FALSE(IsUtf8Text("Plain ASCII"));
    EXPECT_FALSE(IsUtf8Text(""));
    EXPECT_EQ(StationTextCodePage("Plain ASCII"), static_cast<UINT>(CP_ACP));
}

TEST(StationText, CodePage949TextIsNotUtf8)
{
    EXPECT_FALSE(IsUtf8Text("\xB0\xA1\xBF\xE4 - \xB3\xEB\xB7\xA1")); // 가요 - 노래
    EXPECT_FALSE(IsUtf8Text("\x8C\x63"));                             // a syllable outside EUC-KR
    EXPECT_FALSE(IsUtf8Text("\xC5\xAC\xB0\xE1"));                     // 연결: starts like UTF-8, then not
}

TEST(StationText, MalformedUtf8IsNotUtf8)
{
    EXPECT_FALSE(IsUtf8Text("\xC0\x80"));         // overlong NUL
    EXPECT_FALSE(IsUtf8Text("\xE0\x80\xAF"));     // overlong slash
    EXPECT_FALSE(IsUtf8Text("\xED\xA0\x80"));     // a surrogate
    EXPECT_FALSE(IsUtf8Text("\xF4\x90\x80\x80")); // past U+10FFFF
    EXPECT_FALSE(IsUtf8Text("\xEB\x85"));         // cut short at the end
    EXPECT_FALSE(IsUtf8Text("\xEB\x85 x"));       // cut short before more text
}
