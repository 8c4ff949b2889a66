// What a picture dragged out of the list offers, rendered only when a target asks: a bitmap
// as a Windows bitmap file ("image/bmp", the packed DIB behind its 14-byte file header) and as
// PNG, a vector picture as a Windows metafile, and every picture as a file URI. Also the rules
// around a drag: the delayed start that leaves room for a double click, the target
// application's name from its window title, and the assistant that notices a picture dropped
// twice onto the same application and offers to give that application a generic format.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/geometry.h"

namespace scopa {

class CControlPrefs;

inline constexpr std::string_view kDragMimeBmp = "image/bmp";
inline constexpr std::string_view kDragMimePng = "image/png";
inline constexpr std::string_view kDragMimeWmf = "image/x-wmf";
inline constexpr std::string_view kDragMimeUriList = "text/uri-list";

// With double-click launch on, a drag starts when the pointer moves further than this from the
// press in either direction, or when the double-click interval has passed.
inline constexpr int32_t kDragStartDistance_px = 4;
// The same picture dropped onto the same application again within this window (both ends
// included) looks like a drop the application could not read.
inline constexpr uint32_t kDoubleDropMin_ms = 1000;
inline constexpr uint32_t kDoubleDropMax_ms = 60000;
// Generic drops are written to these names in the temporary folder.
inline constexpr std::string_view kGenericDropBitmapName = "Picture.bmp";
inline constexpr std::string_view kGenericDropVectorName = "Picture.wmf";

inline constexpr std::string_view kDropAssistantCaption = "Drag & Drop Assistant";  // 224
inline constexpr std::string_view kDropAssistantQuestion =
    "You have dropped the same picture twice onto the same application.  This could be due to "
    "the application not being able to handle the picture's format.\n\nDo you want to drop "
    "pictures in a more generic format for this application?";  // 225

// The formats a file offers, identified by its content: bitmap formats for a bitmap filter,
// the metafile for a vector filter, and always the URI list. False when the file cannot be
// opened (no drag starts).
bool DragFormatsOf(const std::string& path, std::vector<std::string>& formats);

// Renders one offered format of `path`; `resolution_index` (-1 none) is given to bitmap loads.
// False when the conversion fails; the URI list never does.
bool RenderDragFormat(const std::string& path, std::string_view format, int resolution_index,
                      std::vector<uint8_t>& bytes);

// "file://" URI of an absolute path followed by CR LF, as text/uri-list lines end.
std::string UriListOf(const std::string& path);

// The drag-start delay of double-click launch: armed at the press, it fires once on a move
// further than kDragStartDistance_px or when the double-click interval ends.
class DragStartDelay {
public:
    void Arm(Point press) {
        m_press = press;
        m_armed = true;
    }
    void Disarm() { m_armed = false; }
    bool IsArmed() const { return m_armed; }
    // True (and disarmed) when this move starts the drag.
    bool OnMove(Point pointer);
    // True (and disarmed) when the interval's end starts the drag.
    bool OnIntervalEnded();

private:
    Point m_press;
    bool m_armed = false;
};

// The application's part of a window title: cut before the first "[", then "{", then "'",
// then "-", and trimmed ("Report [Read-Only] - Writer" gives "Report").
std::string ApplicationNameFromTitle(std::string_view title);

// Writes the generic form of `path` into `folder`: a bitmap as Picture.bmp, a vector picture
// as Picture.wmf. The written file's path, or "" for another kind or a failed conversion.
std::string WriteGenericDropFile(const std::string& path, const std::string& folder,
                                 int resolution_index);
// Removes left-over generic drop files from `folder` (done once when the module starts).
void DeleteGenericDropFiles(const std::string& folder);

// Decides, when a target takes the file name at the drop, which file it gets: applications
// recorded as wanting a generic format get one; the second drop of the same picture onto the
// same application within the double-drop window asks the user whether to record it.
class GenericDropAssistant {
public:
    // `application` is the target's name ("" when unknown, e.g. without X11); `button_up`
    // whether the data is asked for at the drop itself; `now_ms` a millisecond tick. Returns
    // the path to hand over: the picture's own, or the generic file's.
    std::string PathForDrop(const std::string& path, const std::string& application, bool button_up,
                            uint32_t now_ms, CControlPrefs& prefs,
                            const std::string& temporary_folder, int resolution_index);

private:
    std::string m_lastPath;
    std::string m_lastApplication;
    uint32_t m_lastTick_ms = 0;
};

// The one assistant of the process: the double-drop record lives as long as the module.
GenericDropAssistant& ProcessDropAssistant();

}  // namespace scopa
