// Fragmented MP4 segments with AAC: the init segment's decoder config, then each sample as an ADTS frame.
#pragma once

#include <cstddef>
#include <string>

// Boxes nest at most this deep, and a fragment's runs hold at most this many samples in all.
#define FMP4_DEPTH_MAX 8
#define FMP4_SAMPLES_MAX 8192

class CFmp4Demuxer
{
public:
    CFmp4Demuxer();

    // The init segment (ftyp, moov): the first sound track's AAC config and its trex defaults.
    // False when it holds no AAC track that ADTS can carry (objects 1 to 4, or HE-AAC over LC, a
    // channel configuration of 1 to 7).
    bool Init(const unsigned char* data, size_t len);
    bool HasConfig() const { return m_track != 0; }
    // One media segment (moof and mdat pairs; a moov in it is read as an init): each sample of
    // the track, within the segment's bytes, appended to *audio as an ADTS frame.
    void Demux(const unsigned char* data, size_t len, std::string* audio);
    // Forgets the config: the next segment needs an init of its own.
    void Reset();

private:
    struct CFragment
    {
        bool ours;                     // the traf's tfhd names our track
        unsigned long long base;       // where its data offsets count from
        unsigned defaultSize;
        unsigned long long nextOffset; // where a run without a data offset starts
    };

    void Boxes(const unsigned char* data, size_t len, size_t from, size_t to, int depth, const char* parent,
               std::string* audio, size_t moofStart);
    void Traf(const unsigned char* data, size_t len, size_t from, size_t to, size_t moofStart, std::string* audio);
    bool AudioConfig(const unsigned char* p, size_t len);
    void AppendFrame(const unsigned char* sample, size_t size, std::string* audio) const;

    unsigned m_track;        // 0 until an init named the sound track
    unsigned m_candidate;    // the track whose boxes are being read in a moov
    unsigned m_trexSize;     // trex's default sample size for the track
    int m_profile;           // ADTS profile (object type - 1)
    int m_rateIndex;
    int m_channels;
    bool m_sound;            // the trak being read is a sound track
};
