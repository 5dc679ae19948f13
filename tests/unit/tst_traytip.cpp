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
        QTest::addColumn<bool>("terminated");

        const QString a61(61, QLatin1Char('a'));
        const QString b62(62, QLatin1Char('b'));
        const QString c100 = QString(63, QLatin1Char('c')) + QString(37, QLatin1Char('d'));
        QTest::newRow("default") << "Quillora Client"
                                 << " Quillora Client " << true;
        QTest::newRow("empty") << ""
                               << "" << true;
        QTest::newRow("one space") << " "
                                   << "   " << true;
        QTest::newRow("61 fits whole") << a61 << " " + a61 + " " << true;
        QTest::newRow("62 loses the NUL") << b62 << " " + b62 + " " << false;
        QTest::newRow("100 loses its end") << c100 << " " + QString(63, QLatin1Char('c')) << false;
        QTest::newRow("embedded NUL ends it") << QString("ab") + QChar(u'\0') + "cd"
                                              << " ab" << true;
        QTest::newRow("not Latin-1") << "Zürich ☎"
                                     << " Zürich ☎ " << true;
    }
    void field()
    {
        QFETCH(QString, tip);
        QFETCH(QString, shown);
        QFETCH(bool, terminated);

        const QString field = traytip::field(tip);
        QCOMPARE(field.size(), traytip::FieldLength);
        QCOMPARE(traytip::shown(field), shown);
        const qsizetype nul = field.lastIndexOf(QChar(u'\0'));
        QCOMPARE(nul >= 0, terminated);
        // Whatever follows the terminator is padding spaces.
        if (nul >= 0)
            QCOMPARE(field.mid(nul + 1), QString(traytip::FieldLength - nul - 1, QLatin1Char(' ')));
    }
};

QTEST_GUILESS_MAIN(TestTrayTip)
#include "tst_traytip.moc"
