// The four-character sample-description type of an FFmpeg stream, as the codec tables expect.
//
// MOV-family files store the type and FFmpeg reports it as the codec tag; it is used as written,
// except for the generic object-type entries ("mp4v", "mp4a") that also carry other codecs.
// Other containers have no such type (or a foreign one), so it is derived from the codec id
// by one table: AVI Motion-JPEG is "dmb1", other Motion-JPEG "jpeg". A codec the table lacks
// keeps its tag (or 0), which the code tables then report as unknown. Pure and reentrant.
#pragma once

#include <QtGlobal>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace PMStreamSampleType {

enum class Container { MovFamily, Avi, Other };

// The container kind of an FFmpeg demuxer name ("mov,mp4,m4a,3gp,3g2,mj2", "avi", ...).
Container containerForDemuxer(const char *demuxerName);

// codecTag is FFmpeg's little-endian codec tag; the answer is a big-endian type ('avc1').
quint32 videoType(AVCodecID codecId, quint32 codecTag, Container container);
quint32 audioType(AVCodecID codecId, quint32 codecTag, Container container);

} // namespace PMStreamSampleType
