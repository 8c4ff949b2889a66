#include "widget/theme_icons.h"

#include <QApplication>
#include <QHash>
#include <QStyle>

#include "platform/shell_namespace.h"

namespace scopa {

QIcon ThemeIconOfIndex(int index) {
    static QHash<int, QIcon> icons;
    QString name = index >= 0 ? QString::fromStdString(IconNameOfIndex(index)) : QString();
    bool folder = name.startsWith("folder") || name.startsWith("inode-directory");
    QIcon fallback =
        QApplication::style()->standardIcon(folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
    QIcon icon = name.isEmpty() ? fallback : QIcon::fromTheme(name, fallback);
    icons.insert(index, icon);
    return icon;
}

}  // namespace scopa
