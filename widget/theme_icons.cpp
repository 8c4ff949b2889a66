#include "widget/theme_icons.h"

#include <QApplication>
#include <QHash>
#include <QStandardPaths>
#include <QStyle>

#include "platform/shell_namespace.h"

namespace scopa {

QIcon ThemeIconOfIndex(int index) {
    static QHash<int, QIcon> icons;
    // Without a desktop session (the offscreen platform, a bare X server) Qt has no icon
    // theme and looks only in its resources: look in the system's icon folders, with the
    // Adwaita theme the build installs.
    static const bool theme_ready = [] {
        if (!QIcon::themeName().isEmpty()) return true;
        QStringList paths = QIcon::themeSearchPaths();
        for (const QString& folder : QStandardPaths::locateAll(
                 QStandardPaths::GenericDataLocation, "icons", QStandardPaths::LocateDirectory)) {
            if (!paths.contains(folder)) paths << folder;
        }
        QIcon::setThemeSearchPaths(paths);
        QIcon::setThemeName("Adwaita");
        return true;
    }();
    (void)theme_ready;
    QString name = index >= 0 ? QString::fromStdString(IconNameOfIndex(index)) : QString();
    bool folder = name.startsWith("folder") || name.startsWith("inode-directory");
    QIcon fallback =
        QApplication::style()->standardIcon(folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
    // A MIME type's own icon ("image-jpeg"), else its kind's generic one ("image-x-generic").
    QString generic = name.section('-', 0, 0) + "-x-generic";
    QIcon icon =
        name.isEmpty() ? fallback : QIcon::fromTheme(name, QIcon::fromTheme(generic, fallback));
    icons.insert(index, icon);
    return icon;
}

}  // namespace scopa
