// The embedded web browser 浏览器, as the window sees it.
//
// The browser engine (Qt WebEngine, Chromium) lives in a module of its own,
// qarvo-browser.so, that the window loads on first use: start-up neither maps
// the engine nor sets up the OpenGL it needs, and a window that never shows
// the sign-in page never pays for it.
#pragma once

#include <QByteArray>
#include <QString>

class QWidget;

namespace qarvo {

class EmbeddedBrowser {
 public:
  virtual ~EmbeddedBrowser() = default;

  // The view, a child of the parent given at creation.
  virtual QWidget* widget() = 0;
  // Loads `url` into the view.
  virtual void navigate(const QString& url) = 0;
  // The address of the page now shown.
  virtual QString currentUrl() const = 0;
  // "name=value; ..." of the cookies the page now shown would send to its
  // site, each name once.
  virtual QByteArray cookieText() const = 0;
};

// The module's one entry point: creates the browser as a child of `parent`.
using CreateEmbeddedBrowserFunction = EmbeddedBrowser* (*)(QWidget* parent);
inline constexpr char kCreateEmbeddedBrowserSymbol[] = "qarvoCreateEmbeddedBrowser";
inline constexpr char kEmbeddedBrowserModule[] = "qarvo-browser.so";
// Where an installed program keeps the module: its private library folder,
// relative to the folder of the executable (bin/ beside lib/).
inline constexpr char kEmbeddedBrowserInstalledFolder[] = "../lib/qarvo-dorvane";

// The module for a program in `programFolder`: beside the program (the build
// folder, an unpacked copy), else in the installed library folder. Empty when
// neither holds it.
QString embeddedBrowserModulePath(const QString& programFolder);

}  // namespace qarvo
