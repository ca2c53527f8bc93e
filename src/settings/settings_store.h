// SettingsStore: the program's settings file, a sectioned text file of
// key=value lines beside the program.
//
// The store holds the whole file as a byte image in memory and keeps the file
// open (and locked) for the run. Every change is applied twice, to the image
// and at the same offset in the file, so the disk is current after each write
// without the file ever being rewritten as a whole; each write is flushed to
// the disk. Reads are served from the image. Before each write the store
// checks that the file is still the one it wrote last (a text editor ignores
// the lock); if someone changed or replaced it, the store loads it anew and
// applies the change to what is there now.
//
// File format (GBK bytes, no byte-order mark, lines separated by CR LF):
//   [section]
//   key=value
// Names and keys match byte for byte; nothing is trimmed. A file created by the
// store has no CR LF after its last line. Byte values live in side files
// "inibin/<section>-<key>.ibn" in the settings file's folder.
//
// Writing pumps window events (processPendingEvents), so a handler may issue
// another write while one runs; the typed writes go through a queue that runs
// such writes afterwards, oldest first.
//
// Positions are 1-based byte positions in the image, -1 meaning not found.
#pragma once

#include <deque>
#include <optional>
#include <utility>

#include "platform/text.h"
#include "settings/settings_file.h"

namespace qarvo {

class SettingsStore {
 public:
  // Results of the queued write (runQueue).
  static constexpr int kWritten = 0;
  static constexpr int kFailed = -1;
  static constexpr int kQueued = 3;

  SettingsStore() = default;
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // Closes a file held before and empties the image; remembers the path; loads
  // the file (a missing file gives an empty image) and opens it for reading and
  // writing, creating it when absent. Returns whether the file is held. When it
  // is not (read-only folder, another instance holds it), writes still change
  // the image but nothing reaches the disk.
  bool openSettingsFile(TextView gbkPath);

  // Replaces the file system calls used for writing (for fault tests).
  void setFileOps(FileOps ops) { file_.setFileOps(std::move(ops)); }

  // The current section of the typed operations.
  void useSection(TextView name) { section_ = Text(name); }
  const Text& currentSection() const { return section_; }

  // Typed operations on the current section. Text values are stored with each
  // CR LF replaced by "┊*┊"; booleans as "真" / "假". A write returns true only
  // when it completed (false when it failed or was queued behind a running one).
  bool writeText(TextView key, TextView text);
  Text readText(TextView key, TextView defaultText);
  bool writeBool(TextView key, bool value);
  bool readBool(TextView key, bool defaultValue);

  // Byte values in side files of the current section. The write replaces the
  // side file whole (creating the "inibin" folder); the read returns the
  // default when the side file is missing or empty. The settings file itself
  // is not touched.
  bool writeSideBytes(TextView key, const Bytes& bytes);
  Bytes readSideBytes(TextView key, const Bytes& defaultBytes);

  // The raw operations. writeKey returns 0 when the value was set, -1 on
  // failure; readKey returns the stored value (possibly empty) or the default
  // when the section or key is missing.
  int writeKey(TextView section, TextView key, TextView value);
  Text readKey(TextView section, TextView key, TextView defaultText);

  // Puts a write request in the queue and runs the queue unless a write is
  // already running. Returns the result of this request when it ran (0 / -1),
  // kQueued when it waits behind a running write.
  int runQueue(TextView section, TextView key, TextView value);

  // Locates the header "[section]" at the start of the image or after CR LF
  // and caches its position. True when found.
  bool findSection(TextView section);
  // Whether a section header starts strictly inside the range (from, to).
  bool findNextHeader(int from, int to) const;
  // Locates `key` in the section found last by findSection. On success sets
  // the value's first position and last position (last = first - 1 for an
  // empty value).
  bool findKey(TextView key, int* valueStart, int* valueEnd) const;

  const Text& image() const { return image_; }
  const Text& path() const { return path_; }
  bool isFileOpen() const { return file_.isOpen(); }
  // The side file's path for `key` in the current section.
  Text sideFilePath(TextView key) const;

 private:
  struct Request {
    Text section;
    Text key;
    Text value;
  };

  // Replaces `count` bytes at `pos` in the image by `bytes` and mirrors the
  // edit onto the file. False when the file was held but could not be written.
  bool applyEdit(int pos, std::size_t count, TextView bytes);
  // Loads the file anew when someone else changed or replaced it since the
  // store last wrote it. True when it did.
  bool reloadIfChangedOutside();
  void resetCache();
  // The stored value of the key, or nothing when the section or key is missing.
  std::optional<Text> lookupKey(TextView section, TextView key);

  Text image_;
  SettingsFile file_;
  Text path_;
  Text section_;
  std::deque<Request> pending_;
  bool busy_ = false;
  Text cachedSection_;
  int cachedHeaderPos_ = -1;
  int cachedHeaderEnd_ = -1;
};

// The settings file's path: the folder, "/", the program name and ".ini".
Text settingsFilePath(TextView programDirectory, TextView programName);

}  // namespace qarvo
