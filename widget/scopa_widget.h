// ScopaWidget: the control as a Qt widget a host puts in its window. It holds the folder
// tree, the 3-pixel splitter bar and the preview list, drives the control's timer with a
// single-shot QTimer, and offers the control's automation: every method is a Q_INVOKABLE of
// the same name (flags as bool, numbers as int, strings as QString; GetPath and GetFolder
// return their string) and every event is a signal of the same name, so hosts can call
// QMetaObject::invokeMethod(widget, "SetPath", Q_ARG(QString, path)) and connect to
// OnPathChange. Hosts that bind by number call InvokeDispid.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <QWidget>
#include <memory>

namespace scopa {
class CScopaCtrl;
class CQtListView;
class CQtTreeView;
class CPreviewWindow;
class QtUserInterface;
}  // namespace scopa

class ScopaWidget : public QWidget {
    Q_OBJECT
public:
    explicit ScopaWidget(QWidget* parent = nullptr);
    ~ScopaWidget() override;

    scopa::CScopaCtrl& Control();
    scopa::CQtTreeView& TreeView() { return *m_tree; }
    scopa::CQtListView& ListView() { return *m_list; }
    // The floating preview window, null until PreviewListItem first shows it.
    scopa::CPreviewWindow* PreviewWindow() const { return m_preview; }
    // Off: the control's timer is never armed and a script ticks it by hand.
    void SetTimerDriven(bool driven);
    bool IsTimerDriven() const { return m_timerDriven; }
    bool IsTimerArmed() const { return m_timer.isActive(); }
    // Opens the context menu at a point of the list's client area, as a right click does.
    void OpenContextMenu(QPoint list_point, QPoint global_position);
    QSize sizeHint() const override { return {640, 400}; }

    // ---- automation, in dispid order ----
    Q_INVOKABLE int GetPalette();
    Q_INVOKABLE QString GetPath();
    Q_INVOKABLE void SetPath(const QString& path);
    Q_INVOKABLE void SetFilter(const QString& filter);
    Q_INVOKABLE bool CreateStaticCache(const QString& cache_path_name,
                                       const QString& root_folder_path);
    Q_INVOKABLE bool QryGoParent();
    Q_INVOKABLE bool QryGoBack();
    Q_INVOKABLE bool QryGoForward();
    Q_INVOKABLE void GoParent();
    Q_INVOKABLE void GoBack();
    Q_INVOKABLE void GoForward();
    Q_INVOKABLE void OkPressed();
    Q_INVOKABLE bool QryEnableOk();
    Q_INVOKABLE int GetTreeControlWidth();
    Q_INVOKABLE void SetTreeControlWidth(int width);
    Q_INVOKABLE void SetResolution(int resolution);
    Q_INVOKABLE void EnableDragAndDrop();
    Q_INVOKABLE int GetPreviewListStyle();
    Q_INVOKABLE void SetPreviewListStyle(int style);
    Q_INVOKABLE int GetPreviewListSortOrder();
    Q_INVOKABLE void SetPreviewListSortOrder(int order);
    Q_INVOKABLE void EnableTreeControl(bool enable);
    Q_INVOKABLE void EnablePopupMenu(bool enable);
    Q_INVOKABLE void ShowFolderOverlays(bool show);
    Q_INVOKABLE void ShowShortcutOverlays(bool show);
    Q_INVOKABLE void ShowFileExtensions(bool show);
    Q_INVOKABLE void SelectPreviewListItem(int index);
    Q_INVOKABLE void SelectPreviewListItemStr(const QString& name);
    Q_INVOKABLE QString GetFolder();
    Q_INVOKABLE void SetSumInfoKeywordFilter(const QString& keywords);
    Q_INVOKABLE bool QryEnableExport();
    Q_INVOKABLE void ExportPressed();
    Q_INVOKABLE void SetTreeControlRootFolder(const QString& folder);
    Q_INVOKABLE void ShowTreeControlButtons(bool show);
    Q_INVOKABLE void SetTreeControlTopFolder(const QString& folder);
    Q_INVOKABLE void SetTreeControlFixedWidth(int width);
    Q_INVOKABLE void SetFilterExtensions(const QString& filter, const QString& extensions);
    Q_INVOKABLE void EnableDoubleClickLaunch();
    Q_INVOKABLE bool QryPreviewListItem();
    Q_INVOKABLE void PreviewListItem();
    Q_INVOKABLE bool QryOpenEditListItem();
    Q_INVOKABLE void OpenEditListItem();

    // Calls a method by dispid with the control's own argument rules (flags by their low
    // byte); the result is the method's result or, for an out-string, the string. An invalid
    // QVariant for an unknown dispid or unsuitable arguments.
    Q_INVOKABLE QVariant InvokeDispid(int dispid, const QVariantList& arguments);

signals:
    void OnFeedback(const QString& text);
    void OnPathChange();
    void OnOpen();
    void OnNavigate();
    void OnTreeControlWidthChange();
    void OnSelectionChange(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    class Host;
    void ApplyPalette();
    void UpdateSplitterCursor();
    void ShowDragFeedback(bool shown);
    void ActivateSelected();
    void ContextMenuForSelected();
    void TypeAhead(const QString& text);

    std::unique_ptr<Host> m_host;
    scopa::CQtTreeView* m_tree = nullptr;
    scopa::CQtListView* m_list = nullptr;
    QWidget* m_dragFeedback = nullptr;
    scopa::CPreviewWindow* m_preview = nullptr;  // made when first shown
    std::unique_ptr<scopa::QtUserInterface> m_userInterface;
    std::unique_ptr<scopa::CScopaCtrl> m_control;
    QTimer m_timer;
    QString m_typedPrefix;
    QElapsedTimer m_sinceTyped;
    bool m_timerDriven = true;
};
