// HLS lists: recognition, a master list's choice of one audio stream, and a media list's live window.
#pragma once

#include <string>
#include <vector>

// The most bytes of a list that are read, lines longer than this are skipped, and the most
// variants, renditions and segments a list keeps (of a longer window, the newest).
#define HLS_LIST_MAX 0x40000
#define HLS_LINE_MAX 4096
#define HLS_VARIANTS_MAX 64
#define HLS_SEGMENTS_MAX 1024
// The highest bandwidth chosen while a lower one is there to choose, in bit/s.
#define HLS_BANDWIDTH_PREFERRED 320000

enum EHlsKeyMethod
{
    HLS_KEY_NONE,
    HLS_KEY_AES128,
    HLS_KEY_SAMPLE_AES,
    HLS_KEY_OTHER
};

struct CHlsKey
{
    int method;
    std::string uri; // resolved
    bool hasIv;
    unsigned char iv[16];
};

struct CHlsSegment
{
    std::string uri; // resolved
    unsigned durationMs;
    std::string title;
    unsigned long long sequence;
    bool discontinuity; // the segment starts another stream
    CHlsKey key;
    std::string mapUri; // the fMP4 init segment (resolved), or empty
    CHlsKey mapKey;     // the key in force at the map's tag: the init segment's own encryption
};

class CHlsPlaylist
{
public:
    CHlsPlaylist();

    // True for an answer that holds an HLS list: a list's Content-Type (listType) or an address
    // ending ".m3u8", and a text that starts with "#EXTM3U" and holds "#EXT-X-" tags. A plain M3U
    // list at such an address stays a list of stations.
    static bool IsHlsAnswer(bool listType, const char* address, const char* text);

    // Reads the list found at address, against which its relative addresses resolve. False for
    // a text that does not start with "#EXTM3U" or is longer than HLS_LIST_MAX.
    bool Parse(const std::string& text, const char* address);

    bool IsMaster() const { return !m_variants.empty(); }
    // A master list's choice: the media list of the playable variant whose CODECS say AAC or
    // MPEG audio with the highest bandwidth up to HLS_BANDWIDTH_PREFERRED (else the lowest),
    // through its AUDIO group's rendition where that has a list of its own; variants without
    // CODECS only when none says so, video-only ones never. *name: the NAME of that rendition,
    // of the group's default one, or of the variant, or empty. False when nothing is playable.
    bool ChooseAudio(std::string* uri, std::string* name) const;

    // A media list's window.
    unsigned TargetDurationMs() const { return m_targetMs; }
    unsigned long long MediaSequence() const { return m_sequence; }
    const std::vector<CHlsSegment>& Segments() const { return m_segments; }
    bool HasEnded() const { return m_ended; }

private:
    struct CVariant
    {
        std::string uri;
        unsigned long long bandwidth;
        bool hasCodecs;
        std::string codecs;
        std::string audioGroup;
        std::string name;
    };
    struct CRendition
    {
        std::string group;
        std::string uri;
        std::string name;
        bool isDefault;
    };

    // The rendition of group (the default one first), one with a list of its own when withUri; or NULL.
    const CRendition* RenditionOf(const std::string& group, bool withUri) const;

    std::vector<CVariant> m_variants;
    std::vector<CRendition> m_renditions;
    unsigned m_targetMs;
    unsigned long long m_sequence;
    std::vector<CHlsSegment> m_segments;
    bool m_ended;
};
