#pragma once

#include <QString>
#include <QStringList>

// The files of one folder whose names match a mask (the stage's list of
// background pictures).
class FileList {
public:
    void setDirectory(const QString& directory) { directory_ = directory; }
    const QString& directory() const { return directory_; }
    void setMask(const QString& mask);  // patterns separated by ';'
    void update();                       // reads the folder again
    int count() const { return static_cast<int>(items_.size()); }
    const QStringList& items() const { return items_; }

private:
    QString directory_;
    QStringList patterns_;
    QStringList items_;
};
