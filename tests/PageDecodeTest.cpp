// pelradio's title page: the charset of the answer or the page (code page 949 without one), the title in it, the fetch and its limit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "PageFetch.h"
#include "TestWindow.h"

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

namespace
{
const UINT WM_FETCH_DONE = WM_APP + 0x300;
const DWORD SHORT_LIMIT_MS = 1500;

std::wstring WideUrl(const std::string& url) { return std::wstring(url.begin(), url.end()); }
} // namespace

// A site that takes the connection and never answers holds the fetch no longer than its limit,
// however the wait is split between the request and the body.
TEST(PageFetch, ASilentSiteEndsTheFetchAtItsLimit)
{
    CLoopbackServer server([](CLoopbackServer& self, SOCKET client, const std::string&) { self.Stall(client); }, 0,
                           15000);
    ASSERT_TRUE(server.Listening());
    CTestWindow window;
    CPageFetch fetch(window.Handle(), WM_FETCH_DONE, SHORT_LIMIT_MS);
    DWORD start = GetTickCount();
    ASSERT_TRUE(fetch.Start(WideUrl(server.Url("/gasaview.html"))));
    std::wstring page = L"not yet";
    EXPECT_TRUE(window.PumpUntil([&] { return fetch.Take(&page); }, 12000));
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, SHORT_LIMIT_MS - 100) << "the site was waited for";
    EXPECT_LT(took, SHORT_LIMIT_MS + 1000) << "the fetch ended " << took << " ms after it began";
    EXPECT_TRUE(page.empty());
    EXPECT_EQ(window.Of(WM_FETCH_DONE).size(), 1u);
}

TEST(PageFetch, ASiteThatAnswersGivesItsPage)
{
    std::string answer = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + Page("", MARKER_949, TITLE_949);
    CLoopbackServer server([&](CLoopbackServer& self, SOCKET client, const std::string&) { self.SendAll(client, answer); });
    ASSERT_TRUE(server.Listening());
    CTestWindow window;
    CPageFetch fetch(window.Handle(), WM_FETCH_DONE, SHORT_LIMIT_MS);
    ASSERT_TRUE(fetch.Start(WideUrl(server.Url("/gasaview.html?x=1"))));
    std::wstring page;
    EXPECT_TRUE(window.PumpUntil([&] { return fetch.Take(&page); }, 5000));
    EXPECT_EQ(FindSongTitle(page), TITLE);
    std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("GET /gasaview.html?x=1 HTTP/1.1\r\n", 0), 0u) << requests[0];
}
