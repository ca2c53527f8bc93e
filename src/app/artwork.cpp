#include "app/artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace qarvo::artwork {

namespace {

const QColor kInk(0x1f, 0x4e, 0x79);
const QColor kAccent(0xe8, 0x8a, 0x1a);

QPixmap blank(int width, int height) {
  QPixmap pixmap(width, height);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

}  // namespace

QPixmap makerLogo(int width, int height) {
  QPixmap pixmap = blank(width, height);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  // A magnifier over an @, then the maker's name.
  const qreal r = height * 0.30;
  const QPointF centre(height * 0.42, height * 0.42);
  p.setPen(QPen(kInk, height * 0.08));
  p.setBrush(QColor(0xdd, 0xee, 0xfa));
  p.drawEllipse(centre, r, r);
  p.setPen(QPen(kAccent, height * 0.11, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(centre + QPointF(r * 0.72, r * 0.72), QPointF(height * 0.88, height * 0.88));
  QFont at = p.font();
  at.setPixelSize(static_cast<int>(r * 1.25));
  at.setBold(true);
  p.setFont(at);
  p.setPen(kInk);
  p.drawText(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), Qt::AlignCenter, "@");

  QFont name = p.font();
  name.setPixelSize(height * 0.42);
  name.setBold(true);
  p.setFont(name);
  const QRectF text(height * 1.0, 0, width - height * 1.0, height * 0.66);
  p.setPen(kInk);
  p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, "Qarvo");
  QFont tagline = p.font();
  tagline.setPixelSize(height * 0.2);
  tagline.setBold(false);
  p.setFont(tagline);
  p.setPen(kAccent);
  p.drawText(QRectF(height * 1.02, height * 0.62, width - height, height * 0.3),
             Qt::AlignLeft | Qt::AlignVCenter, "Dorvane 邮箱反查");
  return pixmap;
}

QPixmap homePagePicture(int size) {
  QPixmap pixmap = blank(size, size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  QPainterPath roof;
  roof.moveTo(s * 0.5, s * 0.12);
  roof.lineTo(s * 0.9, s * 0.48);
  roof.lineTo(s * 0.1, s * 0.48);
  roof.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(kAccent);
  p.drawPath(roof);
  QLinearGradient wall(0, s * 0.45, 0, s * 0.9);
  wall.setColorAt(0, QColor(0xf4, 0xf8, 0xfc));
  wall.setColorAt(1, QColor(0xc9, 0xdd, 0xef));
  p.setBrush(wall);
  p.setPen(QPen(kInk, s * 0.04));
  p.drawRect(QRectF(s * 0.2, s * 0.46, s * 0.6, s * 0.42));
  p.setBrush(kInk);
  p.drawRect(QRectF(s * 0.44, s * 0.62, s * 0.14, s * 0.26));
  return pixmap;
}

QPixmap contactPicture(int size) {
  QPixmap pixmap = blank(size, size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  const QRectF envelope(s * 0.12, s * 0.26, s * 0.76, s * 0.5);
  p.setPen(QPen(kInk, s * 0.04));
  p.setBrush(QColor(0xf4, 0xf8, 0xfc));
  p.drawRoundedRect(envelope, s * 0.05, s * 0.05);
  QPainterPath flap;
  flap.moveTo(envelope.topLeft());
  flap.lineTo(envelope.center().x(), envelope.top() + envelope.height() * 0.55);
  flap.lineTo(envelope.topRight());
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kAccent, s * 0.05, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(flap);
  return pixmap;
}

QIcon rowImage(int index) {
  QPixmap pixmap = blank(16, 16);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  switch (index) {
    case 0: {  // found: a green disc with a tick
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x2e, 0x9d, 0x4a));
      p.drawEllipse(QRectF(1, 1, 14, 14));
      p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawPolyline(QPolygonF({QPointF(4.5, 8.5), QPointF(7, 11), QPointF(11.5, 5.5)}));
      break;
    }
    case 1: {  // nothing found: a grey disc with a bar
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x9a, 0x9f, 0xa6));
      p.drawEllipse(QRectF(1, 1, 14, 14));
      p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(4.5, 8), QPointF(11.5, 8));
      break;
    }
    case 3: {  // did not complete (failed, incomplete, stopped): an orange disc with "!"
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0xe0, 0x7b, 0x1a));
      p.drawEllipse(QRectF(1, 1, 14, 14));
      p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(8, 4.5), QPointF(8, 8.5));
      p.drawPoint(QPointF(8, 11.5));
      break;
    }
    default: {  // not yet queried: an open ring
      p.setPen(QPen(QColor(0x3b, 0x82, 0xc4), 1.6));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QRectF(2, 2, 12, 12));
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x3b, 0x82, 0xc4));
      p.drawEllipse(QRectF(6.5, 6.5, 3, 3));
      break;
    }
  }
  return QIcon(pixmap);
}

QIcon listEntryIcon() {
  QPixmap pixmap = blank(32, 32);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(kInk, 2));
  p.setBrush(QColor(0xf4, 0xf8, 0xfc));
  p.drawRoundedRect(QRectF(5, 3, 22, 26), 2, 2);
  p.setPen(QPen(kAccent, 2, Qt::SolidLine, Qt::RoundCap));
  for (int y = 10; y <= 22; y += 6)
    p.drawLine(QPointF(10, y), QPointF(22, y));
  return QIcon(pixmap);
}

QIcon saveIcon() {
  QPixmap pixmap = blank(16, 16);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(kInk, 1.2));
  p.setBrush(QColor(0xdd, 0xee, 0xfa));
  p.drawRect(QRectF(1.5, 1.5, 13, 13));
  p.setBrush(kInk);
  p.drawRect(QRectF(4, 1.5, 8, 4.5));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(4, 9, 8, 5.5));
  return QIcon(pixmap);
}

QIcon folderIcon() {
  QPixmap pixmap = blank(16, 16);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x9a, 0x6b, 0x12), 1));
  p.setBrush(QColor(0xf2, 0xc1, 0x4e));
  QPainterPath folder;
  folder.moveTo(1.5, 3.5);
  folder.lineTo(6, 3.5);
  folder.lineTo(7.5, 5);
  folder.lineTo(14.5, 5);
  folder.lineTo(14.5, 13.5);
  folder.lineTo(1.5, 13.5);
  folder.closeSubpath();
  p.drawPath(folder);
  return QIcon(pixmap);
}

QIcon tableIcon() {
  QPixmap pixmap = blank(16, 16);
  QPainter p(&pixmap);
  p.setPen(QPen(QColor(0x1d, 0x6f, 0x42), 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(1.5, 2.5, 13, 11));
  p.fillRect(QRectF(2, 3, 12, 3), QColor(0x1d, 0x6f, 0x42));
  for (double y : {9.0, 12.0})
    p.drawLine(QPointF(2, y - 0.5), QPointF(14, y - 0.5));
  p.drawLine(QPointF(6.5, 6), QPointF(6.5, 13));
  return QIcon(pixmap);
}

QPixmap buttonPicture(const QIcon& icon, int iconSize, const QString& words, const QFont& font,
                      const QSize& size, const QColor& ink) {
  QPixmap pixmap = blank(size.width(), size.height());
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const int top = (size.height() - iconSize) / 2;
  icon.paint(&p, QRect(0, top, iconSize, iconSize));
  p.setFont(font);
  p.setPen(ink);
  p.drawText(QRect(iconSize + 4, 0, size.width() - iconSize - 4, size.height()),
             Qt::AlignLeft | Qt::AlignVCenter, words);
  return pixmap;
}

}  // namespace qarvo::artwork
