// The numbered "File%d" entries of a PLS playlist, found the way the control has always found them.
#pragma once

#include <string>
#include <vector>

// True when an address names a PLS playlist: its path, without a query or a fragment, ends in
// ".pls" in any case ("listen.pls?sid=1" is one).
bool IsPlsAddress(const char* url);

// Replaces *entries with the playlist's entries. False, with no entries, when the text has no
// "NumberOfEntries" or no "=" after it.
bool ParsePlsEntries(const char* text, std::vector<std::string>* entries);
