#pragma once

#include "networksource.h"

// A router's call monitor: a TCP port (1012 by default) that sends one line per event of
// the router's telephone lines and nothing in between, so the source is up once connected.
//
//   28.11.20 15:17:43;RING;2;<from>;<to>;SIP0;               a call comes in
//   28.11.20 15:17:43;CALL;2;<extension>;<own>;<called>;SIP0; a call goes out
//   28.11.20 15:17:43;CONNECT;2;<extension>;<number>;         a call is answered
//   28.11.20 15:17:43;DISCONNECT;2;<seconds>;                 a call ends
//
// A RING is announced: the number is <from>, the line and the number called are <to> (the
// site's own number that rings). An empty <from> is announced as an unknown caller (empty
// number): the monitor does not tell a withheld number from one the network never sent.
// The other events are only logged; lines it does not know are ignored, the first of each
// connection logged.
class FritzboxSource final : public NetworkSource {
    Q_OBJECT
public:
    static constexpr quint16 DefaultPort = 1012;

    FritzboxSource(const QString& host, quint16 port, SourceTiming timing = {},
                   QObject* parent = nullptr);

protected:
    void connected() override;
    void lineReceived(const QByteArray& line) override;

private:
    bool m_toldUnknown = false;
};
