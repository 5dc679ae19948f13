#pragma once

#include "callmerger.h"
#include "callrate.h"
#include "callsource.h"
#include "sourcespec.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <functional>
#include <memory>
#include <vector>

// Every call source the configuration names, started together. Their calls, cleaned up,
// with repeats merged and at most CallRate::PerMinute a minute from each, go to the one
// announcer; their ups and downs go to the log, a
// loss once per outage.
class CallSources final : public QObject {
    Q_OBJECT
public:
    using Announce = std::function<void(const IncomingCall& call)>;

    CallSources(const QList<SourceSpec>& specs, Announce announce, const SourceTiming& timing = {},
                QObject* parent = nullptr);
    ~CallSources() override;

    void start();
    bool isEmpty() const { return m_sources.empty(); }
    // Each source's name and whether it is up, and why not when it is not.
    struct State {
        QString name;
        bool up = false;
        QString why; // empty while none was told
    };
    QList<State> states() const;
    // Whether every source has been up or down at least once since the start.
    bool settled() const;

signals:
    void changed();

private:
    void onCall(int source, const IncomingCall& call);

    Announce m_announce;
    std::vector<std::unique_ptr<CallSource>> m_sources;
    QList<State> m_states;
    QList<bool> m_everUp;
    CallMerger m_merger;
    std::vector<CallRate> m_rates; // each source's
    QList<bool> m_overRate;        // told in the log, until a call is taken again
    QElapsedTimer m_clock;
};

// The source one configuration line names.
std::unique_ptr<CallSource> makeSource(const SourceSpec& spec, const SourceTiming& timing);
