#include "stage/canvas/FileList.h"

#include <QDir>

void FileList::setMask(const QString& mask) {
    patterns_ = mask.split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

void FileList::update() {
    items_ = QDir(directory_).entryList(patterns_, QDir::Files | QDir::Readable, QDir::Name);
}
