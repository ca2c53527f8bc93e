#include "app/startup.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/code_page.h"
#include "platform/file_places.h"
#include "platform/native_file.h"

namespace qarvo {

namespace {

bool isSet(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

// Connects to a local X server's socket, by file and by abstract name.
bool localXServerAnswers(const std::string& number) {
  const std::string path = "/tmp/.X11-unix/X" + number;
  for (bool abstract : {false, true}) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
      return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t offset = abstract ? 1 : 0;
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    close(fd);
    if (connected)
      return true;
  }
  return false;
}

}  // namespace

bool displayAvailable(std::string* why) {
  if (isSet("QT_QPA_PLATFORM") || isSet("WAYLAND_DISPLAY"))
    return true;
  if (!isSet("DISPLAY")) {
    *why = "no display: neither DISPLAY nor WAYLAND_DISPLAY is set";
    return false;
  }
  const std::string display = std::getenv("DISPLAY");
  // ":N[.S]" or "unix:N[.S]" is a local server we can try; a remote one is
  // left to Qt.
  std::string local;
  if (display.rfind(':', 0) == 0) {
    local = display.substr(1);
  } else if (display.rfind("unix:", 0) == 0) {
    local = display.substr(5);
  } else {
    return true;
  }
  local = local.substr(0, local.find('.'));
  if (local.empty() || local.find_first_not_of("0123456789") != std::string::npos)
    return true;
  if (localXServerAnswers(local))
    return true;
  *why = "cannot connect to the X display " + display;
  return false;
}

void prepareBrowserEnvironment() {
  if (geteuid() == 0)
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
}

void ProgramState::create() {
  settingsStore = std::make_unique<SettingsStore>();
  programName = gbk(kProgramName);
  settingsFilePath = qarvo::settingsFilePath(settingsFolder(&settingsWritable), programName);
  resultPlace(&resultsWritable);
  // A file that cannot be opened still leaves a working store in memory.
  settingsStore->openSettingsFile(settingsFilePath);
}

Text ProgramState::unwritablePlacesMessage() const {
  if (settingsWritable && resultsWritable)
    return Text();
  Text message = gbk("程序所在的文件夹不可写入：") + programDirectory() + "\r\n";
  if (!settingsWritable)
    message += gbk("设置也无法保存到：") + userConfigFolder() + "\r\n" +
               gbk("本次更改的设置在关闭后不会保留。") + "\r\n";
  if (!resultsWritable)
    message += gbk("查询结果也无法保存到：") + userDocumentsFolder() + "\r\n" +
               gbk("请用自动保存路径按钮选择一个可写入的文件夹。") + "\r\n";
  message.resize(message.size() - 2);
  return message;
}

void ProgramState::release() {
  programName.clear();
  settingsFilePath.clear();
  settingsStore.reset();
}

}  // namespace qarvo
