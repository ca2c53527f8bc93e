#include "app/result_list.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <algorithm>

#include "app/artwork.h"
#include "app/domain_lines_delegate.h"
#include "app/qt_text.h"
#include "engine/lookup_outcome.h"

namespace qarvo {

namespace {

// Item data roles of the report list: the GBK text of a cell, the row image.
constexpr int kGbkRole = Qt::UserRole + 1;
constexpr int kImageRole = Qt::UserRole + 2;
constexpr int kNoteRole = Qt::UserRole + 3;
constexpr int kIdRole = Qt::UserRole + 4;
// The row's story (row_story.h): its tooltip lines on column 0, the marks of
// new domains and the history flag on column 1, where they are drawn.
constexpr int kStoryTipRole = Qt::UserRole + 5;
constexpr int kNewLinesRole = Qt::UserRole + 6;
constexpr int kFromHistoryRole = Qt::UserRole + 7;

// Row images at the top of a row, beside the address, as the texts are.
class TopAlignedDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->decorationAlignment = Qt::AlignLeft | Qt::AlignTop;
  }
};

Text gbkData(const QTreeWidgetItem* item, int column, int role) {
  const QByteArray bytes = item->data(column, role).toByteArray();
  return Text(bytes.constData(), static_cast<size_t>(bytes.size()));
}

QByteArray bytesOf(const Text& text) {
  return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

ResultList::ResultList(QWidget* parent, std::function<bool()> lookupActive)
    : lookupActive_(std::move(lookupActive)) {
  list_ = new QTreeWidget(parent);
  list_->setColumnCount(2);
  list_->setHeaderLabels({QStringLiteral("邮箱"), QStringLiteral("反查结果")});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(false);
  // Several rows may be selected for copying; a right-click queries the row
  // it was made on (the current one).
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  list_->setAlternatingRowColors(true);
  list_->header()->setSectionsClickable(true);
  list_->header()->setSortIndicatorShown(false);
  list_->setColumnWidth(0, 300);
  // A row holds one line per domain and can be taller than the list: scroll
  // by pixel so that every line can be brought into view.
  list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  list_->setItemDelegate(new TopAlignedDelegate(list_));
  list_->setItemDelegateForColumn(1,
                                  new DomainLinesDelegate(list_, kNewLinesRole, kFromHistoryRole));
  list_->verticalScrollBar()->setSingleStep(20);
  list_->installEventFilter(this);

  // A scroll by the user (wheel, bar, keys) during a run ends following the
  // row being looked up.
  connect(list_->verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] {
    if (lookupActive_())
      followCurrentRow_ = false;
  });
}

ResultList::~ResultList() = default;

int ResultList::columnCount() const {
  return list_->columnCount();
}

int ResultList::rowCount() const {
  return list_->topLevelItemCount();
}

int ResultList::appendRow(const Text& firstColumn, int image) {
  auto* item = new QTreeWidgetItem(list_);
  item->setText(0, toDisplay(firstColumn));
  item->setData(0, kGbkRole, bytesOf(firstColumn));
  item->setData(0, kImageRole, image);
  item->setIcon(0, artwork::rowImage(image));
  // The address beside the first domain, not in the middle of a tall row.
  item->setTextAlignment(0, Qt::AlignLeft | Qt::AlignTop);
  item->setTextAlignment(1, Qt::AlignLeft | Qt::AlignTop);
  const long long id = nextRowId_++;
  item->setData(0, kIdRole, id);
  rowsById_.insert(id, item);
  const int row = list_->topLevelItemCount() - 1;
  refreshAddressTip(row);
  return row;
}

void ResultList::deleteAllRows() {
  rowsById_.clear();
  list_->clear();
}

long long ResultList::rowId(int row) const {
  const QTreeWidgetItem* item = list_->topLevelItem(row);
  return item != nullptr ? item->data(0, kIdRole).toLongLong() : -1;
}

int ResultList::rowOfId(long long id) const {
  QTreeWidgetItem* item = rowsById_.value(id, nullptr);
  return item != nullptr ? list_->indexOfTopLevelItem(item) : -1;
}

Text ResultList::cellText(int row, int column) const {
  const QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr || column < 0 || column >= list_->columnCount())
    return Text();
  return gbkData(item, column, kGbkRole);
}

void ResultList::setCellText(int row, int column, const Text& text) {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr || column < 0 || column >= list_->columnCount())
    return;
  item->setText(column, toDisplay(text));
  item->setData(column, kGbkRole, bytesOf(text));
  refreshAddressTip(row);
}

int ResultList::rowImage(int row) const {
  const QTreeWidgetItem* item = list_->topLevelItem(row);
  return item != nullptr ? item->data(0, kImageRole).toInt() : -1;
}

void ResultList::setRowImage(int row, int image) {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr)
    return;
  item->setData(0, kImageRole, image);
  item->setIcon(0, artwork::rowImage(image));
  refreshAddressTip(row);
}

Text ResultList::rowNote(int row) const {
  const QTreeWidgetItem* item = list_->topLevelItem(row);
  return item != nullptr ? gbkData(item, 0, kNoteRole) : Text();
}

void ResultList::setRowNote(int row, const Text& note) {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr)
    return;
  item->setData(0, kNoteRole, bytesOf(note));
  // Why the look-up did not complete, where the pointer rests on the row.
  // The address cell's tip also gives the domain count.
  item->setToolTip(1, toDisplay(note));
  refreshAddressTip(row);
}

RowStory ResultList::rowStory(int row) const {
  const QTreeWidgetItem* item = list_->topLevelItem(row);
  RowStory story;
  if (item == nullptr)
    return story;
  story.tip = gbkData(item, 0, kStoryTipRole);
  const QByteArray marks = item->data(1, kNewLinesRole).toByteArray();
  story.newLines.assign(marks.begin(), marks.end());
  story.fromHistory = item->data(1, kFromHistoryRole).toBool();
  return story;
}

void ResultList::setRowStory(int row, const RowStory& story) {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr)
    return;
  item->setData(0, kStoryTipRole, bytesOf(story.tip));
  item->setData(1, kNewLinesRole,
                QByteArray(reinterpret_cast<const char*>(story.newLines.data()),
                           static_cast<qsizetype>(story.newLines.size())));
  item->setData(1, kFromHistoryRole, story.fromHistory);
  refreshAddressTip(row);
}

void ResultList::ensureRowVisible(int row) {
  // Once the user has scrolled elsewhere during a run, the list stays there.
  if (!followCurrentRow_ && lookupActive_())
    return;
  if (QTreeWidgetItem* item = list_->topLevelItem(row))
    list_->scrollToItem(item);
}

int ResultList::selectedRow() const {
  // With several rows selected, the one last clicked.
  if (QTreeWidgetItem* current = list_->currentItem(); current != nullptr && current->isSelected())
    return list_->indexOfTopLevelItem(current);
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.first());
}

QString ResultList::selectedRowsText() const {
  QStringList rows;
  for (int row = 0; row < list_->topLevelItemCount(); ++row) {
    const QTreeWidgetItem* item = list_->topLevelItem(row);
    if (!item->isSelected())
      continue;
    // A row that did not complete shows why in place of domains.
    const QByteArray result = item->data(1, kGbkRole).toByteArray();
    const bool domains = !result.isEmpty() && result != item->data(0, kNoteRole).toByteArray();
    QString text = domains ? item->text(1) : QString();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    rows.push_back(item->text(0) + u'\t' + text);
  }
  return rows.join(u'\n');
}

ResultList::SelectionByAddress ResultList::selectionByAddress() const {
  SelectionByAddress selection;
  for (int row = 0; row < list_->topLevelItemCount(); ++row) {
    const QTreeWidgetItem* item = list_->topLevelItem(row);
    if (item->isSelected())
      selection.selected.push_back(item->data(0, kGbkRole).toByteArray());
  }
  if (const QTreeWidgetItem* item = list_->currentItem(); item != nullptr && item->isSelected())
    selection.current = item->data(0, kGbkRole).toByteArray();
  return selection;
}

void ResultList::reselect(SelectionByAddress selection) {
  std::vector<QByteArray>& selected = selection.selected;
  QTreeWidgetItem* target = nullptr;
  bool targetIsCurrent = false;
  {
    const QSignalBlocker quiet(list_->selectionModel());
    list_->clearSelection();
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
      QTreeWidgetItem* item = list_->topLevelItem(row);
      const QByteArray address = item->data(0, kGbkRole).toByteArray();
      auto found = std::find(selected.begin(), selected.end(), address);
      if (found == selected.end())
        continue;
      selected.erase(found);  // a repeated address selects as many rows as before
      item->setSelected(true);
      if (!targetIsCurrent && address == selection.current) {
        target = item;
        targetIsCurrent = true;
      } else if (target == nullptr) {
        target = item;
      }
    }
  }
  list_->viewport()->update();
  if (target != nullptr) {
    list_->setCurrentItem(target, 0, QItemSelectionModel::NoUpdate);
    list_->scrollToItem(target, QAbstractItemView::PositionAtTop);
  } else {
    list_->scrollToTop();
  }
}

void ResultList::showSortOrder(int column, bool ascending) {
  QHeaderView* header = list_->header();
  if (column >= 0) {
    header->setSortIndicatorShown(true);
    header->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
  } else {
    header->setSortIndicatorShown(false);
  }
}

void ResultList::refreshAddressTip(int row) {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr)
    return;
  const QByteArray result = item->data(1, kGbkRole).toByteArray();
  const QByteArray note = item->data(0, kNoteRole).toByteArray();
  int domains = 0;
  if (!result.isEmpty() && result != note) {
    for (const QByteArray& line : result.split('\n'))
      domains += line.trimmed().isEmpty() ? 0 : 1;
  }
  const int image = item->data(0, kImageRole).toInt();
  QString tip;
  if (image == kImagePending && domains == 0 && note.isEmpty())
    tip = QStringLiteral("尚未查询");
  else
    tip = QStringLiteral("%1 个域名").arg(domains);
  if (!note.isEmpty()) {
    // A completed row's note says it stopped at the page limit:
    // "20 个域名，已查 1/13 页（页数上限）", on both cells.
    const bool completed = image == kImageFound || image == kImageNone;
    tip += (completed ? u'，' : u'\n') + toDisplay(Text(note.constData(), size_t(note.size())));
    if (completed)
      item->setToolTip(1, tip);
  }
  // Who listed what, what changed since the last look-up, where it came
  // from: on both cells.
  if (const QByteArray story = item->data(0, kStoryTipRole).toByteArray(); !story.isEmpty()) {
    tip += u'\n' + toDisplay(Text(story.constData(), size_t(story.size())));
    tip += QStringLiteral("\nCtrl+H：查看这个邮箱的查询历史");
    item->setToolTip(1, tip);
  }
  item->setToolTip(0, tip);
}

bool ResultList::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Copy)) {
      // Nothing selected leaves the clipboard alone.
      QClipboard* clipboard = QGuiApplication::clipboard();
      if (clipboard != nullptr && !list_->selectedItems().isEmpty())
        clipboard->setText(selectedRowsText());
      return true;
    }
    // Keys that move through the list are the user looking elsewhere.
    if (lookupActive_() &&
        (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down || key->key() == Qt::Key_PageUp ||
         key->key() == Qt::Key_PageDown || key->key() == Qt::Key_Home || key->key() == Qt::Key_End))
      followCurrentRow_ = false;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace qarvo
