#pragma once
// The click of the custom buttons. Where no audio output exists (a server, a test run) it
// stays silent and says nothing: the audio layer is asked once, quietly, and never again.

#include <memory>

class QSoundEffect;

class CClickSound {
public:
    CClickSound();
    ~CClickSound();
    CClickSound(const CClickSound&) = delete;
    CClickSound& operator=(const CClickSound&) = delete;

    // Starts the sound and returns at once.
    void Play();
    // Whether an audio output was found (asks the audio layer on first use).
    bool IsAvailable();

private:
    enum class State { Unknown, Silent, Ready };
    State state_ = State::Unknown;
    std::unique_ptr<QSoundEffect> effect_;
};
