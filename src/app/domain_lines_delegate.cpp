#include "app/domain_lines_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

namespace qarvo {

DomainLinesDelegate::DomainLinesDelegate(QObject* parent, int newLinesRole, int fromHistoryRole)
    : QStyledItemDelegate(parent), newLinesRole_(newLinesRole), fromHistoryRole_(fromHistoryRole) {}

QColor DomainLinesDelegate::newDomainColor() {
  return QColor(0x0a, 0x7d, 0x32);
}

void DomainLinesDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
  const QByteArray newLines = index.data(newLinesRole_).toByteArray();
  const bool fromHistory = index.data(fromHistoryRole_).toBool();
  if (!newLines.contains('\1') && !fromHistory) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  QStyleOptionViewItem item = option;
  initStyleOption(&item, index);
  // The cell's own text: the option's has its line breaks made separators.
  const QString text = index.data(Qt::DisplayRole).toString();
  const QWidget* widget = option.widget;
  QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
  // Where the text goes, measured with the text in place.
  const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget)
                         .adjusted(style->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1, 0, 0, 0);
  // The background, the selection and the focus as for any cell; the lines
  // are drawn here, one by one.
  item.text.clear();
  style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
  const bool selected = (option.state & QStyle::State_Selected) != 0;
  const QPalette::ColorGroup group =
      (option.state & QStyle::State_Enabled) != 0 ? QPalette::Normal : QPalette::Disabled;
  QColor plain = option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
  if (fromHistory && !selected)
    plain = option.palette.color(QPalette::Disabled, QPalette::Text);

  painter->save();
  painter->setClipRect(area);
  QFont bold = item.font;
  bold.setBold(true);
  QFont mark = item.font;
  mark.setPointSizeF(std::max(6.0, item.font.pointSizeF() * 0.8));
  const QFontMetrics metrics(item.font);
  const QFontMetrics boldMetrics(bold);
  const QStringList lines = text.split(QLatin1Char('\n'));
  int y = area.top();
  for (int i = 0; i < lines.size() && y < area.bottom(); ++i, y += metrics.lineSpacing()) {
    QString line = lines[i];
    if (line.endsWith(QLatin1Char('\r')))
      line.chop(1);
    const bool isNew = i < newLines.size() && newLines[i] != 0;
    const QRect row(area.left(), y, area.width(), metrics.height());
    if (!isNew) {
      painter->setFont(item.font);
      painter->setPen(plain);
      painter->drawText(row, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, line);
      continue;
    }
    painter->setFont(bold);
    painter->setPen(selected ? plain : newDomainColor());
    painter->drawText(row, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, line);
    // The mark beside the domain: a small tag, outside the cell's text.
    painter->setFont(mark);
    const QFontMetrics markMetrics(mark);
    const QString word = QStringLiteral("新");
    const int left = area.left() + boldMetrics.horizontalAdvance(line) + 6;
    const QRect tag(left, y + (metrics.height() - markMetrics.height()) / 2 - 1,
                    markMetrics.horizontalAdvance(word) + 6, markMetrics.height() + 2);
    painter->setPen(Qt::NoPen);
    painter->setBrush(newDomainColor());
    painter->drawRoundedRect(tag, 3, 3);
    painter->setPen(Qt::white);
    painter->drawText(tag, Qt::AlignCenter, word);
  }
  painter->restore();
}

}  // namespace qarvo
