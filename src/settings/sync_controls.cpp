#include "settings/sync_controls.h"

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/code_page.h"
#include "platform/event_pump.h"

namespace qarvo {

namespace {

struct TypeWord {
  const char* utf8;
  ControlKind kind;
};

// Tried in this order; the first whose bytes start the name decides.
constexpr std::array<TypeWord, 10> kTypeWords = {{
    {"按钮", ControlKind::kButton},
    {"编辑框", ControlKind::kEditBox},
    {"选择框", ControlKind::kCheckBox},
    {"单选框", ControlKind::kRadioButton},
    {"组合框", ControlKind::kComboBox},
    {"列表框", ControlKind::kListBox},
    {"选择列表框", ControlKind::kCheckListBox},
    {"颜色选择器", ControlKind::kColorPicker},
    {"通用对话框", ControlKind::kCommonDialog},
    {"树型框", ControlKind::kTreeView},
}};

const std::array<Text, kTypeWords.size()>& typeWordsInGbk() {
  static const std::array<Text, kTypeWords.size()> words = [] {
    std::array<Text, kTypeWords.size()> out;
    for (std::size_t i = 0; i < kTypeWords.size(); ++i)
      out[i] = gbk(kTypeWords[i].utf8);
    return out;
  }();
  return words;
}

// The kind the name announces, or kOther when it starts with no type word.
ControlKind kindByName(TextView gbkName) {
  const auto& words = typeWordsInGbk();
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (gbkName.substr(0, words[i].size()) == words[i])
      return kTypeWords[i].kind;
  }
  return ControlKind::kOther;
}

const Text& trueWord() {
  static const Text k = gbk("真");
  return k;
}

const Text& falseWord() {
  static const Text k = gbk("假");
  return k;
}

// A leading decimal number, as the program's text-to-number conversions read
// it: blanks, an optional sign, digits; anything else ends it; no digits is 0.
long long leadingNumber(TextView text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+'))
    negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < 1'000'000'000'000LL)
      value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

int toInt(TextView text) {
  long long value = leadingNumber(text);
  if (value > INT32_MAX)
    return INT32_MAX;
  if (value < INT32_MIN)
    return INT32_MIN;
  return static_cast<int>(value);
}

// Splits at CR LF; a last piece without CR LF after it counts when not empty.
std::vector<Text> splitLines(TextView text) {
  std::vector<Text> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    if (end == TextView::npos) {
      lines.emplace_back(text.substr(at));
      break;
    }
    lines.emplace_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

Bytes bytesOf(TextView text) {
  return Bytes(text.begin(), text.end());
}

// The value of a button's tag or an edit box's content, either way.
void saveTextValue(SettingsStore& store, const Text& key, const Text& value, bool byteMode) {
  if (byteMode) {
    store.writeSideBytes(key, bytesOf(value));
  } else {
    store.writeText(key, value);
  }
}

Text restoreTextValue(SettingsStore& store, const Text& key, const Text& current, bool byteMode) {
  if (byteMode)
    return toText(store.readSideBytes(key, bytesOf(current)));
  return store.readText(key, current);
}

void syncOne(ControlList& window, int index, ControlKind kind, const Text& name, bool byteMode,
             SettingsStore& store, bool restore) {
  static const Text kTagSuffix = gbk(".标记");
  static const Text kItemsSuffix = gbk(".项目");
  static const Text kContentSuffix = gbk(".内容");
  static const Text kTreeSuffix = gbk(".列表");
  switch (kind) {
    case ControlKind::kButton: {
      const Text key = name + kTagSuffix;
      if (restore) {
        window.setTag(index, restoreTextValue(store, key, window.tag(index), byteMode));
      } else {
        saveTextValue(store, key, window.tag(index), byteMode);
      }
      break;
    }
    case ControlKind::kEditBox:
      if (restore) {
        window.setContent(index, restoreTextValue(store, name, window.content(index), byteMode));
      } else {
        saveTextValue(store, name, window.content(index), byteMode);
      }
      break;
    case ControlKind::kCheckBox:
    case ControlKind::kRadioButton:
      if (restore) {
        window.setChecked(index, store.readBool(name, window.checked(index)));
      } else {
        store.writeBool(name, window.checked(index));
      }
      break;
    case ControlKind::kComboBox: {
      const Text itemsKey = name + kItemsSuffix;
      const Text contentKey = name + kContentSuffix;
      if (restore) {
        // Items first: the selection and the edit text refer to them.
        window.setItems(index,
                        parseItemList(store.readText(itemsKey, itemListText(window.items(index)))));
        window.setSelectedIndex(
            index, toInt(store.readText(name, std::to_string(window.selectedIndex(index)))));
        window.setContent(index, store.readText(contentKey, window.content(index)));
      } else {
        store.writeText(itemsKey, itemListText(window.items(index)));
        store.writeText(name, std::to_string(window.selectedIndex(index)));
        store.writeText(contentKey, window.content(index));
      }
      break;
    }
    case ControlKind::kListBox:
      if (restore) {
        int selected = -1;
        std::vector<Text> items;
        parseListBoxText(
            store.readText(name, listBoxText(window.selectedIndex(index), window.items(index))),
            &selected, &items);
        window.setItems(index, items);
        window.setSelectedIndex(index, selected);
      } else {
        store.writeText(name, listBoxText(window.selectedIndex(index), window.items(index)));
      }
      break;
    case ControlKind::kCheckListBox:
      if (restore) {
        std::vector<Text> items;
        std::vector<bool> checks;
        parseCheckListText(
            store.readText(name, checkListText(window.items(index), window.itemChecks(index))),
            &items, &checks);
        window.setItems(index, items);
        window.setItemChecks(index, checks);
      } else {
        store.writeText(name, checkListText(window.items(index), window.itemChecks(index)));
      }
      break;
    case ControlKind::kColorPicker:
      if (restore) {
        const Text stored = store.readText(name, std::to_string(window.color(index)));
        window.setColor(index, static_cast<std::uint32_t>(leadingNumber(stored)));
      } else {
        store.writeText(name, std::to_string(window.color(index)));
      }
      break;
    case ControlKind::kCommonDialog:
      if (restore) {
        window.setContent(index, store.readText(name, window.content(index)));
      } else {
        store.writeText(name, window.content(index));
      }
      break;
    case ControlKind::kTreeView: {
      const Text key = name + kTreeSuffix;
      if (restore) {
        const Bytes current = bytesOf(treeItemsText(window.treeItems(index)));
        window.setTreeItems(index, parseTreeItemsText(toText(store.readSideBytes(key, current))));
      } else {
        store.writeSideBytes(key, bytesOf(treeItemsText(window.treeItems(index))));
      }
      break;
    }
    case ControlKind::kOther:
      break;
  }
}

}  // namespace

Text itemListText(const std::vector<Text>& items) {
  Text text;
  for (const Text& item : items) {
    text += item;
    text += "\r\n";
  }
  return text;
}

std::vector<Text> parseItemList(TextView text) {
  return splitLines(text);
}

Text listBoxText(int selected, const std::vector<Text>& items) {
  return std::to_string(selected) + "\r\n" + itemListText(items);
}

void parseListBoxText(TextView text, int* selected, std::vector<Text>* items) {
  std::size_t end = text.find("\r\n");
  *selected = toInt(text.substr(0, end));
  items->clear();
  if (end != TextView::npos)
    *items = splitLines(text.substr(end + 2));
}

Text checkListText(const std::vector<Text>& items, const std::vector<bool>& checks) {
  Text text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    text += (i < checks.size() && checks[i]) ? trueWord() : falseWord();
    text += items[i];
    text += "\r\n";
  }
  return text;
}

void parseCheckListText(TextView text, std::vector<Text>* items, std::vector<bool>* checks) {
  items->clear();
  checks->clear();
  for (Text& line : splitLines(text)) {
    const bool isTrue = line.compare(0, trueWord().size(), trueWord()) == 0;
    const bool isFalse = !isTrue && line.compare(0, falseWord().size(), falseWord()) == 0;
    // A line without the mark (edited by hand) is an unchecked item as it stands.
    if (isTrue || isFalse)
      line.erase(0, trueWord().size());
    items->push_back(std::move(line));
    checks->push_back(isTrue);
  }
}

Text treeItemsText(const std::vector<TreeItem>& items) {
  Text text;
  for (const TreeItem& item : items) {
    text.append(static_cast<std::size_t>(item.depth > 0 ? item.depth : 0), '\t');
    text += item.text;
    text += "\r\n";
  }
  return text;
}

std::vector<TreeItem> parseTreeItemsText(TextView text) {
  std::vector<TreeItem> items;
  for (const Text& line : splitLines(text)) {
    std::size_t depth = line.find_first_not_of('\t');
    if (depth == Text::npos)
      depth = line.size();
    items.push_back(TreeItem{static_cast<int>(depth), line.substr(depth)});
  }
  return items;
}

void syncControls(ControlList& window, SettingsStore& store, bool restore, TextView section) {
  static const Text kNoSave = gbk("禁止保存");
  static const Text kByteMode = gbk("字节集方式");
  if (!section.empty())
    store.useSection(section);
  // The count is asked each time: a handler run by the pump may change the window.
  for (int index = 0; index < window.controlCount(); ++index) {
    processPendingEvents();
    const Text name = utf8ToGbk(window.name(index));
    if (name.empty())
      continue;
    const ControlKind kind = kindByName(name);
    if (kind == ControlKind::kOther || window.kind(index) != kind)
      continue;
    const Text tag = window.tag(index);
    if (tag == kNoSave)
      continue;
    syncOne(window, index, kind, name, tag == kByteMode, store, restore);
  }
}

}  // namespace qarvo
