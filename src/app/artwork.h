// The program's pictures, painted at start-up (a few small pixmaps, well under
// a millisecond): the maker logo, the home-page and contact pictures of the
// header, the three row images of the result list and the button icons.
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>

namespace qarvo::artwork {

QPixmap makerLogo(int width, int height);
QPixmap homePagePicture(int size);
QPixmap contactPicture(int size);

// Row images by index: 0 found, 1 nothing found, 2 not yet queried.
QIcon rowImage(int index);

QIcon listEntryIcon();
QIcon saveIcon();
QIcon folderIcon();
// A small sheet of cells: the table export.
QIcon tableIcon();

// A button picture: `icon` at the left, `words` beside it, in `font`.
QPixmap buttonPicture(const QIcon& icon, int iconSize, const QString& words, const QFont& font,
                      const QSize& size, const QColor& ink);

}  // namespace qarvo::artwork
