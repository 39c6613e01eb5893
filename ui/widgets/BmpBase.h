#pragma once
// A picture loaded from the program's resources that can be drawn whole.
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QSize>
#include <QString>

class QPainter;

class CBmpBase {
public:
    // The lamp strip every lamp of the main window shares.
    static constexpr const char* kLampStrip = ":/qz81kt/leds.png";

    explicit CBmpBase(QString strResource = QString::fromLatin1(kLampStrip));
    virtual ~CBmpBase();
    CBmpBase(const CBmpBase&) = delete;
    CBmpBase& operator=(const CBmpBase&) = delete;

    // Releases a picture already held and loads the resource again; 1 on success, 0
    // when it is missing (width and height stay 0).
    int Load();
    // The same with the resource's picture decoded elsewhere (null when it is missing).
    int Load(const QImage& picture);

    virtual void OnLoaded() {}
    virtual QSize GetSize() const { return QSize(m_nWidth, m_nHeight); }
    virtual void Draw(QPainter& dc, QPoint pos) const;

    bool IsLoaded() const { return !m_bitmap.isNull(); }

protected:
    QString m_strResource;
    QPixmap m_bitmap;
    int m_nWidth = 0;
    int m_nHeight = 0;
};
