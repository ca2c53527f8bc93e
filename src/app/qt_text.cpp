#include "app/qt_text.h"

#include <QByteArray>
#include <QObject>
#include <QVariant>

#include "platform/code_page.h"

namespace qarvo {

QString toDisplay(TextView gbk) {
  std::u16string wide = gbkToUtf16(gbk);
  QString shown = QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

Text fromDisplay(const QString& shown) {
  QString crlf;
  crlf.reserve(shown.size() + 16);
  for (qsizetype i = 0; i < shown.size(); ++i) {
    if (shown[i] == u'\n' && (i == 0 || shown[i - 1] != u'\r'))
      crlf += u'\r';
    crlf += shown[i];
  }
  return utf16ToGbk(std::u16string_view(reinterpret_cast<const char16_t*>(crlf.utf16()),
                                        static_cast<size_t>(crlf.size())));
}

namespace {
QByteArray shownKey(const char* key) {
  return QByteArray("qarvoShown_") + key;
}
QByteArray gbkKey(const char* key) {
  return QByteArray("qarvoGbk_") + key;
}
}  // namespace

void rememberText(QObject* object, const char* key, const Text& gbk, const QString& shown) {
  object->setProperty(gbkKey(key).constData(),
                      QByteArray(gbk.data(), static_cast<qsizetype>(gbk.size())));
  object->setProperty(shownKey(key).constData(), shown);
}

Text recalledText(const QObject* object, const char* key, const QString& shown) {
  QVariant remembered = object->property(shownKey(key).constData());
  if (remembered.isValid() && remembered.toString() == shown) {
    QByteArray bytes = object->property(gbkKey(key).constData()).toByteArray();
    return Text(bytes.constData(), static_cast<size_t>(bytes.size()));
  }
  return fromDisplay(shown);
}

void setGbkProperty(QObject* object, const char* key, const Text& gbk) {
  object->setProperty(gbkKey(key).constData(),
                      QByteArray(gbk.data(), static_cast<qsizetype>(gbk.size())));
}

Text gbkProperty(const QObject* object, const char* key) {
  QByteArray bytes = object->property(gbkKey(key).constData()).toByteArray();
  return Text(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace qarvo
