// Reading ADTS and MPEG audio frame headers.
#include "engine/frame/FrameHeader.h"

namespace
{
const unsigned ADTS_RATES[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                 22050, 16000, 12000, 11025, 8000,  7350};
const unsigned ADTS_MAX_FRAME = 8191;

// Bit rates in kbit/s by version group and layer: [MPEG-1 | MPEG-2/2.5][layer I, II, III][index].
const unsigned short MPEG_BITRATES[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
const unsigned MPEG_RATES[3] = {44100, 48000, 32000};
} // namespace

bool ParseAdtsHeader(const unsigned char* data, size_t len, CAdtsHeader* header)
{
    if (len < 7 || data[0] != 0xFF || (data[1] & 0xF6) != 0xF0)
        return false; // sync word, then layer 00
    unsigned rateIndex = (data[2] >> 2) & 0x0F;
    if (rateIndex >= 13)
        return false;
    header->headerLength = (data[1] & 0x01) ? 7 : 9;
    header->frameLength = ((data[3] & 0x03u) << 11) | (static_cast<unsigned>(data[4]) << 3) | (data[5] >> 5);
    header->sampleRate = ADTS_RATES[rateIndex];
    header->channels = ((data[2] & 0x01u) << 2) | (data[3] >> 6);
    header->profile = data[2] >> 6;
    return header->frameLength > header->headerLength && header->frameLength <= ADTS_MAX_FRAME;
}

bool IsSameAdtsFormat(const CAdtsHeader& a, const CAdtsHeader& b)
{
    return a.sampleRate == b.sampleRate && a.channels == b.channels && a.profile == b.profile;
}

unsigned MpegFrameLength(const unsigned char* data, size_t len)
{
    if (len < 4 || data[0] != 0xFF || (data[1] & 0xE0) != 0xE0)
        return 0;
    unsigned version = (data[1] >> 3) & 0x03; // 0: 2.5, 1: reserved, 2: 2, 3: 1
    unsigned layer = (data[1] >> 1) & 0x03;   // 1: III, 2: II, 3: I, 0: reserved
    unsigned bitrateIndex = data[2] >> 4;
    unsigned rateIndex = (data[2] >> 2) & 0x03;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return 0;
    unsigned layerIndex = 3 - layer; // 0: I, 1: II, 2: III
    unsigned bitrate = MPEG_BITRATES[version == 3 ? 0 : 1][layerIndex][bitrateIndex] * 1000;
    unsigned rate = MPEG_RATES[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    unsigned padding = (data[2] >> 1) & 0x01;
    if (layerIndex == 0)
        return (12 * bitrate / rate + padding) * 4;
    // MPEG-2 and 2.5 layer III frames hold half the samples of MPEG-1's.
    unsigned perSlot = layerIndex == 2 && version != 3 ? 72 : 144;
    return perSlot * bitrate / rate + padding;
}

bool IsSameMpegFormat(const unsigned char* a, const unsigned char* b)
{
    return (a[1] & 0xFE) == (b[1] & 0xFE) && (a[2] & 0x0C) == (b[2] & 0x0C);
}
