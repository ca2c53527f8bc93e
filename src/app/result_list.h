// The report list 超级列表框 with its rows: what each row holds besides its
// shown texts (the GBK cells, the row image, the note, a lasting identity),
// the address tooltips, the sort arrow in the header, Ctrl+C copying, and
// following the row being looked up until the user looks elsewhere.
//
// The main window owns it and forwards the row operations of MainWindowView
// to it; the list's events that start work stay with the window.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <vector>

#include "engine/row_story.h"
#include "platform/text.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace qarvo {

class ResultList final : public QObject {
  Q_OBJECT

 public:
  // Makes the list as a child of `parent`. `lookupActive` says whether a
  // look-up is under way: only then does the user's scrolling stop the list
  // from following the current row.
  ResultList(QWidget* parent, std::function<bool()> lookupActive);
  ~ResultList() override;

  QTreeWidget* widget() const { return list_; }

  int columnCount() const;
  int rowCount() const;
  int appendRow(const Text& firstColumn, int image);
  void deleteAllRows();
  Text cellText(int row, int column) const;
  void setCellText(int row, int column, const Text& text);
  int rowImage(int row) const;
  void setRowImage(int row, int image);
  Text rowNote(int row) const;
  void setRowNote(int row, const Text& note);
  RowStory rowStory(int row) const;
  void setRowStory(int row, const RowStory& story);
  long long rowId(int row) const;
  int rowOfId(long long id) const;
  void ensureRowVisible(int row);
  int selectedRow() const;

  // A run starts: the list follows its rows again.
  void followCurrentRow() { followCurrentRow_ = true; }

  // The selected rows as text: address, tab, the domains one per line.
  QString selectedRowsText() const;

  // The selection by address, to be put back on the same addresses after a
  // sort has moved the rows' data under it.
  struct SelectionByAddress {
    std::vector<QByteArray> selected;
    QByteArray current;
  };
  SelectionByAddress selectionByAddress() const;
  void reselect(SelectionByAddress selection);
  // The header's arrow for the list's order; `column` -1 shows none.
  void showSortOrder(int column, bool ascending);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void refreshAddressTip(int row);

  QTreeWidget* list_ = nullptr;
  std::function<bool()> lookupActive_;
  // The list follows the row being looked up until the user scrolls it.
  bool followCurrentRow_ = true;
  // Row identities for the engine: id -> item, kept until the list is emptied.
  QHash<long long, QTreeWidgetItem*> rowsById_;
  long long nextRowId_ = 0;
};

}  // namespace qarvo
