// scopa-view [FOLDER] [--script FILE] [--screenshot FILE] [--base DIR] [--size WxH]:
// the demo host. Without --script it is an interactive window printing the control's events;
// with --script it runs a container script against the real widget, printing what
// `scopa container` prints, and quits. --screenshot writes the window when it ends. Without
// a display it runs on Qt's offscreen platform.
#include <unistd.h>
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string_view>

#include "widget/qt_list_view.h"
#include "widget/qt_tree_view.h"
#include "widget/view/view_window.h"

namespace {

constexpr int kExitUsage = 2;

bool ParseSize(const QString& text, QSize& size) {
    QStringList parts = text.split('x');
    bool width_ok = false;
    bool height_ok = false;
    if (parts.size() != 2) return false;
    size = QSize(parts[0].toInt(&width_ok), parts[1].toInt(&height_ok));
    return width_ok && height_ok && size.width() >= 0 && size.height() >= 0;
}

bool WriteScreenshot(QWidget& window, const QString& path) {
    QApplication::processEvents();
    if (window.grab().save(path)) return true;
    std::fprintf(stderr, "scopa-view: cannot write %s\n", qPrintable(path));
    return false;
}

// Prints where the tree and the list lie in the window, so a driver can click them.
void PrintReady(ViewWindow& window, qint64 elapsed_ms) {
    ScopaWidget& control = window.Control();
    QPoint tree = control.TreeView().mapTo(&window, QPoint(0, 0));
    QPoint list = control.ListView().mapTo(&window, QPoint(0, 0));
    int row_height = control.TreeView().sizeHintForRow(0);
    std::printf("ready %lld ms tree %d %d %d %d list %d %d %d %d row %d\n",
                static_cast<long long>(elapsed_ms), tree.x(), tree.y(), control.TreeView().width(),
                control.TreeView().height(), list.x(), list.y(), control.ListView().width(),
                control.ListView().height(), row_height);
    std::fflush(stdout);
}

// Runs each line standard input brings as the container pane's line would, while the
// window is in use: a driving process asks for state and makes calls this way.
void ReadLinesFromStandardInput(ViewWindow& window) {
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &window);
    auto pending = std::make_shared<std::string>();
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, notifier, pending] {
        char buffer[4096];
        ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            notifier->setEnabled(false);
            return;
        }
        pending->append(buffer, size_t(got));
        size_t end;
        while ((end = pending->find('\n')) != std::string::npos) {
            std::string line = pending->substr(0, end);
            pending->erase(0, end + 1);
            std::string error;
            if (!window.RunLine(line, error)) {
                std::fprintf(stderr, "error: %s\n", error.c_str());
            }
        }
    });
}

// In a script, standard error carries the script's own errors only, as with `scopa container`:
// Qt's warnings about the platform (no runtime folder, no window manager) are left out.
void ScriptMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    (void)context;
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::fprintf(stderr, "scopa-view: %s\n", qPrintable(text));
    }
}

}  // namespace

int main(int argc, char** argv) {
    QElapsedTimer started;
    started.start();
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((display == nullptr || *display == 0) && (wayland == nullptr || *wayland == 0) &&
        std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--script") qInstallMessageHandler(ScriptMessageHandler);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("scopa-view");

    QCommandLineParser parser;
    parser.setApplicationDescription("Shows the Scopa control in a host window.");
    parser.addHelpOption();
    parser.addPositionalArgument("FOLDER", "the folder to show first");
    QCommandLineOption script(QStringLiteral("script"), "runs a container script, then quits",
                              "FILE");
    QCommandLineOption screenshot(QStringLiteral("screenshot"), "writes the window when it ends",
                                  "FILE");
    QCommandLineOption base(QStringLiteral("base"), "the folder $BASE stands for in scripts",
                            "DIR");
    QCommandLineOption from_stdin(QStringLiteral("stdin"),
                                  "runs container lines from standard input as they arrive");
    QCommandLineOption size(QStringLiteral("size"),
                            "the control's size in a script (default 800x600)", "WxH");
    parser.addOptions({script, screenshot, base, size, from_stdin});
    parser.process(app);
    if (parser.positionalArguments().size() > 1) {
        std::fprintf(stderr, "scopa-view: expects at most one folder\n");
        return kExitUsage;
    }
    ViewWindow window(parser.value(base).toStdString());
    ScopaWidget& control = window.Control();

    if (parser.isSet(script)) {
        QSize control_size(800, 600);
        if (parser.isSet(size) && !ParseSize(parser.value(size), control_size)) {
            std::fprintf(stderr, "scopa-view: --size takes WxH\n");
            return kExitUsage;
        }
        std::ifstream file(parser.value(script).toStdString());
        if (!file) {
            std::fprintf(stderr, "scopa-view: cannot read %s\n", qPrintable(parser.value(script)));
            return 1;
        }
        // The script ticks the control itself; the control gets the container's client size.
        control.SetTimerDriven(false);
        control.setFixedSize(control_size);
        window.adjustSize();  // the window wraps the control, with no empty strip beside it
        window.show();
        QApplication::processEvents();
        int status = 0;
        std::string line;
        for (int line_number = 1; std::getline(file, line); ++line_number) {
            std::string error;
            if (!window.RunLine(line, error)) {
                std::fprintf(stderr, "error: line %d: %s\n", line_number, error.c_str());
                status = 1;
            }
        }
        if (parser.isSet(screenshot) && !WriteScreenshot(window, parser.value(screenshot))) {
            status = 1;
        }
        return status;
    }

    QObject::connect(&window, &ViewWindow::FirstFramePainted, &window,
                     [&window, &started] { PrintReady(window, started.elapsed()); });
    if (!parser.positionalArguments().isEmpty()) control.SetPath(parser.positionalArguments()[0]);
    if (parser.isSet(from_stdin)) ReadLinesFromStandardInput(window);
    window.show();
    int status = QApplication::exec();
    if (parser.isSet(screenshot) && !WriteScreenshot(window, parser.value(screenshot))) status = 1;
    return status;
}
