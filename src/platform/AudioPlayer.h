#pragma once
// Plays an MP3 held in memory while it is still arriving.
//
// AudioData is the song's byte buffer: the song downloader appends to it, audio players
// read it. A player is given the buffer object itself (not a snapshot) and follows it as
// it grows: bytes appended while it plays are played too. The decoder is libmpg123 in
// feed mode; the samples go to the AudioOutput backend named by SONDREL_AUDIO_OUTPUT.
//
// Life of a player:
//   initWithData  fails with an error text when the bytes present cannot be decoded yet
//                 (too few, or not MP3); otherwise the player stands at time 0, stopped.
//   play          starts or continues from currentTime(). A player that reached the end of
//                 its data continues where it stopped when bytes arrived since, and starts
//                 again from the beginning when none did (a finished song replays).
//   end of data   once every byte present has been heard: the player stops by itself and
//                 the delegate gets audioPlayerDidFinishPlaying once.
//   output fails  (no sound device, or the device reports an error) the player logs
//                 "Audio output failed: <reason>" and stands stopped; nothing is sent.
//
// Threading: main thread only (the buffer is appended on the main thread too). Decoding
// runs in small steps from a timer of the main loop, a few milliseconds per second of sound.

#include "platform/AudioOutput.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>

struct mpg123_handle_struct;

namespace sondrel {

// The bytes of one song as they arrive. Main thread only.
struct AudioData {
    QByteArray bytes;
    // What the transfer announced as the whole length, or -1 when it did not say. Players
    // use it to know the full duration before the last byte is here.
    std::int64_t expectedLength = -1;
    // The HTTP status the bytes came with (0 when they did not come over HTTP). Bytes of
    // an error answer are not a song, and a failure to decode them says so.
    int httpStatus = 0;
};

class AudioPlayer;

class AudioPlayerDelegate {
public:
    virtual ~AudioPlayerDelegate() = default;
    // The player has played every byte it had and stopped. `successfully` is false when
    // the decoder met undecodable bytes on the way.
    virtual void audioPlayerDidFinishPlaying(AudioPlayer* player, bool successfully) = 0;
};

class AudioPlayer : public QObject {
    Q_OBJECT

public:
    explicit AudioPlayer(QObject* parent = nullptr);
    ~AudioPlayer() override;
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;

    // Opens the player on `data`. False, with `*error` set, when the bytes present hold no
    // decodable MP3 frame yet. `outputSpec` overrides SONDREL_AUDIO_OUTPUT (tests).
    bool initWithData(std::shared_ptr<const AudioData> data, QString* error,
                      const QString& outputSpec = {});

    virtual bool play();
    // Starts playing once the monotonic clock (deviceCurrentTime()) reaches `time`.
    virtual bool playAtTime(double time);
    virtual void pause();
    // Stops and closes the sound device; the position stays (play() goes on from it).
    virtual void stop();
    bool isPlaying() const { return playing; }
    // It stopped by itself after hearing every byte it had (cleared by play and seeks).
    bool reachedEnd() const { return atEnd; }
    // Bytes of the buffer it has not read yet (they arrived after it reached its end).
    bool hasUnreadBytes() const { return source && source->bytes.size() > fedBytes; }

    // What the listener has heard, in seconds. Setting it seeks sample-exactly; a time
    // beyond the song's end is taken as the end.
    double currentTime() const;
    void setCurrentTime(double seconds);
    // The whole song's length in seconds when the Xing/Info header or the expected length
    // tells it, otherwise the length of the bytes present.
    double duration() const;
    float volume() const { return level; }
    void setVolume(float volume);

    int sampleRate() const { return format.sampleRate; }
    int channels() const { return format.channels; }
    // The buffer this player reads.
    const std::shared_ptr<const AudioData>& data() const { return source; }

    void setDelegate(AudioPlayerDelegate* d) { delegate = d; }
    AudioPlayerDelegate* getDelegate() const { return delegate; }

    // The clock playAtTime() counts in: seconds since an arbitrary fixed moment.
    static double deviceCurrentTime();

private:
    bool startOutput();
    void closeOutput();
    void failOutput(const QString& reason);
    void pump();
    void finishPlaying();
    void fill();
    bool feedMore();
    void decodeInto(std::int64_t room);
    std::int64_t totalFrames() const;
    void seekToFrame(std::int64_t frame);

    // All fields: main thread.
    std::shared_ptr<const AudioData> source;
    mpg123_handle_struct* decoder = nullptr;
    std::unique_ptr<AudioOutput> output;
    QString outputSpecOverride;
    AudioFormat format;
    QTimer pumpTimer;
    QTimer startTimer;
    QByteArray pending;                   // decoded samples the output has not taken yet
    std::int64_t fedBytes = 0;            // bytes of `source` handed to the decoder
    std::int64_t baseFrame = 0;           // song frame heard at the output's frame 0
    std::int64_t decodedFrame = 0;        // song frame of the next decoded sample
    mutable std::int64_t knownFrames = 0; // the decoder's last answer on the song's length
    bool playing = false;
    bool atEnd = false;             // played everything it had and stopped by itself
    bool starvedAtLastPump = false; // the last top-up decoded every byte present
    bool decodeError = false;       // the decoder met undecodable bytes
    float level = 1.0f;
    AudioPlayerDelegate* delegate = nullptr; // not owned
};

} // namespace sondrel
