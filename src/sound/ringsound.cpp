#include "sound/ringsound.h"

#include "settings/settingsstore.h"
#include "shell/forms.h"
#include "shell/frmmain.h"

#include <QCoreApplication>
#include <QStringList>

#if defined(QUILLORA_HAVE_MULTIMEDIA)
#include <QAudioDevice>
#include <QMediaDevices>
#include <QPointer>
#include <QSoundEffect>
#include <QUrl>
#elif defined(Q_OS_WIN)
#include <QFile>
// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on
#endif

namespace ringsound {

namespace {

// Calls that have had their ring, newest last. A call's messages come close together,
// so a few are enough to know one shown again.
constexpr int RememberedCalls = 16;

// Said once in the log where there is no audio output; calls then go on silently.
void sayNoOutput()
{
    static bool said = false;
    if (said)
        return;
    said = true;
    if (FrmMain* main = forms::loadedOrNull<FrmMain>())
        main->txtOut(QStringLiteral("Ring sound: no audio output."));
}

#if defined(QUILLORA_HAVE_MULTIMEDIA)

// The one sound effect of the run, made on first use; none where there is no audio
// output. It belongs to the application so that it goes before the audio system does.
void play()
{
    static QPointer<QSoundEffect> effect;
    static bool noOutput = false;
    if (!effect && !noOutput) {
        if (QMediaDevices::defaultAudioOutput().isNull()) {
            noOutput = true;
            sayNoOutput();
            return;
        }
        effect = new QSoundEffect(QCoreApplication::instance());
        effect->setSource(QUrl(QStringLiteral("qrc:/quillora/sound/ring.wav")));
    }
    if (effect && !effect->isPlaying())
        effect->play();
}

#elif defined(Q_OS_WIN)

// Windows' own sound API plays the wave from memory, in the background; it yields to a
// ring that still plays. The wave stays loaded for as long as it may play.
void play()
{
    if (waveOutGetNumDevs() == 0) {
        sayNoOutput();
        return;
    }
    static const QByteArray wave = [] {
        QFile file(QStringLiteral(":/quillora/sound/ring.wav"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    if (!wave.isEmpty())
        PlaySoundW(reinterpret_cast<LPCWSTR>(wave.constData()), nullptr,
                   SND_MEMORY | SND_ASYNC | SND_NODEFAULT | SND_NOSTOP);
}

#else

void play()
{
    sayNoOutput();
}

#endif

} // namespace

void callShown(const QString& callKey)
{
    if (!SettingsStore::isOn(GetSetting(SettingsStore::ClientRingSound)))
        return;
    static QStringList rung;
    if (rung.contains(callKey))
        return;
    // A call that comes while another's ring still plays has had its ring too.
    rung.append(callKey);
    if (rung.size() > RememberedCalls)
        rung.removeFirst();
    play();
}

} // namespace ringsound
