#include "callsources.h"

#include "amisource.h"
#include "fritzboxsource.h"
#include "modemsource.h"
#include "printable.h"
#include "serverlog.h"

#include <utility>

namespace {

// What a line sends is shown on every client and logged: one line, no control characters,
// and no longer than a label holds.
QString cleaned(const QString& text, qsizetype most)
{
    QString clean = text.left(most);
    for (QChar& c : clean) {
        if (printable::isControl(c))
            c = QLatin1Char(' ');
    }
    return clean.simplified();
}

} // namespace

std::unique_ptr<CallSource> makeSource(const SourceSpec& spec, const SourceTiming& timing)
{
    switch (spec.kind) {
    case SourceSpec::Kind::Modem:
        return std::make_unique<ModemSource>(spec.device, timing);
    case SourceSpec::Kind::Fritzbox:
        return std::make_unique<FritzboxSource>(spec.host, spec.port, timing);
    case SourceSpec::Kind::Ami:
        break;
    }
    return std::make_unique<AmiSource>(
        AmiSettings{spec.host, spec.port, spec.tls, spec.user, spec.secret}, timing);
}

CallSources::CallSources(const QList<SourceSpec>& specs, Announce announce,
                         const SourceTiming& timing, QObject* parent)
    : QObject(parent), m_announce(std::move(announce))
{
    m_clock.start();
    for (const SourceSpec& spec : specs) {
        m_sources.push_back(makeSource(spec, timing));
        CallSource* source = m_sources.back().get();
        const int i = m_states.size();
        m_states.append({source->name(), false, QString()});
        m_everUp.append(false);
        m_rates.emplace_back();
        m_overRate.append(false);
        connect(source, &CallSource::callCame, this,
                [this, i](const IncomingCall& call) { onCall(i, call); });
        connect(source, &CallSource::up, this, [this, i] {
            serverlog::write(QStringLiteral("Call source %1 %2.")
                                 .arg(m_states[i].name,
                                      m_everUp[i] ? QStringLiteral("back") : QStringLiteral("up")));
            m_states[i].up = true;
            m_states[i].why.clear();
            m_everUp[i] = true;
            emit changed();
        });
        connect(source, &CallSource::down, this, [this, i](const QString& why) {
            m_states[i].up = false;
            m_states[i].why = printable::escaped(why);
            serverlog::write(
                QStringLiteral("Call source %1 %2: %3")
                    .arg(m_states[i].name,
                         m_everUp[i] ? QStringLiteral("lost") : QStringLiteral("not up"),
                         m_states[i].why));
            emit changed();
        });
    }
}

CallSources::~CallSources() = default;

void CallSources::start()
{
    for (const auto& source : m_sources)
        source->start();
}

QList<CallSources::State> CallSources::states() const
{
    return m_states;
}

bool CallSources::settled() const
{
    for (const State& state : m_states) {
        if (!state.up && state.why.isEmpty())
            return false;
    }
    return true;
}

void CallSources::onCall(int source, const IncomingCall& call)
{
    IncomingCall clean = call;
    clean.number = cleaned(call.number, 64);
    clean.name = cleaned(call.name, 80);
    clean.called = cleaned(call.called, 64);
    if (m_merger.isRepeat(clean))
        return;
    if (!m_rates[source].take(m_clock.elapsed())) {
        if (!std::exchange(m_overRate[source], true))
            serverlog::write(QStringLiteral("Call source %1 reports more than %2 calls a minute; "
                                            "the others are not announced.")
                                 .arg(m_states[source].name)
                                 .arg(CallRate::PerMinute));
        return;
    }
    m_overRate[source] = false;
    m_announce(clean);
}
