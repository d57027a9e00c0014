// HLS list parsing: tags and their attribute lists, bounded, with addresses resolved against the list's own.
#include "engine/hls/HlsPlaylist.h"

#include <cstdlib>
#include <cstring>

#include "engine/net/HttpUrl.h"
#include "engine/playlist/M3uPlaylist.h"

namespace
{
const char* SkipBom(const char* text)
{
    return strncmp(text, "\xEF\xBB\xBF", 3) == 0 ? text + 3 : text;
}

bool StartsWith(const std::string& line, const char* prefix)
{
    return line.compare(0, strlen(prefix), prefix) == 0;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The value of name in an attribute list (NAME=value,NAME="quoted, value"), quotes taken off.
bool Attribute(const std::string& list, const char* name, std::string* value)
{
    size_t nameLen = strlen(name);
    for (size_t at = 0; at < list.size();) {
        size_t equals = list.find('=', at);
        if (equals == std::string::npos)
            return false;
        size_t start = list.find_first_not_of(" \t", at);
        bool match = equals - start == nameLen && list.compare(start, nameLen, name) == 0;
        size_t end;
        if (equals + 1 < list.size() && list[equals + 1] == '"') {
            size_t close = list.find('"', equals + 2);
            if (close == std::string::npos)
                close = list.size();
            if (match)
                *value = list.substr(equals + 2, close - equals - 2);
            end = list.find(',', close);
        } else {
            end = list.find(',', equals);
            if (match) {
                *value = list.substr(equals + 1, (end == std::string::npos ? list.size() : end) - equals - 1);
                size_t last = value->find_last_not_of(" \t");
                value->erase(last == std::string::npos ? 0 : last + 1);
            }
        }
        if (match)
            return true;
        if (end == std::string::npos)
            return false;
        at = end + 1;
    }
    return false;
}

unsigned long long Number(const std::string& text)
{
    unsigned long long value = 0;
    size_t at = text.find_first_not_of(" \t");
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (value > 0xFFFFFFFFFFFFFull / 10)
            break;
        value = value * 10 + static_cast<unsigned>(text[at] - '0');
    }
    return value;
}

// A decimal duration in seconds, as milliseconds; bounded at a day.
unsigned DurationMs(const std::string& text)
{
    double seconds = strtod(text.c_str(), NULL);
    if (!(seconds > 0))
        return 0;
    if (seconds > 86400)
        seconds = 86400;
    return static_cast<unsigned>(seconds * 1000 + 0.5);
}

bool ParseIv(const std::string& text, unsigned char iv[16])
{
    if (text.size() != 34 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return false;
    for (int i = 0; i < 16; ++i) {
        unsigned value = 0;
        for (int h = 0; h < 2; ++h) {
            char c = text[2 + 2 * i + h];
            int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0)
                return false;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        iv[i] = static_cast<unsigned char>(value);
    }
    return true;
}

enum
{
    CODECS_PLAYABLE, // a codec of AAC or MPEG audio among them
    CODECS_UNKNOWN,  // none given
    CODECS_NONE      // only codecs that nothing here decodes (video, other audio)
};

int CodecClass(bool hasCodecs, const std::string& codecs)
{
    if (!hasCodecs)
        return CODECS_UNKNOWN;
    static const char* const PLAYABLE[] = {"mp4a.40.2", "mp4a.40.5", "mp4a.40.29", "mp4a.40.34", "mp4a.6b", "mp4a.69"};
    std::string lower = Lower(codecs);
    for (size_t at = 0; at <= lower.size();) {
        size_t comma = lower.find(',', at);
        if (comma == std::string::npos)
            comma = lower.size();
        size_t first = lower.find_first_not_of(" \t", at);
        size_t last = lower.find_last_not_of(" \t", comma - 1);
        if (first != std::string::npos && first < comma && last != std::string::npos && last >= first) {
            std::string codec = lower.substr(first, last - first + 1);
            for (const char* playable : PLAYABLE)
                if (codec == playable)
                    return CODECS_PLAYABLE;
        }
        at = comma + 1;
    }
    return CODECS_NONE;
}
} // namespace

CHlsPlaylist::CHlsPlaylist() : m_targetMs(0), m_sequence(0), m_ended(false)
{
}

bool CHlsPlaylist::IsHlsAnswer(bool listType, const char* address, const char* text)
{
    if (text == NULL || (!listType && !AddressPathEndsWith(address, ".m3u8")))
        return false;
    const char* start = SkipBom(text);
    start += strspn(start, " \t\r\n");
    return strncmp(start, "#EXTM3U", 7) == 0 && IsHlsPlaylist(text);
}

bool CHlsPlaylist::Parse(const std::string& text, const char* address)
{
    *this = CHlsPlaylist();
    if (text.size() > HLS_LIST_MAX)
        return false;
    const char* start = SkipBom(text.c_str());
    start += strspn(start, " \t\r\n");
    if (strncmp(start, "#EXTM3U", 7) != 0)
        return false;
    bool pendingVariant = false;
    CVariant variant;
    CHlsSegment segment = CHlsSegment();
    segment.key.method = HLS_KEY_NONE;
    unsigned long long index = 0;
    for (const char* line = start; *line != '\0';) {
        size_t length = strcspn(line, "\n");
        const char* next = line[length] == '\n' ? line + length + 1 : line + length;
        if (length > HLS_LINE_MAX) {
            line = next;
            continue;
        }
        std::string text(line, length);
        line = next;
        size_t first = text.find_first_not_of(" \t\r");
        size_t last = text.find_last_not_of(" \t\r");
        if (first == std::string::npos)
            continue;
        text = text.substr(first, last - first + 1);
        if (text[0] != '#') {
            std::string uri = ResolveAddress(address, text.c_str());
            if (pendingVariant) {
                pendingVariant = false;
                variant.uri = uri;
                if (!uri.empty() && m_variants.size() < HLS_VARIANTS_MAX)
                    m_variants.push_back(variant);
                continue;
            }
            segment.uri = uri;
            segment.sequence = m_sequence + index++;
            if (!uri.empty())
                m_segments.push_back(segment);
            // A window longer than the cap keeps its newest segments: the live edge is what plays.
            if (m_segments.size() > HLS_SEGMENTS_MAX)
                m_segments.erase(m_segments.begin());
            segment.durationMs = 0;
            segment.title.clear();
            segment.discontinuity = false;
            continue;
        }
        std::string value;
        size_t colon = text.find(':');
        std::string attributes = colon == std::string::npos ? std::string() : text.substr(colon + 1);
        if (StartsWith(text, "#EXT-X-STREAM-INF:")) {
            variant = CVariant();
            variant.bandwidth = Attribute(attributes, "BANDWIDTH", &value) ? Number(value) : 0;
            variant.hasCodecs = Attribute(attributes, "CODECS", &variant.codecs);
            Attribute(attributes, "AUDIO", &variant.audioGroup);
            Attribute(attributes, "NAME", &variant.name);
            pendingVariant = true;
        } else if (StartsWith(text, "#EXT-X-MEDIA:")) {
            if (Attribute(attributes, "TYPE", &value) && value == "AUDIO" && m_renditions.size() < HLS_VARIANTS_MAX) {
                CRendition rendition;
                Attribute(attributes, "GROUP-ID", &rendition.group);
                Attribute(attributes, "NAME", &rendition.name);
                if (Attribute(attributes, "URI", &value))
                    rendition.uri = ResolveAddress(address, value.c_str());
                rendition.isDefault = Attribute(attributes, "DEFAULT", &value) && value == "YES";
                m_renditions.push_back(rendition);
            }
        } else if (StartsWith(text, "#EXT-X-TARGETDURATION:")) {
            unsigned long long seconds = Number(attributes);
            m_targetMs = static_cast<unsigned>(seconds > 86400 ? 86400000 : seconds * 1000);
        } else if (StartsWith(text, "#EXT-X-MEDIA-SEQUENCE:")) {
            m_sequence = Number(attributes);
        } else if (StartsWith(text, "#EXTINF:")) {
            size_t comma = attributes.find(',');
            segment.durationMs = DurationMs(attributes.substr(0, comma));
            segment.title = comma == std::string::npos ? std::string() : attributes.substr(comma + 1);
        } else if (text == "#EXT-X-DISCONTINUITY") {
            segment.discontinuity = true;
        } else if (StartsWith(text, "#EXT-X-KEY:")) {
            CHlsKey key = CHlsKey();
            Attribute(attributes, "METHOD", &value);
            key.method = value == "NONE" ? HLS_KEY_NONE : value == "AES-128" ? HLS_KEY_AES128
                                                        : value == "SAMPLE-AES" ? HLS_KEY_SAMPLE_AES : HLS_KEY_OTHER;
            if (Attribute(attributes, "URI", &value))
                key.uri = ResolveAddress(address, value.c_str());
            key.hasIv = Attribute(attributes, "IV", &value) && ParseIv(value, key.iv);
            segment.key = key;
        } else if (StartsWith(text, "#EXT-X-MAP:")) {
            segment.mapUri = Attribute(attributes, "URI", &value) ? ResolveAddress(address, value.c_str()) : std::string();
            segment.mapKey = segment.key;
        } else if (text == "#EXT-X-ENDLIST") {
            m_ended = true;
        }
    }
    return true;
}

const CHlsPlaylist::CRendition* CHlsPlaylist::RenditionOf(const std::string& group, bool withUri) const
{
    const CRendition* found = NULL;
    for (const CRendition& rendition : m_renditions) {
        if (rendition.group != group || (withUri && rendition.uri.empty()))
            continue;
        if (rendition.isDefault)
            return &rendition;
        if (found == NULL)
            found = &rendition;
    }
    return found;
}

bool CHlsPlaylist::ChooseAudio(std::string* uri, std::string* name) const
{
    const CVariant* best = NULL;
    int bestClass = CODECS_NONE;
    for (const CVariant& variant : m_variants) {
        int codecClass = CodecClass(variant.hasCodecs, variant.codecs);
        if (codecClass == CODECS_NONE || codecClass > bestClass)
            continue;
        if (best == NULL || codecClass < bestClass) {
            best = &variant;
            bestClass = codecClass;
            continue;
        }
        // Of two at or below the preferred bandwidth the higher, of two above it the lower, and
        // one at or below it before any above.
        bool fits = variant.bandwidth <= HLS_BANDWIDTH_PREFERRED;
        bool bestFits = best->bandwidth <= HLS_BANDWIDTH_PREFERRED;
        if (fits != bestFits ? fits : fits ? variant.bandwidth > best->bandwidth : variant.bandwidth < best->bandwidth)
            best = &variant;
    }
    if (best == NULL)
        return false;
    // The audio comes from the group's rendition that has a list of its own, or else with the
    // variant; the group names the station either way.
    const CRendition* listed = best->audioGroup.empty() ? NULL : RenditionOf(best->audioGroup, true);
    const CRendition* named = best->audioGroup.empty() ? NULL : RenditionOf(best->audioGroup, false);
    *uri = listed != NULL ? listed->uri : best->uri;
    if (listed != NULL && !listed->name.empty())
        *name = listed->name;
    else
        *name = named != NULL && !named->name.empty() ? named->name : best->name;
    return true;
}
