// GBK program text on Qt widgets.
//
// The program's texts are GBK with CR LF line breaks; Qt shows UTF-16 with LF.
// A widget keeps the GBK text it was last given beside the converted form it
// shows, so reading a property back gives exactly what was written, while a
// value the user has since edited is converted from what is on screen.
#pragma once

#include <QString>

#include "platform/text.h"

class QObject;

namespace qarvo {

// GBK text -> what a widget shows ("\r\n" becomes "\n").
QString toDisplay(TextView gbk);
// What a widget shows -> GBK text (every "\n" not preceded by "\r" becomes "\r\n").
Text fromDisplay(const QString& shown);

// Remembers `gbk` under `key` on `object`, together with its display form.
void rememberText(QObject* object, const char* key, const Text& gbk, const QString& shown);
// The text remembered under `key` while the widget still shows `shown`;
// otherwise the GBK form of `shown`.
Text recalledText(const QObject* object, const char* key, const QString& shown);

// A plain GBK value kept on an object (tags); empty when none was set.
void setGbkProperty(QObject* object, const char* key, const Text& gbk);
Text gbkProperty(const QObject* object, const char* key);

}  // namespace qarvo
