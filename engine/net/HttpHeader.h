// Parsing of a server's answer: the status line, the header block's end and its redirect target.
#pragma once

#include <cstddef>

#define HTTP_REASON_MAX 255
#define HTTP_LOCATION_MAX 255

// Position of needle in the first len bytes of data, or -1. Unlike strstr it is not stopped by
// a zero byte in audio that arrived together with the header.
int FindBytes(const char* data, int len, const char* needle);
// Length of the header block including its blank line, or -1 while it is incomplete.
int FindHeaderEnd(const char* data, int len);
// The first line of data (len bytes): a word, the status code, then the reason phrase up to the
// line's end (empty when there is none; never taken from the next line). 1 when a code was found.
int ParseStatusLine(const char* data, int len, int* status, char reason[HTTP_REASON_MAX + 1]);
// The target of the first "Location: " line in the header block (len bytes). 0 when there is no
// such line or its value is empty; a value longer than HTTP_LOCATION_MAX is no target either.
int ParseLocation(const char* data, int len, char target[HTTP_LOCATION_MAX + 1]);

enum
{
    ANSWER_AUDIO,
    ANSWER_PLS, // Content-Type audio/x-scpls
    ANSWER_M3U, // Content-Type audio/x-mpegurl or audio/mpegurl
    ANSWER_AAC  // Content-Type audio/aac, audio/aacp or audio/x-aac
};
// What the header block (len bytes) says its body is, by its Content-Type line (the name in any
// case, parameters after ';' aside): a playlist of one kind or the other, AAC audio, or other
// audio (also when there is no such line).
int AnswerKind(const char* data, int len);
