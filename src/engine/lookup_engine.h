// LookupEngine: the reverse look-up engine behind the main window's events.
//
// The window turns each click into one call here; the engine reads and writes
// the window only through MainWindowView. All calls run on the window thread
// and may nest (a wait pumps events, and a pumped event may call in again).
#pragma once

#include <string>

#include "engine/main_window_view.h"
#include "platform/text.h"

namespace qarvo {

// Where the two services live. The real hosts by default; tests point these
// at loopback fakes ("127.0.0.1:port").
struct ServiceEndpoints {
  std::string aizhanHost = "whois.aizhan.com";      // 爱站 reverse-WHOIS host
  std::string chinazHost = "whois.chinaz.com";      // 站长 WHOIS host
  std::string chinazToolSite = "tool.chinaz.com";   // 站长 tool site (sign-in)
  std::string makerPage = "http://qarvo.example/";  // the maker's web page
};

class LookupEngine {
 public:
  explicit LookupEngine(MainWindowView& view, ServiceEndpoints endpoints = {});

  // Click on 按钮开始查询: starts a run, or requests a stop of the active one.
  void runQueries();
  // Looks up the address of one report-list row (also the right-click query).
  void queryAddress(int row);
  // Click on a column header of 超级列表框.
  void onResultHeaderClick(int column);

  // Click / right button on 按钮自动保存路径.
  void chooseAutoSaveFolder();
  void openAutoSaveFolder();
  // Click on 按钮保存查询结果.
  void saveResults();
  // Double-click on 超级列表框.
  void openResultPage();
  // Clicks on the header pictures.
  void openMakerPage();
  void openHomePage(const std::string& homePageUrl);

  // Process-wide state shared with the window.
  bool queryStopFlag() const;
  void setQueryStopFlag(bool stop);
  const Text& serviceCookieText() const;
};

}  // namespace qarvo
