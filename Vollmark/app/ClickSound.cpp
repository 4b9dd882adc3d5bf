#include "app/ClickSound.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace {

// The audio layer complains on its first use when no sound server runs; a controller
// without a sound device has nothing to say about it.
void DropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

CClickSound::CClickSound() = default;

CClickSound::~CClickSound() = default;

bool CClickSound::IsAvailable()
{
    if (state_ == State::Unknown) {
        const QtMessageHandler previous = qInstallMessageHandler(DropMessage);
        const bool found = !QMediaDevices::audioOutputs().isEmpty();
        qInstallMessageHandler(previous);
        state_ = found ? State::Ready : State::Silent;
        if (found) {
            effect_ = std::make_unique<QSoundEffect>();
            effect_->setSource(QUrl(QStringLiteral("qrc:/click.wav")));
        }
    }
    return state_ == State::Ready;
}

void CClickSound::Play()
{
    if (IsAvailable())
        effect_->play();
}
