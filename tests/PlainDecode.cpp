// A bare libmad decode loop over a whole stream.
#include "PlainDecode.h"

#include <vector>

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
        mad_synth_frame(&synth, &frame);
        onFrame(frame.header, synth.pcm);
    }
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
}
