// pelradio's title page: its charset read from the answer or the page, code page 949 without one, the title found in it.
#include <gtest/gtest.h>

#include <string>

#include "PageFetch.h"

namespace
{
// "펠로라" in code page 949 and in UTF-8.
const char TITLE_949[] = "\xc6\xe7\xb7\xce\xb6\xf3";
const char TITLE_UTF8[] = "\xed\x8e\xa0\xeb\xa1\x9c\xeb\x9d\xbc";
const wchar_t TITLE[] = L"\xd3a0\xb85c\xb77c";

// A title page as the station writes it, around the marker (in the page's own code page).
std::string Page(const std::string& head, const std::string& marker, const std::string& title)
{
    return "<html><head>" + head + "</head><body><table><tr><td>" + marker + title + "</td></tr></table></body></html>";
}

const std::string MARKER_949 = "\xc0\xe7\xbb\xfd\xc1\xdf\xc0\xce \xb3\xeb\xb7\xa1\xb8\xed&nbsp;:&nbsp;";
const std::string MARKER_UTF8 = "\xec\x9e\xac\xec\x83\x9d\xec\xa4\x91\xec\x9d\xb8 \xeb\x85\xb8\xeb\x9e\x98\xeb\xaa\x85&nbsp;:&nbsp;";
} // namespace

TEST(PageDecode, CodePage949WithoutADeclarationWhateverTheSystemUses)
{
    EXPECT_EQ(FindSongTitle(CPageFetch::DecodePage(Page("", MARKER_949, TITLE_949), "text/html")), TITLE);
    EXPECT_EQ(FindSongTitle(CPageFetch::DecodePage(Page("", MARKER_949, TITLE_949), "")), TITLE);
}

TEST(PageDecode, TheDeclaredCharsetInTheAnswerOrThePage)
{
    for (const char* type : {"text/html; charset=euc-kr", "text/html;charset=KS_C_5601-1987", "text/html; charset=\"cp949\"",
                             "text/html; charset=x-windows-949"})
        EXPECT_EQ(FindSongTitle(CPageFetch::DecodePage(Page("", MARKER_949, TITLE_949), type)), TITLE) << type;
    EXPECT_EQ(FindSongTitle(CPageFetch::DecodePage(Page("", MARKER_UTF8, TITLE_UTF8), "text/html; charset=UTF-8")), TITLE);
    EXPECT_EQ(FindSongTitle(CPageFetch::DecodePage(
                  Page("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">", MARKER_UTF8, TITLE_UTF8),
                  "text/html")),
              TITLE);
    EXPECT_EQ(FindSongTitle(CPageFetch::DecodePage(Page("<META CHARSET='euc-kr'>", MARKER_949, TITLE_949), "text/html")),
              TITLE);
}

// A page full of unfinished <meta elements is read once, not once for each of them.
TEST(PageDecode, UnfinishedMetaElementsDoNotStallTheScan)
{
    std::string body;
    for (int i = 0; i < 200000; ++i)
        body += "<meta ";
    body += Page("", MARKER_949, TITLE_949);
    EXPECT_EQ(FindSongTitle(CPageFetch::DecodePage(body, "text/html")), TITLE);
}
