#include "app/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace qarvo {

QTranslator* installChineseTranslations() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr)
    return nullptr;
  auto* translator = new QTranslator(app);
  // "qt" pulls in qtbase and the other modules' catalogues that are present.
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  const QLocale chinese(QLocale::Chinese, QLocale::China);
  if (!translator->load(chinese, QStringLiteral("qt"), QStringLiteral("_"), folder) &&
      !translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
    delete translator;
    return nullptr;
  }
  QCoreApplication::installTranslator(translator);
  return translator;
}

}  // namespace qarvo
