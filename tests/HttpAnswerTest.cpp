// The answer reader: the same reading however the bytes arrive, the header's one end rule, its limits and its values.
#include <gtest/gtest.h>

#include <string>

#include "engine/net/HttpAnswer.h"

namespace
{
// A literal's bytes, zero bytes inside it included.
template <size_t N>
std::string Bytes(const char (&text)[N])
{
    return std::string(text, N - 1);
}

// What a reading tells, side by side, so that two readings compare at once.
struct CReading
{
    EHttpAnswerState state;
    int status;
    std::string reason;
    size_t headerLength;
    std::string body;
    std::string name;
    long long length;
    std::string location;

    bool operator==(const CReading& o) const
    {
        return state == o.state && status == o.status && reason == o.reason && headerLength == o.headerLength &&
               body == o.body && name == o.name && length == o.length && location == o.location;
    }
};

CReading Read(const CHttpAnswer& answer)
{
    CReading r = {answer.State(), answer.Status(), answer.Reason(), answer.HeaderLength(), "", "", -1, ""};
    if (answer.State() == HTTP_ANSWER_COMPLETE)
        r.body.assign(answer.Body(), answer.BodyLength());
    answer.Value("icy-name", &r.name);
    r.length = answer.ContentLength();
    answer.Location(&r.location);
    return r;
}

// The answer given in two pieces, cut at.
CReading ReadCut(const std::string& bytes, size_t at, size_t limit = 4096)
{
    CHttpAnswer answer(limit);
    answer.Take(bytes.data(), at);
    answer.Take(bytes.data() + at, bytes.size() - at);
    return Read(answer);
}

CHttpAnswer Whole(const std::string& bytes, size_t limit = 4096)
{
    CHttpAnswer answer(limit);
    answer.Take(bytes.data(), bytes.size());
    return answer;
}

std::string ValueOf(const std::string& bytes, const char* name)
{
    std::string value = "(none)";
    Whole(bytes).Value(name, &value);
    return value;
}

std::string LocationOf(const std::string& bytes)
{
    std::string target = "(none)";
    return Whole(bytes).Location(&target) ? target : "(none)";
}
} // namespace

TEST(HttpAnswer, TheSameReadingWhereverTheBytesAreCut)
{
    const std::string answers[] = {
        "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:8000/live\r\nContent-Length: 4\r\n\r\nbody",
        "ICY 200 OK\nicy-name:Bare Line Feeds\n\n\xff\xfb\r\n\r\n",
        Bytes("\r\n\r\nICY 200 OK\r\nicy-name: After Blank Lines\r\n\n\0audio"),
        "HTTP/1.1 404\r\n\r\n",
    };
    for (const std::string& bytes : answers) {
        CReading whole = ReadCut(bytes, bytes.size());
        ASSERT_EQ(whole.state, HTTP_ANSWER_COMPLETE) << bytes;
        for (size_t at = 0; at < whole.headerLength; ++at)
            EXPECT_TRUE(ReadCut(bytes, at) == whole) << bytes << " cut at " << at;
        // Cut after the header's end, the body holds what came with the header, and no more.
        for (size_t at = whole.headerLength; at <= bytes.size(); ++at) {
            CReading cut = ReadCut(bytes, at);
            EXPECT_EQ(cut.headerLength, whole.headerLength);
            EXPECT_EQ(cut.body, bytes.substr(whole.headerLength, at - whole.headerLength));
        }
        // And a byte at a time.
        CHttpAnswer single(4096);
        for (char c : bytes)
            single.Take(&c, 1);
        EXPECT_EQ(single.HeaderLength(), whole.headerLength);
        EXPECT_EQ(single.BodyLength(), 0u) << "no byte after the header is taken";
    }
    CReading redirect = ReadCut(answers[0], 7);
    EXPECT_EQ(redirect.status, 302);
    EXPECT_EQ(redirect.reason, "Found");
    EXPECT_EQ(redirect.location, "http://127.0.0.1:8000/live");
    EXPECT_EQ(redirect.length, 4);
    EXPECT_EQ(redirect.body, "body");
    EXPECT_EQ(ReadCut(answers[2], 3).name, " After Blank Lines");
    EXPECT_EQ(ReadCut(answers[2], 3).body, std::string("\0audio", 6));
}

TEST(HttpAnswer, TheFirstBlankLineEndsTheHeaderInEitherForm)
{
    // Bare line feeds: a CR LF CR LF in the audio after them is audio.
    CHttpAnswer lf = Whole("ICY 200 OK\nicy-name:x\n\n\r\n\r\nmore");
    EXPECT_EQ(lf.HeaderLength(), 23u);
    EXPECT_EQ(std::string(lf.Body(), lf.BodyLength()), "\r\n\r\nmore");
    // CR LF lines, and the mixed "\n\r\n" that ends them.
    EXPECT_EQ(Whole("HTTP/1.0 200 OK\r\nA: 1\r\n\r\nbody").HeaderLength(), 25u);
    EXPECT_EQ(Whole("HTTP/1.0 200 OK\nA: 1\n\r\nbody").HeaderLength(), 23u);
    EXPECT_EQ(Whole("HTTP/1.0 200 OK\n\nfirst\r\n\r\nsecond").HeaderLength(), 17u);
    // A CR alone ends no line; without a blank line the header goes on.
    EXPECT_EQ(Whole("ICY 200 OK\r\r\nA: 1\r\r\r\nB").State(), HTTP_ANSWER_STATUS);
    EXPECT_EQ(Whole("ICY 200 OK\r\nA: 1\r\n").State(), HTTP_ANSWER_STATUS);
    EXPECT_EQ(Whole("ICY 200 OK").State(), HTTP_ANSWER_PARTIAL);
    // Once the header has ended, further bytes are not taken.
    CHttpAnswer ended = Whole("ICY 200 OK\r\n\r\nab");
    EXPECT_EQ(ended.Take("cd", 2), HTTP_ANSWER_COMPLETE);
    EXPECT_EQ(std::string(ended.Body(), ended.BodyLength()), "ab");
}

TEST(HttpAnswer, TheStatusLine)
{
    EXPECT_EQ(Whole("ICY 404 Resource Not Found\r\n").Status(), 404);
    EXPECT_STREQ(Whole("ICY 404 Resource Not Found\r\n").Reason(), "Resource Not Found");
    // The reason is never taken from the next line.
    EXPECT_STREQ(Whole("ICY 404\r\nicy-name:Next Line\r\n\r\n").Reason(), "");
    EXPECT_EQ(Whole("HTTP/1.1 2000 OK\r\n\r\n").Status(), 2000);
    // No code: no answer, however the header goes on.
    EXPECT_EQ(Whole("<html>no status line</html>\r\n\r\n").State(), HTTP_ANSWER_BAD);
    EXPECT_EQ(Whole(Bytes("ICY\0 200 OK\r\n\r\n")).State(), HTTP_ANSWER_BAD);
    EXPECT_EQ(Whole("\r\n\r\n").State(), HTTP_ANSWER_PARTIAL) << "blank lines alone are no status line yet";
}

TEST(HttpAnswer, AStatusLineOrHeaderIsRefusedAtItsLimitNotBefore)
{
    std::string line(CHttpAnswer::STATUS_LINE_MAX - 1, 'x');
    CHttpAnswer endless(65536);
    EXPECT_EQ(endless.Take(line.data(), line.size()), HTTP_ANSWER_PARTIAL);
    EXPECT_EQ(endless.Take("x", 1), HTTP_ANSWER_BAD);
    // A status line whose end lies beyond the limit, in one piece.
    EXPECT_EQ(Whole("ICY 200 " + std::string(4096, 'r') + "\r\n\r\n", 65536).State(), HTTP_ANSWER_BAD);

    // The header's limit counts from the first byte to the end of its blank line.
    const std::string start = "ICY 200 OK\r\n";
    std::string filler(4096 - start.size() - 4, 'h');
    EXPECT_EQ(Whole(start + filler + "\r\n\r\naudio").HeaderLength(), 4096u);
    EXPECT_EQ(Whole(start + filler + "h\r\n\r\naudio").State(), HTTP_ANSWER_BAD);
    CHttpAnswer header(4096);
    std::string first = start + filler + "\r\n\r";
    EXPECT_EQ(header.Take(first.data(), first.size()), HTTP_ANSWER_STATUS);
    EXPECT_EQ(header.Take("h", 1), HTTP_ANSWER_BAD);
    // A bad answer takes nothing more.
    EXPECT_EQ(header.Take("\r\n\r\n", 4), HTTP_ANSWER_BAD);
}

TEST(HttpAnswer, AWholeStatusLineIsKeptWhenTheHeaderAfterItGoesBad)
{
    CHttpAnswer tooLong = Whole("HTTP/1.0 404 Not Found\r\nX-Filler: " + std::string(5000, 'y'));
    EXPECT_EQ(tooLong.State(), HTTP_ANSWER_BAD);
    EXPECT_EQ(tooLong.Status(), 404);
    EXPECT_STREQ(tooLong.Reason(), "Not Found");
    EXPECT_EQ(Whole("no status code\r\n\r\n").Status(), 0);
    EXPECT_EQ(Whole(std::string(5000, 'x')).Status(), 0);
}

TEST(HttpAnswer, ValuesByNameFirstLineWins)
{
    const std::string header = "ICY 200 OK\r\nICY-NAME: Blank First\r\nicy-name:Second\r\nicy-metaint:8192\r\n"
                               "x-icy-genre:no\r\nicy-genre-extra:no\r\nicy-br :no\r\n\r\n";
    EXPECT_EQ(ValueOf(header, "icy-name"), " Blank First");
    EXPECT_EQ(ValueOf(header, "icy-metaint"), "8192");
    EXPECT_EQ(ValueOf(header, "icy-genre"), "(none)") << "the name starts its line and ends at the colon";
    EXPECT_EQ(ValueOf(header, "icy-br"), "(none)");
    EXPECT_EQ(ValueOf(header, "content-type"), "(none)");
    EXPECT_EQ(ValueOf("ICY 200 OK\nicy-name:\n\n", "icy-name"), "");
    // A zero byte ends the value; the status line is no header line.
    EXPECT_EQ(ValueOf(Bytes("ICY 200 OK\r\nicy-name:ab\0cd\r\n\r\n"), "icy-name"), "ab");
    EXPECT_EQ(ValueOf("icy-name: 200 OK\r\n\r\n", "icy-name"), "(none)");
    // Nothing is told before the header is complete.
    std::string value = "(none)";
    EXPECT_FALSE(Whole("ICY 200 OK\r\nicy-name:x\r\n").Value("icy-name", &value));
}

TEST(HttpAnswer, ContentLengthOnlyWhenItIsOnePlainNumber)
{
    auto length = [](const std::string& lines) { return Whole("HTTP/1.0 200 OK\r\n" + lines + "\r\n").ContentLength(); };
    EXPECT_EQ(length(""), -1);
    EXPECT_EQ(length("Content-Length: 0\r\n"), 0);
    EXPECT_EQ(length("content-length:\t1234 \r\n"), 1234);
    EXPECT_EQ(length("Content-Length: 12\r\nContent-Length: 12\r\n"), 12);
    EXPECT_EQ(length("Content-Length: 12\r\nContent-Length: 13\r\n"), -1);
    EXPECT_EQ(length("Content-Length: 12abc\r\n"), -1);
    EXPECT_EQ(length("Content-Length: -5\r\n"), -1);
    EXPECT_EQ(length("Content-Length: 1 2\r\n"), -1);
    EXPECT_EQ(length("Content-Length:\r\n"), -1);
    EXPECT_EQ(length("Content-Length: 999999999999999999\r\n"), 999999999999999999LL);
    EXPECT_EQ(length("Content-Length: 9999999999999999999\r\n"), -1);
}

TEST(HttpAnswer, LocationAsTheStreamReaderFollowsIt)
{
    EXPECT_EQ(LocationOf("HTTP/1.0 302 Found\r\nLocation:   /next\r\n\r\n"), "/next");
    EXPECT_EQ(LocationOf("HTTP/1.0 302 Found\nLocation:http://a/\nLocation: http://b/\n\n"), "http://a/");
    EXPECT_EQ(LocationOf("HTTP/1.0 302 Found\r\nlocation: http://a/\r\n\r\n"), "(none)");
    EXPECT_EQ(LocationOf("HTTP/1.0 302 Found\r\nContent-Location: http://a/\r\n\r\n"), "(none)");
    EXPECT_EQ(LocationOf("HTTP/1.0 302 Found\r\nLocation: \r\n\r\n"), "(none)");
    EXPECT_EQ(LocationOf("HTTP/1.0 302 Found\r\n\r\n"), "(none)");
    std::string longest = "http://a/" + std::string(HTTP_LOCATION_MAX - 9, 'p');
    EXPECT_EQ(LocationOf("HTTP/1.0 302 Found\r\nLocation: " + longest + "\r\n\r\n"), longest);
    EXPECT_EQ(LocationOf("HTTP/1.0 302 Found\r\nLocation: " + longest + "p\r\n\r\n"), "(none)");
}

TEST(HttpAnswer, TheKindIsReadFromTheHeaderOnly)
{
    EXPECT_EQ(Whole("HTTP/1.0 200 OK\r\ncontent-type:AUDIO/X-MPEGURL; charset=utf-8\r\n\r\n").Kind(), ANSWER_M3U);
    EXPECT_EQ(Whole("HTTP/1.0 200 OK\r\nContent-Type: audio/x-scpls\r\n\r\n").Kind(), ANSWER_PLS);
    EXPECT_EQ(Whole("HTTP/1.0 200 OK\nContent-Type:\taudio/mpegurl\n\n").Kind(), ANSWER_M3U);
    EXPECT_EQ(Whole("ICY 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n").Kind(), ANSWER_AUDIO);
    // Only a line named Content-Type counts.
    EXPECT_EQ(Whole("ICY 200 OK\r\nicy-name: audio/x-scpls\r\n\r\n").Kind(), ANSWER_AUDIO);
    EXPECT_EQ(Whole("ICY 200 OK\r\nX-Content-Type: audio/x-scpls\r\n\r\n").Kind(), ANSWER_AUDIO);
    EXPECT_EQ(Whole("ICY 200 OK\r\n\r\n").Kind(), ANSWER_AUDIO);
    EXPECT_EQ(Whole("ICY 200 OK\r\ncontent-type: audio/aacp\r\n\r\n").Kind(), ANSWER_AAC);
    EXPECT_EQ(Whole("ICY 200 OK\r\n\r\ncontent-type: audio/aacp\r\n").Kind(), ANSWER_AUDIO);
    EXPECT_EQ(Whole("ICY 200 OK\r\ncontent-type: audio/aacp\r\n").Kind(), ANSWER_AUDIO) << "not before it is complete";
}
