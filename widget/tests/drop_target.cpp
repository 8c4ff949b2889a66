// A drop target for the drag tests, run as its own process: a window with the title given
// on the command line that accepts any drop and, for the Nth drop, writes OUT/drop-N.txt
// (one offered format a line) and each format's bytes to OUT/drop-N.<format with '/' as '_'>.
// It prints "ready" once its window is shown and "dropped N" after each drop.
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QWidget>
#include <cstdio>

namespace {

class DropTarget final : public QWidget {
public:
    explicit DropTarget(QString out) : m_out(std::move(out)) { setAcceptDrops(true); }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override { event->acceptProposedAction(); }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override {
        ++m_drops;
        const QMimeData* mime = event->mimeData();
        QString stem = QDir(m_out).filePath(QString("drop-%1").arg(m_drops));
        QStringList offered = mime->formats();
        for (const QString& format : offered) {
            QFile bytes(stem + "." + QString(format).replace('/', '_'));
            if (bytes.open(QIODevice::WriteOnly)) bytes.write(mime->data(format));
        }
        QFile list(stem + ".txt");
        if (list.open(QIODevice::WriteOnly)) list.write(offered.join('\n').toUtf8() + "\n");
        event->acceptProposedAction();
        std::printf("dropped %d\n", m_drops);
        std::fflush(stdout);
    }

private:
    QString m_out;
    int m_drops = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: drop_target TITLE OUT_DIR\n");
        return 2;
    }
    DropTarget target(QString::fromLocal8Bit(argv[2]));
    target.setWindowTitle(QString::fromLocal8Bit(argv[1]));
    target.setGeometry(650, 100, 300, 300);
    target.show();
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
