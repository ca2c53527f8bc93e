// ControlList: a window's controls as the settings walk sees them.
//
// syncControls saves and restores a window's control states through this
// interface; the Qt window implements it, tests implement it with a plain
// fake. Controls are addressed by their index in the window's control order
// (0 .. controlCount() - 1), which is the order in which new keys are added to
// the settings file. Names are UTF-8 (the window's object names); every other
// text is GBK. A setter followed by the matching getter gives back what was
// set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/text.h"

namespace qarvo {

// The class of a control. The first four are the ones the main window has;
// the others follow the remaining kinds the walk knows of. Anything else
// (labels, pictures, the report list, the browser, timers ...) is kOther.
enum class ControlKind {
  kButton,
  kEditBox,
  kCheckBox,
  kRadioButton,
  kComboBox,
  kListBox,
  kCheckListBox,
  kColorPicker,
  kCommonDialog,
  kTreeView,
  kOther,
};

// One entry of a tree view, in display order; depth 0 is a top-level item.
struct TreeItem {
  int depth = 0;
  Text text;

  bool operator==(const TreeItem&) const = default;
};

class ControlList {
 public:
  virtual ~ControlList() = default;

  virtual int controlCount() const = 0;
  virtual std::string name(int index) const = 0;  // UTF-8; may be empty
  virtual ControlKind kind(int index) const = 0;

  // Every control has a tag (free text the program attaches to it).
  virtual Text tag(int index) const = 0;
  virtual void setTag(int index, const Text& tag) = 0;

  // Edit box: its text. Combo box: its edit text. Common dialog: its file name.
  virtual Text content(int index) const = 0;
  virtual void setContent(int index, const Text& content) = 0;

  // Check box and radio button.
  virtual bool checked(int index) const = 0;
  virtual void setChecked(int index, bool checked) = 0;

  // The kinds below exist in no window of this program; a window that reports
  // one of them overrides what that kind uses. The defaults describe a control
  // without such state.

  // Combo box, list box, check-list box: the item texts, and for the first two
  // the selected item (0-based, -1 for none).
  virtual std::vector<Text> items(int /*index*/) const { return {}; }
  virtual void setItems(int /*index*/, const std::vector<Text>& /*items*/) {}
  virtual int selectedIndex(int /*index*/) const { return -1; }
  virtual void setSelectedIndex(int /*index*/, int /*selected*/) {}
  // Check-list box: one check mark per item.
  virtual std::vector<bool> itemChecks(int /*index*/) const { return {}; }
  virtual void setItemChecks(int /*index*/, const std::vector<bool>& /*checks*/) {}
  // Colour picker: the colour as 0x00BBGGRR.
  virtual std::uint32_t color(int /*index*/) const { return 0; }
  virtual void setColor(int /*index*/, std::uint32_t /*color*/) {}
  // Tree view: all items in display order.
  virtual std::vector<TreeItem> treeItems(int /*index*/) const { return {}; }
  virtual void setTreeItems(int /*index*/, const std::vector<TreeItem>& /*items*/) {}
};

}  // namespace qarvo
