// The widget on Qt's offscreen platform: automation by name, events as signals in order,
// the image list per style, the splitter under real mouse events, the context menu, the
// cells on screen, the message service and, run again at a scale of 2, HiDPI drawing.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMetaMethod>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "cache/cache_manager.h"
#include "control/automation.h"
#include "control/scopa_ctrl.h"
#include "platform/user_interface.h"
#include "widget/cell_image.h"
#include "widget/preview_window.h"
#include "widget/qt_list_view.h"
#include "widget/qt_tree_view.h"
#include "widget/scopa_widget.h"
#include "widget/theme_icons.h"

using namespace scopa;

namespace {

const QString kSamples = QStringLiteral(SCOPA_SAMPLES_DIR);

QByteArray QtTypeName(AutomationType type) {
    switch (type) {
        case AutomationType::kBool:
            return "bool";
        case AutomationType::kLong:
            return "int";
        case AutomationType::kString:
        case AutomationType::kStringOut:
            return "QString";
        case AutomationType::kVoid:
            break;
    }
    return "void";
}

QPoint Centre(const Rect& rect) {
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

}  // namespace

class WidgetTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { m_widget.reset(); }
    void automationMethodsAndEventsByName();
    void dispidTable();
    void selectionEventsInOrder();
    void keyboardTypeAheadAndEnter();
    void styleSwitchesRebuildTheImageList();
    void splitterRulesUnderMouse();
    void bitmapsBecomeImagesWithTheirColours();
    void cellsOnScreenAreTheComposedCells();
    void waitCursorNestsThroughOverrideCursor();
    void messagesShowMessageBoxes();
    void contextMenuChecksAndGreying();
    void hidpi();

private:
    void Open(const QString& folder);
    QWidget* Viewport() { return m_widget->ListView().ActiveView()->viewport(); }
    QPoint ItemCentre(int index) {
        return m_widget->ListView().ToViewport(
            {Centre(m_widget->ListView().GetItemRect(size_t(index), ListItemPart::kIcon)).x(),
             Centre(m_widget->ListView().GetItemRect(size_t(index), ListItemPart::kIcon)).y()});
    }

    std::unique_ptr<ScopaWidget> m_widget;
    QStringList m_events;
};

void WidgetTest::initTestCase() {
    // Each run starts from no preferences and no caches (its own sandbox, set by the test).
    for (const char* variable : {"SCOPA_REGISTRY_DIR", "XDG_CACHE_HOME"}) {
        QString folder = qEnvironmentVariable(variable);
        QVERIFY(folder.contains("test-tmp"));
        QDir(folder).removeRecursively();
    }
    m_widget = std::make_unique<ScopaWidget>();
    m_widget->SetTimerDriven(false);  // ticks come from Open, so events are deterministic
    m_widget->resize(800, 600);
    m_widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_widget.get()));
    ScopaWidget* w = m_widget.get();
    connect(w, &ScopaWidget::OnFeedback, this, [this](const QString&) { m_events << "Feedback"; });
    connect(w, &ScopaWidget::OnPathChange, this, [this] { m_events << "PathChange"; });
    connect(w, &ScopaWidget::OnOpen, this, [this] { m_events << "Open"; });
    connect(w, &ScopaWidget::OnNavigate, this, [this] { m_events << "Navigate"; });
    connect(w, &ScopaWidget::OnTreeControlWidthChange, this, [this] { m_events << "Width"; });
    connect(w, &ScopaWidget::OnSelectionChange, this,
            [this](int index) { m_events << QString("Selection %1").arg(index); });
    Open(kSamples + "/Landscapes");
}

// Sets the path and ticks until the list is filled and the thumbnails are made.
void WidgetTest::Open(const QString& folder) {
    QVERIFY(QMetaObject::invokeMethod(m_widget.get(), "SetPath", Q_ARG(QString, folder)));
    CScopaCtrl& control = m_widget->Control();
    for (int tick = 0; tick < 10000; ++tick) {
        CPreviewCacheManager* manager = CPreviewCacheManager::Existing();
        bool queue_empty = manager == nullptr || manager->QueueHead() == nullptr;
        if (!control.list().IsRefreshPending() && queue_empty) break;
        control.OnTimer();
        QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    m_events.clear();
}

void WidgetTest::automationMethodsAndEventsByName() {
    const QMetaObject* meta = m_widget->metaObject();
    QCOMPARE(AutomationMethods().size(), size_t(42));
    for (const AutomationMethod& method : AutomationMethods()) {
        QByteArray signature = QByteArray(method.name.data(), qsizetype(method.name.size())) + "(";
        QByteArray result = QtTypeName(method.result);
        QList<QByteArray> parameters;
        for (AutomationType type : method.parameters) {
            // An out-string is the Qt method's result.
            if (type == AutomationType::kStringOut) {
                result = "QString";
            } else {
                parameters << QtTypeName(type);
            }
        }
        signature += parameters.join(",") + ")";
        int index = meta->indexOfMethod(signature);
        QVERIFY2(index >= 0, signature.constData());
        QCOMPARE(meta->method(index).methodType(), QMetaMethod::Method);
        QCOMPARE(QByteArray(meta->method(index).typeName()), result);
    }
    for (const AutomationEvent& event : AutomationEvents()) {
        QByteArray signature = QByteArray(event.name.data(), qsizetype(event.name.size())) + "(";
        QList<QByteArray> parameters;
        for (AutomationType type : event.parameters)
            parameters << QtTypeName(type);
        signature += parameters.join(",") + ")";
        QVERIFY2(meta->indexOfSignal(signature) >= 0, signature.constData());
    }
    // Calls through the meta-object reach the control.
    QVERIFY(QMetaObject::invokeMethod(m_widget.get(), "SetPreviewListStyle", Q_ARG(int, 1)));
    int style = -1;
    QVERIFY(
        QMetaObject::invokeMethod(m_widget.get(), "GetPreviewListStyle", Q_RETURN_ARG(int, style)));
    QCOMPARE(style, 1);
    QVERIFY(QMetaObject::invokeMethod(m_widget.get(), "SetPreviewListStyle", Q_ARG(int, 0)));
    QString folder;
    QVERIFY(QMetaObject::invokeMethod(m_widget.get(), "GetFolder", Q_RETURN_ARG(QString, folder)));
    QCOMPARE(folder, kSamples + "/Landscapes");
}

void WidgetTest::dispidTable() {
    QCOMPARE(m_widget->InvokeDispid(18, {}), QVariant(m_widget->GetPreviewListStyle()));
    QCOMPARE(m_widget->InvokeDispid(29, {}).toString(), m_widget->GetFolder());
    // Flags keep the control's low-byte rule when given as numbers.
    QVERIFY(m_widget->InvokeDispid(23, {0x100}).isValid());
    QVERIFY(!m_widget->Control().PopupMenuEnabled());
    m_widget->InvokeDispid(23, {true});
    QVERIFY(m_widget->Control().PopupMenuEnabled());
    QVERIFY(!m_widget->InvokeDispid(43, {}).isValid());
    QVERIFY(!m_widget->InvokeDispid(15, {"not a number"}).isValid());
}

void WidgetTest::selectionEventsInOrder() {
    QTest::mouseClick(Viewport(), Qt::LeftButton, {}, ItemCentre(1));
    QCOMPARE(m_events, QStringList({"PathChange", "Selection 1"}));
    m_events.clear();
    QTest::mouseClick(Viewport(), Qt::LeftButton, {}, ItemCentre(3));
    QCOMPARE(m_events, QStringList({"PathChange", "Selection -1", "PathChange", "Selection 3"}));
    m_events.clear();
    QTest::keyClick(m_widget->ListView().ActiveView(), Qt::Key_Home);
    QCOMPARE(m_events, QStringList({"PathChange", "Selection -1", "PathChange", "Selection 0"}));
    QCOMPARE(m_widget->Control().list().GetSelectedIndex(), 0);
}

void WidgetTest::keyboardTypeAheadAndEnter() {
    QWidget* view = m_widget->ListView().ActiveView();
    QTest::keyClicks(view, "su");
    QCOMPARE(m_widget->Control().list().GetSelectedIndex(), 3);  // Sunset.bmp
    m_events.clear();
    QTest::keyClick(view, Qt::Key_Return);  // as a double click: OK on the selected picture
    QVERIFY2(m_events.contains("Open"), qPrintable(m_events.join(",")));
    // Preview shows the picture in the floating window at its own size.
    QVERIFY(m_widget->QryPreviewListItem());
    m_widget->PreviewListItem();
    QVERIFY(m_widget->PreviewWindow() != nullptr && m_widget->PreviewWindow()->isVisible());
    QCOMPARE(m_widget->PreviewWindow()->Picture().size(), QSize(640, 400));  // Sunset.bmp
    m_widget->PreviewWindow()->close();
    // Shift+F10 opens the context menu of the selected item.
    bool menu_opened = false;
    QTimer::singleShot(0, this, [&menu_opened] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        menu_opened = menu != nullptr;
        if (menu != nullptr) menu->close();
    });
    QTest::keyClick(view, Qt::Key_F10, Qt::ShiftModifier);
    QVERIFY(menu_opened);
    QCOMPARE(m_widget->Control().list().GetSelectedIndex(), 3);
    // Screen readers get the items' labels.
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view);
    QVERIFY(list != nullptr);
    bool labelled = false;
    for (int i = 0; i < list->childCount(); ++i)
        labelled |= list->child(i)->text(QAccessible::Name) == "Sunset.bmp";
    QVERIFY(labelled);
    // Tab moves between the tree and the list.
    m_widget->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_widget.get()));
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Tab, Qt::ShiftModifier);
    QVERIFY(m_widget->TreeView().hasFocus());
    m_events.clear();
}

void WidgetTest::styleSwitchesRebuildTheImageList() {
    CQtListView& view = m_widget->ListView();
    struct Case {
        int style;
        ListViewMode mode;
        int slot_size;
    };
    for (Case c : {Case{1, ListViewMode::kIcons, kSmallCellPx},
                   Case{0, ListViewMode::kIcons, kLargeCellPx}, Case{2, ListViewMode::kList, 0},
                   Case{3, ListViewMode::kDetails, 0}, Case{0, ListViewMode::kIcons, 130}}) {
        m_widget->SetPreviewListStyle(c.style);
        QCOMPARE(view.GetMode(), c.mode);
        if (c.mode == ListViewMode::kIcons) {
            QCOMPARE(view.ImageSlotCount(), kImageSlotCount);
            QCOMPARE(view.ImageSlot(0).size(), QSize(c.slot_size, c.slot_size));
            QCOMPARE(view.ActiveView()->objectName(), QString("previewListItems"));
            QCOMPARE(static_cast<QListView*>(view.ActiveView())->viewMode(), QListView::IconMode);
        } else if (c.mode == ListViewMode::kList) {
            auto* list = static_cast<QListView*>(view.ActiveView());
            QCOMPARE(list->viewMode(), QListView::ListMode);
            QVERIFY(list->isWrapping());
        } else {
            QVERIFY(view.DetailsView()->isVisible());
            QVERIFY(view.DetailsView()->header()->sectionsClickable());
            // A click on the size column sorts by size.
            QTest::mouseClick(view.DetailsView()->header()->viewport(), Qt::LeftButton, {},
                              {view.DetailsView()->header()->sectionViewportPosition(1) + 5, 5});
            QCOMPARE(m_widget->GetPreviewListSortOrder(), 4);
            m_widget->SetPreviewListSortOrder(0);
        }
    }
}

void WidgetTest::splitterRulesUnderMouse() {
    ScopaWidget& w = *m_widget;
    auto drag = [&w](int from_x, int to_x) {
        QTest::mousePress(&w, Qt::LeftButton, {}, {from_x, 10});
        QTest::mouseMove(&w, {to_x, 12});
        QTest::mouseRelease(&w, Qt::LeftButton, {}, {to_x, 12});
    };
    m_events.clear();
    int width = w.GetTreeControlWidth();
    QCOMPARE(w.cursor().shape(), Qt::SplitHCursor);
    drag(width + 1, 100);
    QCOMPARE(w.GetTreeControlWidth(), 100);
    QCOMPARE(m_events, QStringList({"Width"}));
    QCOMPARE(w.TreeView().geometry().width(), 100);
    QCOMPARE(w.ListView().geometry().left(), 100 + kSplitterWidthPx);
    // Under 7 pixels at release: 6, and the tree's remembered width stays.
    drag(101, 1);
    QCOMPARE(w.GetTreeControlWidth(), kCollapsedTreeWidthPx);
    QCOMPARE(w.Control().GetDefaultTreeWidth(), 100);
    // Clamped 3 pixels from the right edge.
    drag(7, w.width() + 50);
    QCOMPARE(w.GetTreeControlWidth(), w.width() - kSplitterWidthPx);
    // A fixed width does not move and shows the arrow.
    w.SetTreeControlFixedWidth(150);
    QTest::mouseMove(&w, {151, 20});
    QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
    drag(151, 300);
    QCOMPARE(w.GetTreeControlWidth(), 150);
    w.SetTreeControlWidth(192);
    QCOMPARE(w.ListView().geometry().left(), 192 + kSplitterWidthPx);
    m_events.clear();
}

void WidgetTest::bitmapsBecomeImagesWithTheirColours() {
    for (int bits : {24, 8}) {
        oDIB dib;
        QVERIFY(dib.Create(5, 3, bits));
        if (bits == 8) {
            for (size_t i = 0; i < dib.ColourTable().size(); ++i)
                dib.ColourTable()[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)};
        }
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 5; ++x)
                dib.SetRawPixel(x, y, uint32_t(0x102030 * (x + 1) + 0x0f0501 * y) & 0xffffffu);
        }
        QImage image = ImageFromDib(dib);
        QCOMPARE(image.size(), QSize(5, 3));
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 5; ++x) {
                Rgb colour = dib.PixelColour(x, y);
                QCOMPARE(QColor(image.pixel(x, y)), QColor(colour.red, colour.green, colour.blue));
            }
        }
    }
}

void WidgetTest::cellsOnScreenAreTheComposedCells() {
    m_widget->SetPreviewListStyle(0);
    QCoreApplication::processEvents();
    QImage screen = Viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int index : {0, 1, 4}) {
        Rect icon = m_widget->ListView().GetItemRect(size_t(index), ListItemPart::kIcon);
        QImage cell = ImageFromDib(m_widget->Control().list().ComposeCell(size_t(index)))
                          .convertToFormat(QImage::Format_RGB32);
        QPoint at = m_widget->ListView().ToViewport({icon.left + kIconSideMarginPx, icon.top});
        QCOMPARE(screen.copy(QRect(at, cell.size())), cell);
    }
}

void WidgetTest::waitCursorNestsThroughOverrideCursor() {
    CScopaCtrl& control = m_widget->Control();
    control.BeginWaitCursor(true);
    control.BeginWaitCursor(true);
    QVERIFY(QGuiApplication::overrideCursor() != nullptr);
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    control.BeginWaitCursor(false);
    QVERIFY(QGuiApplication::overrideCursor() != nullptr);
    control.BeginWaitCursor(false);
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
}

void WidgetTest::messagesShowMessageBoxes() {
    QString shown;
    QTimer::singleShot(0, this, [&shown] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        shown = box->text();
        box->button(QMessageBox::Yes)->click();
    });
    QVERIFY(AskYesNo("Replace the cache?"));
    QCOMPARE(shown, QString("Replace the cache?"));
}

void WidgetTest::contextMenuChecksAndGreying() {
    // With double-click launch the menu has Edit and Preview; a document cannot be previewed.
    m_widget->EnableDoubleClickLaunch();
    m_widget->SetFilter("DTP");
    Open(kSamples + "/Documents");
    QVERIFY(m_widget->Control().list().model().GetItemCount() > 0);
    QStringList entries;
    QTimer::singleShot(0, this, [&entries] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) return;
        for (QAction* action : menu->actions()) {
            if (action->isSeparator()) continue;
            entries << action->text().remove('&') + (action->isChecked() ? " checked" : "") +
                           (action->isEnabled() ? "" : " disabled");
        }
        for (QAction* action : menu->actions()) {
            if (action->text() == "&Details") menu->setActiveAction(action);
        }
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QTest::mouseClick(Viewport(), Qt::RightButton, {}, ItemCentre(0));
    QCOMPARE(entries, QStringList({"Edit...", "Preview... disabled", "Large previews checked",
                                   "Small Previews", "List", "Details", "by Name checked",
                                   "by Type", "by Size", "by Date"}));
    QCOMPARE(m_widget->GetPreviewListStyle(), 3);
    m_widget->SetPreviewListStyle(0);
}

// Run with QT_SCALE_FACTOR=2: icons from the theme at twice the size, cells filling twice the
// device pixels smoothly, and the splitter keeping its logical width.
void WidgetTest::hidpi() {
    if (m_widget->devicePixelRatio() != 2) QSKIP("runs at a device pixel ratio of 2");
    m_widget->SetPreviewListStyle(0);
    QCoreApplication::processEvents();
    const TreeItemData* root = m_widget->TreeView().GetItem(m_widget->TreeView().GetRoot());
    QVERIFY(root != nullptr);
    QPixmap icon = ThemeIconOfIndex(root->image).pixmap(QSize(16, 16), 2.0);
    QCOMPARE(icon.size(), QSize(32, 32));
    QCOMPARE(m_widget->Control().GetSplitterRect().Width(), kSplitterWidthPx);
    QImage whole = m_widget->grab().toImage();
    QCOMPARE(whole.width(), m_widget->width() * 2);

    QImage screen = Viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(screen.devicePixelRatio(), 2.0);
    Rect rect = m_widget->ListView().GetItemRect(0, ListItemPart::kIcon);
    QImage cell = ImageFromDib(m_widget->Control().list().ComposeCell(0))
                      .convertToFormat(QImage::Format_RGB32);
    QPoint at = m_widget->ListView().ToViewport({rect.left + kIconSideMarginPx, rect.top}) * 2;
    // Each cell pixel covers 2 x 2 device pixels; smoothing blends only at colour edges, so
    // the device pixels agree with their cell pixel within a small tolerance on average.
    long total = 0;
    for (int y = 0; y < cell.height(); ++y) {
        for (int x = 0; x < cell.width(); ++x) {
            QRgb want = cell.pixel(x, y);
            QRgb got = screen.pixel(at.x() + 2 * x, at.y() + 2 * y);
            total += std::abs(qRed(want) - qRed(got)) + std::abs(qGreen(want) - qGreen(got)) +
                     std::abs(qBlue(want) - qBlue(got));
        }
    }
    QVERIFY2(total / (cell.width() * cell.height()) < 24, qPrintable(QString::number(total)));
}

QTEST_MAIN(WidgetTest)
#include "widget_test.moc"
