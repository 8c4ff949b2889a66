// The floating preview window: one tool window per widget showing a picture fitted into it,
// read through the core's filters (vector pictures rendered), above the host's window.
#pragma once

#include <QLabel>
#include <string>

namespace scopa {

class CPreviewWindow final : public QLabel {
public:
    explicit CPreviewWindow(QWidget* owner);
    // Shows the picture at `path`; a picture that cannot be read shows its name and why.
    void ShowPicture(const std::string& path);
    const QImage& Picture() const { return m_picture; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Fit();
    QImage m_picture;
};

}  // namespace scopa
