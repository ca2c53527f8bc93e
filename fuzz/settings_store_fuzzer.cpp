// Fuzz target: SettingsStore. Any bytes become the settings file (in a
// folder made once per process); then a sequence of typed and raw writes and
// reads, section changes and re-opens runs on it, with section names, keys
// and values from the input. Now and then the event pump issues a nested
// write or read while a write or read is in progress.
//
// Invariants:
//   * after every operation the file on disk equals the store's image;
//   * a read never changes the image;
//   * a completed text write reads back as written (for well-formed text);
//     a boolean and a side-file value too; a raw value without a line break;
//   * a write adds exactly the line breaks of a new key line (and of a new
//     section header): a value never breaks the file's line structure;
//   * re-opening the file loads the same image.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "fuzz/fuzz_check.h"
#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "platform/native_file.h"
#include "platform/text.h"
#include "settings/settings_store.h"

namespace qarvo {
namespace {

std::string folder;  // native path of the scratch folder
Text settingsPath;   // GBK path of the settings file in it

void removeFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

int lineBreaks(TextView text) {
  int count = 0;
  for (std::size_t at = text.find("\r\n"); at != TextView::npos; at = text.find("\r\n", at + 1))
    ++count;
  return count;
}

std::string onDisk() {
  std::string bytes;
  if (!readWholeFile(settingsPath, &bytes))
    return "<unreadable>";
  return bytes;
}

// With QARVO_FUZZ_TRACE set, each operation is printed (for minimising a
// finding into a test).
bool tracing() {
  static const bool on = std::getenv("QARVO_FUZZ_TRACE") != nullptr;
  return on;
}

std::string escaped(TextView text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
      out += static_cast<char>(c);
    } else {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
      out += buffer;
    }
  }
  return "\"" + out + "\"";
}

void trace(const char* what, TextView a = {}, TextView b = {}, TextView c = {}) {
  if (tracing())
    std::fprintf(stderr, "%s %s %s %s\n", what, escaped(a).c_str(), escaped(b).c_str(),
                 escaped(c).c_str());
}

void checkDiskMatchesImage(const SettingsStore& store) {
  FUZZ_CHECK(onDisk() == store.image());
}

// Whether every lead byte is followed by a real trail byte (0x40 and above).
bool wellFormed(TextView text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) {
      if (i + 1 >= text.size() || static_cast<unsigned char>(text[i + 1]) < 0x40)
        return false;
      ++i;
    }
  }
  return true;
}

// The stored value of the key, or nothing when the section or key is
// missing: the key is missing when two different defaults both come back.
std::optional<Text> storedValue(SettingsStore& store, TextView section, TextView key) {
  const Text first = store.readKey(section, key, "\x01");
  if (first != "\x01")
    return first;
  if (store.readKey(section, key, "\x02") != "\x02")
    return first;
  return std::nullopt;
}

// Short names from a small pool, so that operations meet the same sections
// and keys; now and then any bytes.
Text nameFrom(FuzzedDataProvider& input) {
  static const char* const kPool[] = {"a", "b", "main", "k", "x", "", "[a]", "a]", "="};
  const int pick = input.ConsumeIntegralInRange<int>(0, 11);
  if (pick < 9)
    return kPool[pick];
  return input.ConsumeRandomLengthString(10);
}

// The nested operation the event pump runs at its trigger-th call.
SettingsStore* pumpStore = nullptr;
int pumpCalls = 0;
int pumpTrigger = -1;
bool pumpWrites = true;
bool pumpArmed = false;
bool pumpFired = false;
bool outerIsWrite = false;

void nestingPump() {
  if (pumpStore == nullptr || !pumpArmed || ++pumpCalls != pumpTrigger)
    return;
  pumpFired = true;
  if (pumpWrites) {
    const bool written = pumpStore->writeText("nested", "n\r\nv");
    // Behind a running write it waits in the queue; otherwise it runs now.
    if (outerIsWrite)
      FUZZ_CHECK(!written);
  } else {
    pumpStore->readText("nested", "d");
  }
}

void fuzzOne(FuzzedDataProvider& input) {
  const int operations = input.ConsumeIntegralInRange<int>(0, 24);
  pumpTrigger = input.ConsumeIntegralInRange<int>(0, 40);
  pumpWrites = input.ConsumeBool();
  pumpCalls = 0;
  pumpFired = false;
  const std::string content = input.ConsumeRandomLengthString(1024);

  std::error_code ignored;
  std::filesystem::remove_all(folder + "/inibin", ignored);
  FUZZ_CHECK(writeWholeFile(settingsPath, content));

  trace("file", content);
  SettingsStore store;
  FUZZ_CHECK(store.openSettingsFile(settingsPath));
  FUZZ_CHECK(store.image() == content);
  pumpStore = &store;

  for (int i = 0; i < operations && input.remaining_bytes() > 0; ++i) {
    const int kind = input.ConsumeIntegralInRange<int>(0, 9);
    const Text key = nameFrom(input);
    // The probes below run with the pump disarmed; only the operation pumps.
    pumpArmed = false;
    const Text imageBefore = store.image();
    const bool sectionExisted = store.findSection(store.currentSection());
    const std::optional<Text> stored = storedValue(store, store.currentSection(), key);
    FUZZ_CHECK(store.image() == imageBefore);
    // Typed writes are queued behind a running one; raw writes are not.
    outerIsWrite = kind == 1 || kind == 3;
    // Line breaks a write may add: a key line, and a header line unless the
    // header starts the file.
    const int addedLines = (stored ? 0 : 1) + (sectionExisted ? 0 : (imageBefore.empty() ? 0 : 1));

    const bool firedBefore = pumpFired;
    pumpArmed = true;
    switch (kind) {
      case 0:
        store.useSection(nameFrom(input));
        trace("useSection", store.currentSection());
        break;
      case 1: {
        const Text value = input.ConsumeRandomLengthString(64);
        const bool written = store.writeText(key, value);
        trace("writeText", key, value, written ? "true" : "false");
        if (written && pumpFired == firedBefore) {
          FUZZ_CHECK(lineBreaks(store.image()) == lineBreaks(imageBefore) + addedLines);
          // The stored form is ambiguous where the text itself holds "┊"
          // (as in "┊*" before a line break); leave such text out.
          static const Text kBar = gbk("┊");
          if (wellFormed(value) && value.find(kBar) == Text::npos)
            FUZZ_CHECK(store.readText(key, "\x01") == value);
        }
        break;
      }
      case 2:
        store.readText(key, input.ConsumeRandomLengthString(8));
        FUZZ_CHECK(pumpFired != firedBefore || store.image() == imageBefore);
        break;
      case 3: {
        const bool value = input.ConsumeBool();
        if (store.writeBool(key, value) && pumpFired == firedBefore) {
          FUZZ_CHECK(store.readBool(key, !value) == value);
          FUZZ_CHECK(lineBreaks(store.image()) == lineBreaks(imageBefore) + addedLines);
        }
        break;
      }
      case 4:
        store.readBool(key, input.ConsumeBool());
        FUZZ_CHECK(pumpFired != firedBefore || store.image() == imageBefore);
        break;
      case 5: {
        const std::string bytes = input.ConsumeRandomLengthString(64);
        const Bytes value = toBytes(bytes);
        const Bytes fallback = {0xDE, 0xAD};
        if (store.writeSideBytes(key, value))
          FUZZ_CHECK(store.readSideBytes(key, fallback) == (value.empty() ? fallback : value));
        FUZZ_CHECK(store.image() == imageBefore);
        break;
      }
      case 6:
        store.readSideBytes(key, {});
        break;
      case 7: {
        const Text section = nameFrom(input);
        const Text value = input.ConsumeRandomLengthString(32);
        pumpArmed = false;
        const bool sectionThere = store.findSection(section);
        const bool keyThere = storedValue(store, section, key).has_value();
        pumpArmed = true;
        const int result = store.writeKey(section, key, value);
        trace("writeKey", section, key, value);
        FUZZ_CHECK(result == 0 || result == -1);
        if (result == 0 && pumpFired == firedBefore) {
          if (value.find("\r\n") == Text::npos)
            FUZZ_CHECK(store.readKey(section, key, "\x01") == value);
          const int lines = (keyThere ? 0 : 1) +
                            (sectionThere ? 0 : (imageBefore.empty() ? 0 : 1)) + lineBreaks(value);
          FUZZ_CHECK(lineBreaks(store.image()) == lineBreaks(imageBefore) + lines);
        }
        break;
      }
      case 8:
        store.readKey(nameFrom(input), key, "");
        FUZZ_CHECK(pumpFired != firedBefore || store.image() == imageBefore);
        break;
      default: {
        const Text image = store.image();
        FUZZ_CHECK(store.openSettingsFile(settingsPath));
        FUZZ_CHECK(store.image() == image);
        break;
      }
    }
    pumpArmed = false;
    trace("image", store.image());
    checkDiskMatchesImage(store);
  }
  pumpStore = nullptr;
}

}  // namespace
}  // namespace qarvo

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  char pattern[] = "/tmp/qarvo-settings-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr)
    std::abort();
  qarvo::folder = pattern;
  qarvo::settingsPath =
      qarvo::settingsFilePath(qarvo::utf8ToGbk(qarvo::folder), qarvo::gbk("Qarvo·Dorvane"));
  std::atexit(qarvo::removeFolder);
  qarvo::setEventPump(&qarvo::nestingPump);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  qarvo::fuzzOne(input);
  return 0;
}
