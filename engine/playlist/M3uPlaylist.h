// M3U lists (plain and extended): one address a line, relative ones resolved against the list's own.
#pragma once

#include <string>
#include <vector>

// True when an address names an M3U list: its path, without a query or a fragment, ends in
// ".m3u" or ".m3u8" in any case.
bool IsM3uAddress(const char* url);

// Replaces *entries with the list's http and https addresses, in order. Lines starting with '#'
// ("#EXTM3U", "#EXTINF") and blank lines are skipped, blanks around an entry ignored, CR/LF or LF
// line ends and a UTF-8 byte-order mark accepted; an entry relative to the list resolves against
// listUrl, and entries of other schemes are left out. False, with no entries, for an empty text
// (nothing was fetched); a text of comments alone is an empty list.
bool ParseM3uEntries(const char* text, const char* listUrl, std::vector<std::string>* entries);

// True for an HLS list: a line starts with an "#EXT-X-" tag (a media list's "#EXT-X-TARGETDURATION"
// or "#EXT-X-MEDIA-SEQUENCE", a master list's "#EXT-X-STREAM-INF"). Its entries are segments or
// variants of one station, not stations to play one by one.
bool IsHlsPlaylist(const char* text);
