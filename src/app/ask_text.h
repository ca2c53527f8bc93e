// askText: the list-entry window.
//
// A modal, ownerless window that asks for a text: an optional info area, a
// large multi-line edit box, a strip of tool buttons (恢复 puts the opening
// text back, 清空 empties the box, 粘贴 replaces it by the clipboard text) and
// 确定 / 取消. Closing it through the title bar after an edit asks first.
#pragma once

#include <QDialog>
#include <QString>

#include "platform/text.h"

class QFrame;
class QPlainTextEdit;
class QPushButton;

namespace qarvo {

struct AskTextResult {
  bool accepted = false;
  Text text;  // the edit box's text when 确定 was pressed; empty otherwise
};

// Shows the window modally and returns once it has closed. `prompt` is the
// title ("输入：" when empty), `info` the text of the info area. While one is
// open, a further call returns at once, not accepted, and shows nothing. A
// window closed without a result no longer counts as open, even before the
// call that showed it has returned; an accepted one counts until then.
AskTextResult askText(const Text& initialText, const Text& prompt, const Text& info = Text());

// The window itself; askText is the way to use it.
class ListEntryWindow : public QDialog {
  Q_OBJECT

 public:
  ListEntryWindow(const Text& initialText, const Text& prompt, const Text& info);

  const AskTextResult& result() const { return result_; }
  // The window now open through askText (as askText counts it), or nullptr.
  static ListEntryWindow* current();

  // Pixel values of the layout rules.
  static constexpr int kMargin = 5;
  static constexpr int kFrameHeight = 34;
  static constexpr int kInfoLineHeight = 12;
  // Height of the info area for `info` at client width `width`.
  static int infoHeight(const Text& info, int width);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 public slots:
  // Title bar and Escape: asks first when the text was changed.
  void reject() override;

 private:
  void layOut();
  void restoreInitial();
  void paste();
  void confirm();
  bool changed() const;
  Text editorText() const;

  Text initial_;
  QString initialShown_;
  Text info_;
  AskTextResult result_;

  QPlainTextEdit* infoBox_;
  QPlainTextEdit* body_;
  QFrame* strip_;
  QPushButton* okButton_;
  QPushButton* cancelButton_;

  friend AskTextResult askText(const Text&, const Text&, const Text&);
};

}  // namespace qarvo
