// LookupEngine: the reverse look-up engine behind the main window's events.
//
// The window turns each click into one call here; the engine reads and writes
// the window only through MainWindowView. All calls run on the window thread
// and may nest (a wait pumps events, and a pumped event may call in again):
// every call keeps its working state local, and rows are looked up by index
// again after each pump, so a nested run that empties the list does no harm.
#pragma once

#include <functional>
#include <string>

#include "engine/main_window_view.h"
#include "engine/service_endpoints.h"
#include "platform/text.h"

namespace qarvo {

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
  bool queryStopFlag() const { return queryStopFlag_; }
  void setQueryStopFlag(bool stop) { queryStopFlag_ = stop; }
  const Text& serviceCookieText() const { return serviceCookieText_; }
  void setServiceCookieText(const Text& cookies) { serviceCookieText_ = cookies; }
  const ServiceEndpoints& endpoints() const { return endpoints_; }

  // The wait of the page query: sleeps in 10 ms slices and processes pending
  // events after each; 0 ms or less returns at once.
  void wait(int milliseconds);
  // Test seam: when set, every wait calls the hook with the milliseconds it
  // would wait instead of waiting. An empty hook restores the real waits.
  using WaitHook = std::function<void(int milliseconds)>;
  void setWaitHook(WaitHook hook) { waitHook_ = std::move(hook); }
  // Test seam: the time limit of every page fetch, in seconds (30 unless
  // changed). The page fetch takes values below 1 as its long defaults, so
  // tests that want quick time-outs use 1.
  void setFetchTimeoutSeconds(float seconds) { fetchTimeoutSeconds_ = seconds; }
  float fetchTimeoutSeconds() const { return fetchTimeoutSeconds_; }

 private:
  void signInToChinaz();
  void autoSave(const Text& address, int row);

  MainWindowView& view_;
  ServiceEndpoints endpoints_;
  bool queryStopFlag_ = false;
  Text serviceCookieText_;
  bool sortAscending_ = false;  // flipped before every accepted sort
  WaitHook waitHook_;
  float fetchTimeoutSeconds_ = 30.0f;
};

}  // namespace qarvo
