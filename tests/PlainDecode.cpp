// Bare libmad and FAAD2 decode loops over a whole stream.
#include "PlainDecode.h"

#include <neaacdec.h>

#include <cstring>
#include <vector>

namespace
{
bool IsTagFrame(const struct mad_header& header, const unsigned char* frame, const unsigned char* end)
{
    bool mono = header.mode == MAD_MODE_SINGLE_CHANNEL;
    size_t sideInfo = header.flags & MAD_FLAG_LSF_EXT ? (mono ? 9 : 17) : (mono ? 17 : 32);
    size_t at = 4 + (header.flags & MAD_FLAG_PROTECTION ? 2 : 0) + sideInfo;
    return header.layer == MAD_LAYER_III && static_cast<size_t>(end - frame) >= at + 4 &&
           (memcmp(frame + at, "Xing", 4) == 0 || memcmp(frame + at, "Info", 4) == 0);
}
} // namespace

void PlainDecode(const std::string& bytes, const std::function<void(const struct mad_header&, const struct mad_pcm&)>& onFrame)
{
    std::vector<unsigned char> data(bytes.begin(), bytes.end());
    data.resize(data.size() + MAD_BUFFER_GUARD, 0);
    struct mad_stream stream;
    struct mad_frame frame;
    struct mad_synth synth;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
    mad_stream_buffer(&stream, data.data(), data.size());
    for (;;) {
        if (mad_frame_decode(&frame, &stream) != 0) {
            if (MAD_RECOVERABLE(stream.error))
                continue;
            break;
        }
        if (IsTagFrame(frame.header, stream.this_frame, stream.bufend))
            continue;
        mad_synth_frame(&synth, &frame);
        onFrame(frame.header, synth.pcm);
    }
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
}

void PlainAacDecode(const std::string& bytes,
                    const std::function<void(unsigned rate, const float* samples, unsigned frames, unsigned channels)>& onFrame)
{
    unsigned char* data = reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()));
    unsigned long size = static_cast<unsigned long>(bytes.size());
    NeAACDecHandle decoder = NeAACDecOpen();
    NeAACDecConfigurationPtr config = NeAACDecGetCurrentConfiguration(decoder);
    config->outputFormat = FAAD_FMT_FLOAT;
    NeAACDecSetConfiguration(decoder, config);
    unsigned long sampleRate = 0;
    unsigned char channels = 0;
    long skip = NeAACDecInit(decoder, data, size, &sampleRate, &channels);
    for (unsigned long at = skip < 0 ? size : static_cast<unsigned long>(skip); at < size;) {
        NeAACDecFrameInfo info;
        void* samples = NeAACDecDecode(decoder, &info, data + at, size - at);
        if (info.bytesconsumed == 0)
            break;
        at += info.bytesconsumed;
        if (info.error == 0 && samples != NULL && info.channels > 0 && info.samples > 0)
            onFrame(static_cast<unsigned>(info.samplerate), static_cast<const float*>(samples),
                    static_cast<unsigned>(info.samples / info.channels), info.channels);
    }
    NeAACDecClose(decoder);
}
