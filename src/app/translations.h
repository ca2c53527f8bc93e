// Qt's own Chinese texts for the standard buttons and dialogs (确定, 取消,
// 是, 否, the folder chooser), so nothing in the window reads English.
#pragma once

class QTranslator;

namespace qarvo {

// Loads Qt's zh_CN translations and installs them in the application,
// whatever the session's locale. Returns the installed translator (owned by
// the application object), or nullptr when the files are not there.
QTranslator* installChineseTranslations();

}  // namespace qarvo
