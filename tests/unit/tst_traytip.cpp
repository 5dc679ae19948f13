#include "tray/traytip.h"

#include <QTest>

// The tray's tooltip field: one space, the tip, one space and a NUL, within 64 characters.
class TestTrayTip : public QObject {
    Q_OBJECT
private slots:
    void field_data()
    {
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QString>("shown");
        const QString a61(61, QLatin1Char('a')), b62(62, QLatin1Char('b'));
        QTest::newRow("default") << "Quillora Client"
                                 << " Quillora Client ";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("61 fits whole") << a61 << " " + a61 + " ";
        QTest::newRow("62 loses the NUL") << b62 << " " + b62 + " ";
        QTest::newRow("100 loses its end")
            << QString(100, QLatin1Char('c')) << " " + QString(63, QLatin1Char('c'));
    }
    void field()
    {
        QFETCH(QString, tip);
        QFETCH(QString, shown);
        const QString field = traytip::field(tip);
        QCOMPARE(field.size(), traytip::FieldLength);
        QCOMPARE(traytip::shown(field), shown);
        // After the terminator, if it fits, only padding spaces.
        const qsizetype nul = field.indexOf(QChar(u'\0'));
        QCOMPARE(nul, tip.size() <= 61 ? (tip.isEmpty() ? 0 : tip.size() + 2) : -1);
        if (nul >= 0)
            QCOMPARE(field.mid(nul + 1).trimmed(), QString());
    }
};

QTEST_GUILESS_MAIN(TestTrayTip)
#include "tst_traytip.moc"
