// The display fields' cached panel looks as the style draws it, in every state and size,
// drawn and then from the cache (the rows share it: a state must not take another's).
#include <QLineEdit>
#include <QPixmapCache>
#include <QtTest>

#include "ui/widgets/CachedPanelStyle.h"

class CachedPanelStyleTest : public QObject {
    Q_OBJECT
private slots:
    void looksAsTheStyleDrawsIt_data();
    void looksAsTheStyleDrawsIt();
};

void CachedPanelStyleTest::looksAsTheStyleDrawsIt_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("focused");
    QTest::newRow("timecode") << QSize(234, 47) << true << false;
    QTest::newRow("format") << QSize(173, 24) << true << false;
    QTest::newRow("disabled") << QSize(173, 24) << false << false;
    QTest::newRow("focused") << QSize(332, 24) << true << true;
}

void CachedPanelStyleTest::looksAsTheStyleDrawsIt() {
    QFETCH(QSize, size);
    QFETCH(bool, enabled);
    QFETCH(bool, focused);
    QWidget window;
    QLineEdit plain(QStringLiteral(" 01:02:03;04"), &window);
    QLineEdit cached(plain.text(), &window);
    CCachedPanelStyle style(&window);
    cached.setStyle(&style);
    for (QLineEdit* pEdit : {&plain, &cached}) {
        pEdit->setReadOnly(true);
        pEdit->resize(size);
        pEdit->setEnabled(enabled);
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The window gives its first field the focus: each is grabbed in the row's state.
    focused ? plain.setFocus() : plain.clearFocus();
    QTRY_COMPARE(plain.hasFocus(), focused);
    const QImage expected = plain.grab().toImage();
    focused ? cached.setFocus() : cached.clearFocus();
    QTRY_COMPARE(cached.hasFocus(), focused);
    for (int nPass = 0; nPass < 2; ++nPass) {  // drawn, then from the cache
        const QImage actual = cached.grab().toImage();
        QCOMPARE(actual.size(), expected.size());
        int nWorst = 0;
        for (int y = 0; y < actual.height(); ++y)
            for (int x = 0; x < actual.width(); ++x) {
                const QRgb a = actual.pixel(x, y), e = expected.pixel(x, y);
                nWorst = std::max({nWorst, std::abs(qRed(a) - qRed(e)), std::abs(qGreen(a) - qGreen(e)),
                                   std::abs(qBlue(a) - qBlue(e))});
            }
        // Antialiased edges composed through a transparent pixmap may round by a step.
        QVERIFY2(nWorst <= 2, qPrintable(QStringLiteral("pass %1: a channel differs by %2").arg(nPass).arg(nWorst)));
    }
}

QTEST_MAIN(CachedPanelStyleTest)
#include "CachedPanelStyleTest.moc"
