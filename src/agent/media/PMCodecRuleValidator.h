// The device codec rules, all of one shape and told apart by data: a video precondition,
// optional picture-size and frame-rate limits, and an audio test.
//
//   PMCodecRuleValidator rule({"PMH264LowCodecValidator", VideoPrecondition::VideoWithCodec, 1,
//                              Limits{640, 480, 30}, {1}, 48000, 2});
//
// Deciding, in order: precondition fails (the file must have opened) → no match; copy := no;
// over a limit → match, not copied; no sound track → copied; otherwise copied when one audio
// entry passes the audio test. Immutable after construction; any thread.
#pragma once

#include "agent/media/PMCodecValidator.h"

#include <optional>
#include <vector>

class PMCodecRuleValidator final : public PMCodecValidator {
public:
    enum class VideoPrecondition {
        VideoWithCodec, // an enabled video track whose codec is videoCodec
        NoVideo, // no enabled video track
        NoVideoOrVideoCodec, // no enabled video, or video whose codec is videoCodec
    };

    struct Limits {
        int maxWidth;
        int maxHeight;
        int maxFrameRate;
    };

    struct Definition {
        const char *name;
        VideoPrecondition precondition;
        int videoCodec; // unused for NoVideo
        std::optional<Limits> limits;
        std::vector<int> audioCodecs;
        std::optional<float> maxSampleRate; // hertz, inclusive
        std::optional<int> maxChannels; // inclusive
    };

    explicit PMCodecRuleValidator(Definition definition);

    bool matchCharacterization(const MediaFileCharacterization &characterization, bool &shouldCopy) const override;
    // Refused over a limit: picture size or frame rate; refused on sound: the property the
    // first audio entry failed on (codec, then sample rate, then channels).
    bool matchCharacterization(
        const MediaFileCharacterization &characterization, bool &shouldCopy, PMFilterRefusal &why) const override;
    QString name() const override;
    const Definition &definition() const { return m_definition; }

private:
    bool preconditionHolds(const MediaFileCharacterization &characterization) const;
    // The property the entry fails the audio test on; None when it passes.
    PMFilterRefusal::Property audioEntryFailure(const MediaFileAudioEntry &entry) const;
    bool decide(const MediaFileCharacterization &characterization, bool &shouldCopy, PMFilterRefusal *why) const;

    Definition m_definition;
};
