// What the cached primitives draw looks as the style draws it, in every state and size,
// drawn and then from the cache (the rows share it: a state must not take another's).
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest>

#include "ui/widgets/CachedPrimitiveStyle.h"

class CachedPrimitiveStyleTest : public QObject {
    Q_OBJECT
private slots:
    void looksAsTheStyleDrawsIt_data();
    void looksAsTheStyleDrawsIt();
};

namespace {

QWidget* Make(const QString& strKind, QWidget* pParent) {
    if (strKind.endsWith("field")) {
        auto* p = new QLineEdit(QStringLiteral(" 01:02:03;04"), pParent);
        p->setReadOnly(true);
        return p;
    }
    if (strKind == "check") return new QCheckBox(QStringLiteral("FAN"), pParent);
    if (strKind == "group") return new QGroupBox(QStringLiteral("SDI Audio Channel"), pParent);
    auto* p = new QRadioButton(QStringLiteral("1-2"), pParent);
    p->setAutoExclusive(false);  // the plain one and the cached one are both checked
    return p;
}

}  // namespace

void CachedPrimitiveStyleTest::looksAsTheStyleDrawsIt_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("focused");
    QTest::addColumn<bool>("checked");
    QTest::newRow("timecode") << "field" << QSize(234, 47) << true << false << false;
    QTest::newRow("timecode, opaque") << "opaque field" << QSize(234, 47) << true << false << false;
    QTest::newRow("format") << "field" << QSize(173, 24) << true << false << false;
    QTest::newRow("field disabled") << "field" << QSize(173, 24) << false << false << false;
    QTest::newRow("field focused") << "field" << QSize(332, 24) << true << true << false;
    QTest::newRow("field smaller than its corners") << "field" << QSize(9, 40) << true << false << false;
    QTest::newRow("radio") << "radio" << QSize(60, 20) << true << false << false;
    QTest::newRow("radio checked") << "radio" << QSize(60, 20) << true << false << true;
    QTest::newRow("radio checked disabled") << "radio" << QSize(60, 20) << false << false << true;
    QTest::newRow("radio focused") << "radio" << QSize(60, 20) << true << true << true;
    QTest::newRow("check") << "check" << QSize(60, 20) << true << false << false;
    QTest::newRow("check ticked") << "check" << QSize(60, 20) << true << false << true;
    QTest::newRow("check ticked disabled") << "check" << QSize(60, 20) << false << false << true;
    // Frames are drawn in bands of rows: two with a short last one, and several.
    QTest::newRow("group, two bands") << "group" << QSize(200, 97) << true << false << false;
    QTest::newRow("group, several bands, disabled") << "group" << QSize(300, 260) << false << false << false;
}

void CachedPrimitiveStyleTest::looksAsTheStyleDrawsIt() {
    QFETCH(QString, kind);
    QFETCH(QSize, size);
    QFETCH(bool, enabled);
    QFETCH(bool, focused);
    QFETCH(bool, checked);
    QWidget window;
    QWidget* pPlain = Make(kind, &window);
    QWidget* pCached = Make(kind, &window);
    CCachedPrimitiveStyle style(&window);
    pCached->setStyle(&style);
    pCached->setAttribute(Qt::WA_OpaquePaintEvent, kind == "opaque field");
    for (QWidget* p : {pPlain, pCached}) {
        p->resize(size);
        p->setEnabled(enabled);
        if (auto* pButton = qobject_cast<QAbstractButton*>(p)) pButton->setChecked(checked);
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Each control is grabbed in the row's state; a button's focus as a keyboard user sees
    // it (a field reached by Tab would select its text).
    auto focus = [focused](QWidget* p) {
        const Qt::FocusReason eWhy = qobject_cast<QLineEdit*>(p) ? Qt::OtherFocusReason : Qt::TabFocusReason;
        focused ? p->setFocus(eWhy) : p->clearFocus();
        return QTest::qWaitFor([&] { return p->hasFocus() == focused; });
    };
    QVERIFY(focus(pPlain));
    const QImage expected = pPlain->grab().toImage();
    QVERIFY(focus(pCached));
    for (int nPass = 0; nPass < 2; ++nPass) {  // drawn, then from the cache
        const QImage actual = pCached->grab().toImage();
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

QTEST_MAIN(CachedPrimitiveStyleTest)
#include "CachedPrimitiveStyleTest.moc"
