#include "sound/ringsound.h"

#include "settings/settingsstore.h"

#ifdef QUILLORA_HAVE_MULTIMEDIA
#include "shell/forms.h"
#include "shell/frmmain.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QPointer>
#include <QSoundEffect>
#include <QStringList>
#include <QUrl>
#endif

namespace ringsound {

#ifdef QUILLORA_HAVE_MULTIMEDIA
namespace {

// Calls that have had their ring, newest last. A call's messages come close together,
// so a few are enough to know one shown again.
constexpr int RememberedCalls = 16;

struct Ringer {
    QStringList rung;
    QPointer<QSoundEffect> effect;
    bool noOutput = false;
};

Ringer& ringer()
{
    static Ringer instance;
    return instance;
}

// The one sound effect of the run, made on first use; none where there is no audio
// output, which is said once in the log and then calls go on silently. It belongs to the
// application so that it goes before the audio system does.
QSoundEffect* effect()
{
    Ringer& r = ringer();
    if (!r.effect && !r.noOutput) {
        if (QMediaDevices::defaultAudioOutput().isNull()) {
            r.noOutput = true;
            if (FrmMain* main = forms::loadedOrNull<FrmMain>())
                main->txtOut(QStringLiteral("Ring sound: no audio output."));
            return nullptr;
        }
        r.effect = new QSoundEffect(QCoreApplication::instance());
        r.effect->setSource(QUrl(QStringLiteral("qrc:/quillora/sound/ring.wav")));
    }
    return r.effect;
}

} // namespace

void callShown(const QString& callKey)
{
    if (!SettingsStore::isOn(GetSetting(SettingsStore::ClientRingSound)))
        return;
    Ringer& r = ringer();
    if (r.rung.contains(callKey))
        return;
    // A call that comes while another's ring still plays has had its ring too.
    r.rung.append(callKey);
    if (r.rung.size() > RememberedCalls)
        r.rung.removeFirst();
    QSoundEffect* sound = effect();
    if (sound && !sound->isPlaying())
        sound->play();
}

#else

void callShown(const QString& callKey)
{
    Q_UNUSED(callKey)
}

#endif

} // namespace ringsound
