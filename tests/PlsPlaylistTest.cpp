// PLS entries: counting, plain-text key search from a moving start, trimming, bad playlists.
#include <gtest/gtest.h>

#include <windows.h>

#include "PlsPlaylist.h"

namespace
{
std::vector<std::string> Entries(const char* text, bool* ok = nullptr)
{
    std::vector<std::string> entries;
    bool parsed = ParsePlsEntries(text, &entries);
    if (ok != nullptr)
        *ok = parsed;
    return entries;
}

using List = std::vector<std::string>;
} // namespace

TEST(PlsEntries, CountTwoThenEntriesOneAndTwoInOrderWithoutLineEnds)
{
    bool ok = false;
    List got = Entries("[playlist]\r\nNumberOfEntries=2\r\nFile1=http://a.example:8000/\r\n"
                       "Title1=First\r\nFile2=http://b.example/live\r\nLength1=-1\r\nVersion=2\r\n",
                       &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ((List{"http://a.example:8000/", "http://b.example/live"}), got);
}

TEST(PlsEntries, CountLineAfterTheEntriesFindsNothingButIsNoError)
{
    bool ok = false;
    List got = Entries("[playlist]\nFile1=http://a/\nFile2=http://b/\nNumberOfEntries=2\n", &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(got.empty());
}

TEST(PlsEntries, MissingEntryIsSkipped)
{
    EXPECT_EQ((List{"http://one/", "http://three/"}),
              Entries("NumberOfEntries=3\nFile1=http://one/\nFile3=http://three/\n"));
}

TEST(PlsEntries, LastEntryWithoutLineFeed)
{
    EXPECT_EQ((List{"http://a/", "http://b/"}), Entries("NumberOfEntries=2\nFile1=http://a/\nFile2=http://b/"));
}

TEST(PlsEntries, FileOneMatchesTheStartOfFileTen)
{
    // Key 1 is found in "File10", whose value it takes; the search start moves past entry 1's
    // own line, which key 10 does not match.
    EXPECT_EQ((List{"http://ten/"}), Entries("NumberOfEntries=10\nFile10=http://ten/\nFile1=http://one/\n"));
    // In ascending order all ten are found, each from its own line.
    std::string text = "NumberOfEntries=10\n";
    List expected;
    for (int i = 1; i <= 10; ++i) {
        text += "File" + std::to_string(i) + "=http://s" + std::to_string(i) + "/\n";
        expected.push_back("http://s" + std::to_string(i) + "/");
    }
    EXPECT_EQ(expected, Entries(text.c_str()));
}

TEST(PlsEntries, EntriesOutOfOrderAreNotFound)
{
    // Entry 1 stands after entry 2: finding it moves the search start past entry 2's line.
    EXPECT_EQ((List{"http://one/"}), Entries("NumberOfEntries=2\nFile2=http://two/\nFile1=http://one/\n"));
}

TEST(PlsEntries, OnlyTheCountedEntriesAreRead)
{
    EXPECT_EQ((List{"http://a/"}), Entries("NumberOfEntries=1\nFile1=http://a/\nFile2=http://b/\n"));
}

TEST(PlsEntries, BlanksTabsAndCarriageReturnsAreTrimmedAndEmptyEntriesKept)
{
    EXPECT_EQ((List{"http://a/ b", "", "x"}),
              Entries("NumberOfEntries = \t3\r\nFile1= \t http://a/ b \t\r\nFile2=\r\nFile3=\t x"));
}

TEST(PlsEntries, KeyWithoutEqualsIsSkippedAndTheStartStays)
{
    EXPECT_EQ((List{}), Entries("NumberOfEntries=2\nFile1\nFile2 none\n"));
    // Key 1's "=" is the one on entry 2's line; that line is then consumed.
    EXPECT_EQ((List{"http://b/"}), Entries("NumberOfEntries=2\nFile1\nFile2=http://b/\n"));
}

TEST(PlsEntries, CountWithoutDigitsOrNegativeGivesNoEntries)
{
    bool ok = false;
    EXPECT_TRUE(Entries("NumberOfEntries=many\nFile1=http://a/\n", &ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_TRUE(Entries("NumberOfEntries=-2\nFile1=http://a/\n", &ok).empty());
    EXPECT_TRUE(ok);
}

TEST(PlsEntries, CountNameIsCaseSensitive)
{
    bool ok = true;
    EXPECT_TRUE(Entries("numberofentries=1\nFile1=http://a/\n", &ok).empty());
    EXPECT_FALSE(ok);
}

TEST(PlsEntries, NoCountOrNoEqualsAfterItIsABadPlaylist)
{
    bool ok = true;
    List got = Entries("[playlist]\nFile1=http://a/\n", &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(Entries("File1 NumberOfEntries 1\n", &ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_FALSE(ParsePlsEntries("", &got));
    EXPECT_FALSE(ParsePlsEntries(nullptr, &got));
}

TEST(PlsEntries, FormerEntriesAreReplaced)
{
    std::vector<std::string> entries = {"old"};
    EXPECT_TRUE(ParsePlsEntries("NumberOfEntries=1\nFile1=new\n", &entries));
    EXPECT_EQ((List{"new"}), entries);
    EXPECT_FALSE(ParsePlsEntries("nothing", &entries));
    EXPECT_TRUE(entries.empty());
}

TEST(PlsEntries, HugeCountEndsAtOnce)
{
    DWORD start = GetTickCount();
    EXPECT_EQ((List{"http://a/", "http://b/"}),
              Entries("NumberOfEntries=2147483647\nFile1=http://a/\nFile12345678=http://b/\n"));
    EXPECT_EQ((List{"http://a/"}), Entries("NumberOfEntries=99999999999999\nFile1=http://a/\n"));
    EXPECT_LT(GetTickCount() - start, 1000u);
}
