// Acting on a chosen picture through the widget on Qt's offscreen platform: the export
// dialog driven as a user drives it, the preview window shown for real, the insert-disk
// dialog closing by itself, and the drag data a target receives.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <set>

#include "cache/cache_manager.h"
#include "control/scopa_ctrl.h"
#include "imaging/palette.h"
#include "imaging/picture.h"
#include "widget/drag_source.h"
#include "widget/export_dialog.h"
#include "widget/insert_disk_dialog.h"
#include "widget/preview_window.h"
#include "widget/scopa_widget.h"

using namespace scopa;

namespace {

// A bitmap of `width` x `height` in three colour bands, written through the filter `id`.
void WriteBitmap(const QString& path, int width, int height, const char* id) {
    oDIB dib;
    QVERIFY(dib.Create(width, height, 24));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            dib.SetRawPixel(x, y, x < width / 3 ? 0xFF0000u : 0x00FF00u);
    QCOMPARE(WritePicture(path.toStdString(), id, &dib, nullptr), int(kFilterDone));
}

void WriteText(const QString& path, const QByteArray& text) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

struct Loaded {
    int result = kLoadFailed;
    int kind = 0;
    oDIB dib;
};
Loaded Load(const QString& path) {
    Loaded loaded;
    vMETAFILE metafile;
    loaded.result = LoadPicture(nullptr, path.toStdString(), loaded.dib, metafile, loaded.kind, 0);
    return loaded;
}

}  // namespace

class ActionsTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void exportCopiesATifAndRefreshesOnlyTheShownFolder();
    void exportTypeChangeRenamesAndVectorSizesRender();
    void previewWindowPlacesSizesAndRemembers();
    void insertDiskDialogClosesWhenTheDiskArrives();
    void dragDataRendersOnRequest();

private:
    void Open(const QString& folder);
    // Ticks until the list is filled and the thumbnails are made.
    void Idle();
    // Runs `drive` on the export dialog once ExportPressed opened it.
    void Export(const QString& item, const std::function<void(ExportDialog&)>& drive);
    QString In(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    std::unique_ptr<ScopaWidget> m_widget;
};

void ActionsTest::init() {
    QDir(qEnvironmentVariable("SCOPA_REGISTRY_DIR")).removeRecursively();
    QVERIFY(m_dir.isValid());
    QDir(m_dir.path()).mkpath("shown");
    QDir(m_dir.path()).mkpath("elsewhere");
    WriteBitmap(In("shown/photo.TIF"), 60, 30, "TIF");
    WriteBitmap(In("shown/wide.png"), 100, 50, "PNG");
    WriteText(In("shown/plan.svg"),
              R"(<svg xmlns="http://www.w3.org/2000/svg" width="400" height="300">)"
              R"(<rect width="400" height="300" fill="blue"/></svg>)");
    m_widget = std::make_unique<ScopaWidget>();
    m_widget->SetTimerDriven(false);
    m_widget->resize(700, 500);
    m_widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_widget.get()));
    Open(In("shown"));
}

void ActionsTest::cleanup() {
    m_widget.reset();
    CPreviewCacheManager::Destroy();
}

void ActionsTest::Open(const QString& folder) {
    m_widget->SetPath(folder);
    Idle();
}

void ActionsTest::Idle() {
    CScopaCtrl& control = m_widget->Control();
    for (int tick = 0; tick < 10000; ++tick) {
        CPreviewCacheManager* manager = CPreviewCacheManager::Existing();
        bool idle = !control.list().IsRefreshPending() &&
                    (manager == nullptr || manager->QueueHead() == nullptr);
        if (idle) break;
        control.OnTimer();
        QCoreApplication::processEvents();
    }
}

void ActionsTest::Export(const QString& item, const std::function<void(ExportDialog&)>& drive) {
    m_widget->SelectPreviewListItemStr(item);
    bool driven = false;
    QTimer::singleShot(0, this, [&] {
        auto* dialog = qobject_cast<ExportDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        driven = true;
        drive(*dialog);
    });
    // A question the dialog should not ask is answered No, and the dialog cancelled.
    QTimer unexpected;
    connect(&unexpected, &QTimer::timeout, this, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            qWarning() << "unexpected question:" << box->text();
            box->reject();
            if (auto* dialog = qobject_cast<ExportDialog*>(QApplication::activeModalWidget()))
                dialog->reject();
        }
    });
    unexpected.start(500);
    m_widget->ExportPressed();
    QVERIFY(driven);
}

void ActionsTest::exportCopiesATifAndRefreshesOnlyTheShownFolder() {
    size_t before = m_widget->Control().list().model().GetItemCount();
    Export("photo.TIF", [&](ExportDialog& dialog) {
        QCOMPARE(dialog.ResolutionList(), nullptr);
        QCOMPARE(dialog.SelectedTypeIndex(), dialog.model().InitialTypeIndex());
        dialog.selectFile(In("shown/copy"));
        QMetaObject::invokeMethod(&dialog, "accept");
    });
    QFile source(In("shown/photo.TIF"));
    QFile copy(In("shown/copy.TIF"));
    QVERIFY(source.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), source.readAll());
    // Into the shown folder: listed at the next tick, the exported item selected again.
    Idle();
    QCOMPARE(m_widget->Control().list().model().GetItemCount(), before + 1);
    const CListItem* selected = m_widget->Control().list().GetSelectedItem();
    QVERIFY(selected != nullptr);
    QCOMPARE(selected->path().GetPathText(), In("shown/photo.TIF").toStdString());
    // Elsewhere: no refresh is asked for.
    Export("photo.TIF", [&](ExportDialog& dialog) {
        dialog.selectFile(In("elsewhere/copy"));
        QMetaObject::invokeMethod(&dialog, "accept");
    });
    QVERIFY(QFile::exists(In("elsewhere/copy.TIF")));
    QVERIFY(!m_widget->Control().list().IsRefreshPending());
}

void ActionsTest::exportTypeChangeRenamesAndVectorSizesRender() {
    // photo.TIF in the name box becomes photo.GIF with the GIF type; no resolution list.
    Export("photo.TIF", [&](ExportDialog& dialog) {
        auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
        name->setText("photo.TIF");
        auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
        QVERIFY(types != nullptr);
        int gif = types->findText("*.GIF", Qt::MatchContains);
        QVERIFY(gif >= 0);
        types->setCurrentIndex(gif);
        QCOMPARE(name->text(), QString("photo.GIF"));
        dialog.reject();
    });

    // A vector picture: 640 x 480, 800 x 600 and 1024 x 768 with 1024 x 768 chosen, enabled
    // for bitmap types only.
    Export("plan.svg", [&](ExportDialog& dialog) {
        QComboBox* sizes = dialog.ResolutionList();
        QVERIFY(sizes != nullptr);
        QVERIFY(!sizes->isEnabled());  // its own format
        auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
        types->setCurrentIndex(types->findText("*.PNG", Qt::MatchContains));
        QVERIFY(sizes->isEnabled());
        QCOMPARE(sizes->count(), 3);
        QCOMPARE(sizes->itemText(0), QString("640 x 480"));
        QCOMPARE(sizes->currentText(), QString("1024 x 768"));
        dialog.selectFile(In("elsewhere/plan"));
        QMetaObject::invokeMethod(&dialog, "accept");
    });
    Loaded png = Load(In("elsewhere/plan.PNG"));
    QCOMPARE(png.result, kLoadRead);
    QCOMPARE(png.dib.Width(), 1024);
    QCOMPARE(png.dib.Height(), 768);
    QCOMPARE(png.dib.BitCount(), 24);

    // GIF from a vector picture: 8-bit screen-palette indices.
    Export("plan.svg", [&](ExportDialog& dialog) {
        auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
        types->setCurrentIndex(types->findText("*.GIF", Qt::MatchContains));
        dialog.ResolutionList()->setCurrentIndex(0);
        dialog.selectFile(In("elsewhere/plan"));
        QMetaObject::invokeMethod(&dialog, "accept");
    });
    Loaded gif = Load(In("elsewhere/plan.GIF"));
    QCOMPARE(gif.result, kLoadRead);
    QCOMPARE(gif.dib.Width(), 640);
    // Every pixel is a colour of the shared palette (the reader gives 24-bit pixels).
    std::set<uint32_t> palette;
    for (const RgbQuad& entry : ScreenPalette())
        palette.insert(uint32_t(entry.red) << 16 | uint32_t(entry.green) << 8 | entry.blue);
    for (int y = 0; y < gif.dib.Height(); y += 7) {
        for (int x = 0; x < gif.dib.Width(); x += 7) {
            Rgb colour = gif.dib.PixelColour(x, y);
            QVERIFY(palette.count(uint32_t(colour.red) << 16 | uint32_t(colour.green) << 8 |
                                  colour.blue) == 1);
        }
    }
    QFile file(In("elsewhere/plan.GIF"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(uint8_t(file.read(11).at(10)) & 0x87, 0x87);  // a global table of 256 colours
}

void ActionsTest::previewWindowPlacesSizesAndRemembers() {
    m_widget->SelectPreviewListItemStr("wide.png");
    QVERIFY(m_widget->QryPreviewListItem());
    m_widget->PreviewListItem();
    auto* preview = m_widget->findChild<CPreviewWindow*>("previewWindow");
    QVERIFY(preview != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(preview));
    // 100 x 50 gets the smallest side, 200, and a client area of 200 x 100 at (100, 100).
    FrameExtra frame = preview->Frame();
    QCOMPARE(preview->size(), QSize(200, 100));
    QCOMPARE(preview->frameGeometry().topLeft(), QPoint(100, 100));
    QCOMPARE(preview->windowTitle(), In("shown/wide.png"));
    QCOMPARE(preview->minimumSize(), QSize(200, 100));

    // The right edge dragged to a client width of 400: the height follows when it settles.
    preview->resize(400, 130);
    preview->SettleResize();
    QCOMPARE(preview->size(), QSize(400, 200));
    QCOMPARE(frame.width, preview->frameGeometry().width() - 400);

    // Closed where it was moved, it comes back around the same place.
    preview->move(150, 120);
    QTRY_COMPARE(preview->frameGeometry().topLeft(), QPoint(150, 120));
    preview->close();
    QVERIFY(!preview->isVisible());
    m_widget->PreviewListItem();
    QVERIFY(QTest::qWaitForWindowExposed(preview));
    QRect again = preview->frameGeometry();
    QCOMPARE(again.size(), QSize(200 + frame.width, 100 + frame.height));
    QPoint moved = QRect(150, 120, 400 + frame.width, 200 + frame.height).center();
    QVERIFY((again.center() - moved).manhattanLength() <= 2);
    preview->close();
}

void ActionsTest::insertDiskDialogClosesWhenTheDiskArrives() {
    std::optional<Volume> mounted;
    CInsertCDRom state("HOLIDAY", In("E").toStdString(), "/Photos");
    state.SetVolumeFinder([&](std::string_view) { return mounted; });
    InsertDiskDialog dialog(nullptr, state);
    dialog.show();
    QCOMPARE(dialog.LocationField()->text(), In("E/Photos"));
    QVERIFY(!dialog.OkButton()->isEnabled());
    QTest::qWait(600);
    QVERIFY(dialog.isVisible());
    QDir(m_dir.path()).mkpath("G/Photos");
    mounted = Volume{In("G").toStdString(), "/dev/sr0", "iso9660", "HOLIDAY", DriveType::CdRom};
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), 10000);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(state.m_strDrive, In("G").toStdString());
}

void ActionsTest::dragDataRendersOnRequest() {
    int rendered = 0;
    std::string path = In("shown/wide.png").toStdString();
    std::vector<std::string> formats;
    QVERIFY(DragFormatsOf(path, formats));
    PictureMimeData data(path, formats, m_widget->Control(), [&] { ++rendered; });
    QCOMPARE(data.formats(), (QStringList{"image/bmp", "image/png", "text/uri-list"}));
    QCOMPARE(rendered, 0);  // nothing is rendered before a target asks
    QByteArray bmp = data.data("image/bmp");
    QVERIFY(bmp.startsWith("BM"));
    QCOMPARE(rendered, 1);
    WriteText(In("dropped.bmp"), bmp);
    Loaded loaded = Load(In("dropped.bmp"));
    QCOMPARE(loaded.result, kLoadRead);
    QCOMPARE(loaded.dib.Width(), 100);
    QCOMPARE(data.data("text/uri-list"),
             QByteArray("file://" + QUrl::toPercentEncoding(In("shown/wide.png"), "/") + "\r\n"));
    QVERIFY(data.data("image/x-wmf").isEmpty());
}

QTEST_MAIN(ActionsTest)
#include "actions_test.moc"
