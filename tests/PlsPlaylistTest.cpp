// PLS entries: counting, plain-text key search from a moving start, trimming, bad playlists.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>

#include "engine/playlist/PlsPlaylist.h"

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

namespace
{
// Every number from 1 to the count in turn, as the rules read, for small counts.
std::vector<std::string> EveryNumberReference(const std::string& text)
{
    std::vector<std::string> entries;
    size_t countKey = text.find("NumberOfEntries");
    size_t equals = countKey == std::string::npos ? countKey : text.find('=', countKey + 15);
    if (equals == std::string::npos)
        return entries;
    int count = atoi(text.c_str() + equals + 1);
    size_t start = equals;
    for (int i = 1; i <= count; ++i) {
        std::string key = "File" + std::to_string(i);
        size_t found = text.find(key, start);
        if (found == std::string::npos)
            continue;
        size_t value = text.find('=', found + key.size());
        if (value == std::string::npos)
            continue;
        size_t lineEnd = text.find('\n', value);
        if (lineEnd == std::string::npos)
            lineEnd = text.size();
        start = lineEnd;
        std::string entry = text.substr(value + 1, lineEnd - value - 1);
        size_t first = entry.find_first_not_of(" \t\r\n");
        entry = first == std::string::npos ? "" : entry.substr(first, entry.find_last_not_of(" \t\r\n") - first + 1);
        entries.push_back(entry);
    }
    return entries;
}
} // namespace

TEST(PlsEntries, SameEntriesAsTryingEveryNumber)
{
    // Shuffled lines of keys that share leading digits, with and without "=".
    const char* pieces[] = {"File1=a", "File10=b", "File2=c", "File21=d", "File3", "File100=e", "File01=f",
                            "File12=g", "Title1=h", "File2 =i", "File=j", "x File11=k", "File9=l"};
    unsigned seed = 12345;
    for (int round = 0; round < 2000; ++round) {
        std::string text = "[playlist]\n";
        seed = seed * 1103515245u + 12345u;
        int countAt = static_cast<int>((seed >> 8) % 6);
        for (int line = 0; line < 8; ++line) {
            if (line == countAt)
                text += "NumberOfEntries=" + std::to_string((seed >> 4) % 130) + "\n";
            seed = seed * 1103515245u + 12345u;
            text += pieces[(seed >> 8) % (sizeof(pieces) / sizeof(pieces[0]))];
            text += (seed >> 20) % 4 == 0 ? "\r\n" : "\n";
        }
        std::vector<std::string> entries;
        ParsePlsEntries(text.c_str(), &entries);
        ASSERT_EQ(EveryNumberReference(text), entries) << text;
    }
}

TEST(PlsAddress, ThePathEndsInPlsInAnyCase)
{
    EXPECT_TRUE(IsPlsAddress("http://radio.example/list.pls"));
    EXPECT_TRUE(IsPlsAddress("http://radio.example/LIST.PLS"));
    EXPECT_TRUE(IsPlsAddress("http://radio.example/list.Pls"));
    EXPECT_TRUE(IsPlsAddress(".pls"));
    EXPECT_FALSE(IsPlsAddress("pls"));
    EXPECT_FALSE(IsPlsAddress(""));
    EXPECT_FALSE(IsPlsAddress(nullptr));
    EXPECT_FALSE(IsPlsAddress("http://radio.example:8000"));
    // Stations publish their lists with a query: the path decides.
    EXPECT_TRUE(IsPlsAddress("http://radio.example/listen.pls?sid=1"));
    EXPECT_TRUE(IsPlsAddress("http://radio.example/listen.PLS#top"));
    EXPECT_FALSE(IsPlsAddress("http://radio.example/stream?list.pls"));
    EXPECT_FALSE(IsPlsAddress("http://radio.example/list.plsx"));
    EXPECT_FALSE(IsPlsAddress("http://radio.example/list_pls"));
}
