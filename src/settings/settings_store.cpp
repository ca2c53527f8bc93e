#include "settings/settings_store.h"

#include <climits>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/event_pump.h"
#include "platform/message_box.h"
#include "platform/native_file.h"
#include "text/text_between.h"

namespace qarvo {

namespace {

constexpr unsigned kIconExclamation = 0x30;

// Positions are ints; an image never grows to where they could overflow.
constexpr std::size_t kMaxImageSize = INT_MAX / 2;

const Text& lineBreakMarker() {
  static const Text k = gbk("┊*┊");
  return k;
}

const Text& trueText() {
  static const Text k = gbk("真");
  return k;
}

const Text& falseText() {
  static const Text k = gbk("假");
  return k;
}

// Length of the character at `at`, as the text layer steps (a four-byte
// GB18030 character is one). A lead byte followed by a control byte is no
// double-byte unit (trail bytes start at 0x40, the digits of a four-byte
// character at 0x30); counting it as one would hide the CR LF after a stray
// lead byte in a damaged file.
std::size_t characterLength(TextView text, std::size_t at) {
  if (isLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() &&
      static_cast<unsigned char>(text[at + 1]) < 0x30) {
    return 1;
  }
  return charLength(text, at);
}

// First occurrence of `what` at or after the 1-based position `start`, which
// the caller knows to be a character boundary. Steps over double-byte
// characters from there, so that the cost is the distance searched, not the
// size of the image.
int findFrom(TextView text, TextView what, int start) {
  if (what.empty() || what.size() > text.size())
    return -1;
  std::size_t i = start > 1 ? static_cast<std::size_t>(start - 1) : 0;
  const std::size_t last = text.size() - what.size();
  while (i <= last) {
    const void* hit = std::memchr(text.data() + i, what[0], last - i + 1);
    if (hit == nullptr)
      return -1;
    const std::size_t h = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    while (i < h)
      i += characterLength(text, i);
    if (i != h)
      continue;  // the byte was the trail byte of a character
    if (std::memcmp(text.data() + i, what.data(), what.size()) == 0)
      return static_cast<int>(i + 1);
    i += characterLength(text, i);
  }
  return -1;
}

// A text value with each CR LF turned into the marker. Every CR LF pair goes,
// also one right after a stray lead byte: no trail byte is below 0x30, and the
// store's own searches would see the pair as a line end, so the value would
// run onto a line of its own in the file.
Text encodeLineBreaks(TextView text) {
  Text out;
  out.reserve(text.size());
  std::size_t from = 0;
  for (std::size_t at = text.find("\r\n"); at != TextView::npos; at = text.find("\r\n", from)) {
    out.append(text.substr(from, at - from));
    out.append(lineBreakMarker());
    from = at + 2;
  }
  out.append(text.substr(from));
  return out;
}

bool hasLineBreakByte(TextView text) {
  return text.find_first_of("\r\n") != TextView::npos;
}

// A side-file name is built from the section and key; neither may lead out of
// the "inibin" folder.
bool isSafeNamePart(TextView part) {
  return part.find('/') == TextView::npos && part.find('\0') == TextView::npos;
}

// The folder part of a settings path, without the final separator: the text
// between the path's start and its last separator ("" for a file in "/").
// A bare file name lies in the current folder.
Text folderOf(TextView path) {
  int position = 0;
  static constexpr char kSeparator[] = {kPathSeparator, '\0'};
  Text folder = textBetweenFromEnd(path, "", kSeparator, &position, true);
  if (position == 0)
    return Text(".");
  return folder;
}

}  // namespace

Text settingsFilePath(TextView programDirectory, TextView programName) {
  Text path(programDirectory);
  path += kPathSeparator;
  path += programName;
  path += ".ini";
  return path;
}

bool SettingsStore::openSettingsFile(TextView gbkPath) {
  file_.close();
  image_.clear();
  resetCache();
  path_ = Text(gbkPath);
  if (file_.open(path_)) {
    if (file_.readAll(&image_) && image_.size() <= kMaxImageSize)
      return true;
    // A file we cannot read back (or hold) is no file we can keep in step with.
    file_.close();
  }
  readWholeFile(path_, &image_);
  if (image_.size() > kMaxImageSize)
    image_.clear();
  return false;
}

bool SettingsStore::reloadIfChangedOutside() {
  if (!file_.changedOutside())
    return false;
  openSettingsFile(Text(path_));
  return true;
}

void SettingsStore::resetCache() {
  cachedSection_.clear();
  cachedHeaderPos_ = -1;
  cachedHeaderEnd_ = -1;
}

bool SettingsStore::applyEdit(int pos, std::size_t count, TextView bytes) {
  const std::size_t offset = static_cast<std::size_t>(pos - 1);
  image_.replace(offset, count, bytes);
  if (!file_.isOpen())
    return true;
  return file_.syncFrom(image_, offset, count == bytes.size(), bytes.size());
}

bool SettingsStore::findSection(TextView section) {
  if (cachedSection_ == section && cachedHeaderPos_ > 0 && cachedHeaderEnd_ > 0)
    return true;
  Text header;
  header.reserve(section.size() + 2);
  header += '[';
  header += section;
  header += ']';
  int from = 1;
  while (true) {
    processPendingEvents();
    const int p = findFrom(image_, header, from);
    if (p < 0) {
      cachedSection_ = Text(section);
      cachedHeaderPos_ = -1;
      cachedHeaderEnd_ = -1;
      return false;
    }
    // A header starts a line: at the start of the file or right after CR LF.
    if (p == 1 || (p >= 3 && image_[p - 3] == '\r' && image_[p - 2] == '\n')) {
      cachedSection_ = Text(section);
      cachedHeaderPos_ = p;
      cachedHeaderEnd_ = p + static_cast<int>(header.size()) - 1;
      return true;
    }
    from = p + 1;
  }
}

bool SettingsStore::findNextHeader(int from, int to) const {
  int c = findFrom(image_, "\r\n[", from);
  // The first "]\r\n" at or after b stays the same while b has not passed
  // it, so it is searched again only then; a section full of "[" lines would
  // otherwise cost its length once per line.
  int e = 0;
  bool noClosing = false;
  while (true) {
    if (c < 0 || c >= to)
      return false;
    const int b = c + 2;
    if (!noClosing && e < b) {
      e = findFrom(image_, "]\r\n", b);
      noClosing = e < 0;
    }
    if (!noClosing) {
      if (e > to)
        return false;
      // A header is a single line: no CR LF between its "[" and "]".
      const int lineBreak = findFrom(image_, "\r\n", b);
      if (lineBreak < 0 || lineBreak >= e)
        return true;
    }
    c = findFrom(image_, "\r\n[", b + 1);
  }
}

bool SettingsStore::findKey(TextView key, int* valueStart, int* valueEnd) const {
  if (cachedHeaderEnd_ < 0)
    return false;
  Text needle;
  needle.reserve(key.size() + 3);
  needle += "\r\n";
  needle += key;
  needle += '=';
  const int q = findFrom(image_, needle, cachedHeaderEnd_);
  if (q < 0)
    return false;
  const int k = q + 2;
  // The first match may lie in a later section; then this section lacks it.
  if (findNextHeader(cachedHeaderEnd_ + 1, k - 1))
    return false;
  const int v = k + static_cast<int>(key.size()) + 1;
  const int lineEnd = findFrom(image_, "\r\n", v);
  *valueStart = v;
  *valueEnd = lineEnd < 0 ? static_cast<int>(image_.size()) : lineEnd - 1;
  return true;
}

int SettingsStore::writeKey(TextView section, TextView key, TextView value) {
  // A name with a line break cannot stand on one line of the file; searching
  // for it after inserting it would never succeed.
  if (hasLineBreakByte(section) || hasLineBreakByte(key))
    return kFailed;
  // Even eleven header appends must keep positions far from overflowing.
  if (image_.size() + 11 * (section.size() + 4) + key.size() + value.size() + 4 > kMaxImageSize)
    return kFailed;
  static const Text kFailureMessage =
      gbk("配置模块出现意外，可能导致无法正常保存！详情请咨询Qarvo。");
  static const Text kTitle = gbk("信息：");
  bool onDisk = true;
  int headerAppends = 0;
  bool keyInserted = false;
  while (true) {
    processPendingEvents();
    // An editor may have changed or replaced the file since we last wrote
    // it; the change then goes into what is there now, not into our old copy.
    if (reloadIfChangedOutside())
      keyInserted = false;
    if (!findSection(section)) {
      Text header;
      if (!image_.empty())
        header += "\r\n";
      header += '[';
      header += section;
      header += ']';
      onDisk = applyEdit(static_cast<int>(image_.size()) + 1, 0, header) && onDisk;
      ++headerAppends;
      keyInserted = false;
      if (headerAppends <= 10)
        continue;
      showMessageBox(kFailureMessage, kTitle, kIconExclamation);
      showMessageBox(image_, kTitle, 0);
      return kFailed;
    }
    int valueStart = -1;
    int valueEnd = -1;
    if (findKey(key, &valueStart, &valueEnd)) {
      const std::size_t oldLength = static_cast<std::size_t>(valueEnd - valueStart + 1);
      onDisk = applyEdit(valueStart, oldLength, value) && onDisk;
      if (file_.isOpen())
        onDisk = file_.flush() && onDisk;
      return onDisk ? kWritten : kFailed;
    }
    // The key line we inserted on the last pass must be found now.
    if (keyInserted)
      return kFailed;
    int insertAt = findFrom(image_, "\r\n[", cachedHeaderEnd_ + 1);
    if (insertAt < 0)
      insertAt = static_cast<int>(image_.size()) + 1;
    Text line;
    line.reserve(key.size() + 3);
    line += "\r\n";
    line += key;
    line += '=';
    onDisk = applyEdit(insertAt, 0, line) && onDisk;
    keyInserted = true;
  }
}

std::optional<Text> SettingsStore::lookupKey(TextView section, TextView key) {
  if (!findSection(section))
    return std::nullopt;
  int valueStart = -1;
  int valueEnd = -1;
  if (!findKey(key, &valueStart, &valueEnd))
    return std::nullopt;
  return image_.substr(static_cast<std::size_t>(valueStart - 1),
                       static_cast<std::size_t>(valueEnd - valueStart + 1));
}

Text SettingsStore::readKey(TextView section, TextView key, TextView defaultText) {
  std::optional<Text> value = lookupKey(section, key);
  return value ? std::move(*value) : Text(defaultText);
}

int SettingsStore::runQueue(TextView section, TextView key, TextView value) {
  pending_.push_back(Request{Text(section), Text(key), Text(value)});
  if (busy_)
    return kQueued;
  std::optional<int> first;
  while (!pending_.empty()) {
    // Copied out: writes issued while this one pumps events join the queue.
    Request request = pending_.front();
    busy_ = true;
    const int result = writeKey(request.section, request.key, request.value);
    pending_.pop_front();
    busy_ = false;
    if (!first)
      first = result;
  }
  return first.value_or(kFailed);
}

bool SettingsStore::writeText(TextView key, TextView text) {
  return runQueue(section_, key, encodeLineBreaks(text)) == kWritten;
}

Text SettingsStore::readText(TextView key, TextView defaultText) {
  // The default comes back as given; only a stored value is decoded.
  std::optional<Text> value = lookupKey(section_, key);
  if (!value)
    return Text(defaultText);
  return replaceAllText(*value, lineBreakMarker(), "\r\n");
}

bool SettingsStore::writeBool(TextView key, bool value) {
  return runQueue(section_, key, value ? trueText() : falseText()) == kWritten;
}

bool SettingsStore::readBool(TextView key, bool defaultValue) {
  return readKey(section_, key, defaultValue ? trueText() : falseText()) == trueText();
}

Text SettingsStore::sideFilePath(TextView key) const {
  Text path = folderOf(path_);
  path += "/inibin/";
  path += section_;
  path += '-';
  path += key;
  path += ".ibn";
  return path;
}

bool SettingsStore::writeSideBytes(TextView key, const Bytes& bytes) {
  // Without the settings file held (not opened, or owned by another instance)
  // the side files are not ours to change either.
  if (!file_.isOpen() || !isSafeNamePart(section_) || !isSafeNamePart(key))
    return false;
  const Text folder = folderOf(path_) + "/inibin";
  if (!pathExists(folder))
    createDirectory(folder);
  return writeWholeFile(sideFilePath(key),
                        TextView(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

Bytes SettingsStore::readSideBytes(TextView key, const Bytes& defaultBytes) {
  if (path_.empty() || !isSafeNamePart(section_) || !isSafeNamePart(key))
    return defaultBytes;
  std::string content;
  if (!readWholeFile(sideFilePath(key), &content) || content.empty())
    return defaultBytes;
  return toBytes(content);
}

}  // namespace qarvo
