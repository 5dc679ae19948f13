#include "callsimulator.h"

#include "contact.h"
#include "contactstore.h"
#include "demodata.h"

CallSimulator::CallSimulator(ContactStore& contacts, Announce announce, QObject* parent)
    : QObject(parent), m_contacts(contacts), m_announce(std::move(announce)),
      m_random(QRandomGenerator::securelySeeded())
{
    connect(&m_timer, &QTimer::timeout, this, [this] { m_announce(nextNumber()); });
}

void CallSimulator::start(int intervalSeconds)
{
    m_timer.start(intervalSeconds * 1000);
}

QString CallSimulator::nextNumber()
{
    const qint64 stored = m_contacts.numberCount();
    if (stored > 0 && m_random.bounded(5) != 0) {
        const QString number = m_contacts.numberAt(
            static_cast<qint64>(m_random.bounded(static_cast<quint64>(stored))));
        if (!number.isEmpty())
            return m_random.bounded(3) == 0 ? digitsOnly(number) : number;
    }
    const QStringList unknown = demodata::unknownNumbers();
    return unknown[m_random.bounded(static_cast<int>(unknown.size()))];
}
