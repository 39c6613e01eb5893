// The lamp widgets: states clamped to the strip, toggle and push behaviour, input off,
// and a missing strip.
#include <QtTest>

#include "ui/widgets/BmpBtnBase.h"
#include "ui/widgets/BmpButton.h"

class BmpButtonTest : public QObject {
    Q_OBJECT
private slots:
    void statesAreClampedAndInputOffIgnoresClicks();
    void pushAndToggleBehaviour();
    void missingStripDrawsNothing();
};

void BmpButtonTest::statesAreClampedAndInputOffIgnoresClicks() {
    CBmpBtnBase strip;
    strip.m_nHighestState = 4;
    QCOMPARE(strip.Load(), 1);
    QCOMPARE(strip.GetSize(), QSize(21, 22));
    CBmpButton lamp;
    QCOMPARE(lamp.SetState(1), 0);  // no strip yet
    lamp.m_pStrip = &strip;
    QCOMPARE(lamp.SetState(7), 1);
    QCOMPARE(lamp.State(), 4);
    lamp.SetState(-1);
    QCOMPARE(lamp.State(), 0);
    lamp.m_bInputOff = true;
    lamp.resize(strip.GetSize());
    QTest::mouseClick(&lamp, Qt::LeftButton);
    QCOMPARE(lamp.State(), 0);
}

void BmpButtonTest::pushAndToggleBehaviour() {
    CBmpBtnBase strip;
    strip.m_nHighestState = 3;
    strip.Load();
    CBmpButton button;
    button.m_pStrip = &strip;
    button.resize(20, 20);
    QList<int> seen;
    for (int i = 0; i < 2; ++i) {
        QTest::mousePress(&button, Qt::LeftButton);
        seen << button.State();
        QTest::mouseRelease(&button, Qt::LeftButton);
        seen << button.State();
    }
    QCOMPARE(seen, (QList<int>{1, 2, 3, 0}));
    button.m_bToggleMode = true;
    seen.clear();
    for (int i = 0; i < 5; ++i) {
        QTest::mouseClick(&button, Qt::LeftButton);
        seen << button.State();
    }
    QCOMPARE(seen, (QList<int>{1, 2, 3, 0, 1}));
}

namespace {
// Opaque pixels a lamp paints in state 3.
int PaintedPixels(CBmpBtnBase& strip) {
    CBmpButton lamp;
    lamp.m_pStrip = &strip;
    lamp.resize(21, 22);
    lamp.SetState(3);
    QImage picture(21, 22, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    lamp.render(&picture, QPoint(), QRegion(), QWidget::RenderFlags());
    int n = 0;
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 21; ++x) n += qAlpha(picture.pixel(x, y)) > 0;
    return n;
}
}  // namespace

void BmpButtonTest::missingStripDrawsNothing() {
    CBmpBtnBase strip;
    strip.m_nHighestState = 4;
    strip.Load();
    QVERIFY(PaintedPixels(strip) > 100);
    CBmpBtnBase missing(QStringLiteral(":/qz81kt/no-such-strip.png"));
    missing.m_nHighestState = 4;
    QCOMPARE(missing.Load(), 0);
    QCOMPARE(missing.FrameWidth(), 0);
    QCOMPARE(PaintedPixels(missing), 0);
}

QTEST_MAIN(BmpButtonTest)
#include "BmpButtonTest.moc"
