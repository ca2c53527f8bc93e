// How the domains cell of a result row is drawn when the row has more to
// say than its text: the domains that are new since the address's previous
// look-up in a colour of their own with a "新" mark after them, and a row
// taken from the history in grey. The text itself stays the domains only,
// so copying and saving never see the marks.
#pragma once

#include <QStyledItemDelegate>

namespace qarvo {

class DomainLinesDelegate final : public QStyledItemDelegate {
 public:
  // `newLinesRole`: item data, a QByteArray with one byte per line of the
  // cell (1: new); `fromHistoryRole`: a bool.
  DomainLinesDelegate(QObject* parent, int newLinesRole, int fromHistoryRole);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

  // The colour new domains are drawn in.
  static QColor newDomainColor();

 private:
  int newLinesRole_;
  int fromHistoryRole_;
};

}  // namespace qarvo
