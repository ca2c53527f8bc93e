// syncControls: saving and restoring every control state of a window through
// the settings store.
//
// The kind of a control is told by the start of its name (GBK bytes), tried
// in this order: "按钮" button, "编辑框" edit box, "选择框" check box, "单选框"
// radio button, "组合框" combo box, "列表框" list box, "选择列表框" check-list
// box, "颜色选择器" colour picker, "通用对话框" common dialog, "树型框" tree
// view. A name that starts with none of them, or whose control is of another
// class than its name says, is left alone.
//
// Keys and values, in the store's current section:
//   button          name.标记   its tag (text)
//   edit box        name        its content (text)
//   check / radio   name        "真" or "假"
//   combo box       name.项目   its items; name: the selection as a number;
//                   name.内容   its edit text
//   list box        name        the selection, CR LF, then its items
//   check-list box  name        its items, each after "真" or "假"
//   colour picker   name        the colour as a number
//   common dialog   name        its file name (text)
//   tree view       name.列表   side file: its items, each after one tab per level
// Item lists end every item with CR LF (so an empty item survives); stored as
// text they take the "┊*┊" form like any text value.
//
// Tag words: a control whose tag is "禁止保存" is skipped both ways; with the
// tag "字节集方式" the value of a button or edit box goes to a side file as
// raw bytes instead of the settings file.
//
// Every read passes the control's current value as default, so a missing key
// leaves the control as it is.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/text.h"
#include "settings/control_list.h"
#include "settings/settings_store.h"

namespace qarvo {

// Walks the controls of `window` in order. With `restore` the stored states
// are read into the controls, otherwise the controls' states are written into
// `store`. A non-empty `section` becomes the store's current section first.
// Pumps pending events once per control. Failures of single keys do not stop
// the walk and are not reported back.
void syncControls(ControlList& window, SettingsStore& store, bool restore, TextView section);

// The text forms of the item-bearing controls (see above).
Text itemListText(const std::vector<Text>& items);
std::vector<Text> parseItemList(TextView text);
Text listBoxText(int selected, const std::vector<Text>& items);
void parseListBoxText(TextView text, int* selected, std::vector<Text>* items);
Text checkListText(const std::vector<Text>& items, const std::vector<bool>& checks);
void parseCheckListText(TextView text, std::vector<Text>* items, std::vector<bool>* checks);
Text treeItemsText(const std::vector<TreeItem>& items);
std::vector<TreeItem> parseTreeItemsText(TextView text);

}  // namespace qarvo
