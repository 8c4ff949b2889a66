// Picture loading and rendering: which files are pictures, reading them through their filter
// with throttled progress and an interruption query, drawing them into bitmaps, writing them
// through a filter, and reading plain bitmap files for decorations.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "imaging/dib.h"
#include "imaging/filter.h"
#include "imaging/geometry.h"
#include "imaging/vector.h"

namespace scopa {

// LoadPicture results.
inline constexpr int kLoadRead = 0;
inline constexpr int kLoadInterrupted = 1;
inline constexpr int kLoadFailed = 2;
// Resolution index meaning "choose for a thumbnail".
inline constexpr int kAutomaticResolution = -1;
// Progress reaches the observer at most this often.
inline constexpr uint32_t kProgressIntervalMs = 250;

// Who watches a load: the control's list shows the progress; the interruption query is asked
// while the filter works, and a true answer stops the load with result 1 (the widget answers
// "a left click is pending").
class PictureLoadObserver {
public:
    virtual ~PictureLoadObserver() = default;
    virtual void OnLoadStart() {}
    virtual void OnLoadProgress(uint32_t percent) { (void)percent; }
    virtual void OnLoadEnd() {}
    virtual bool IsInterruptionPending() { return false; }
};

// The millisecond tick the progress throttle reads; tests may replace it (null restores the
// monotonic clock).
using TickSource = uint32_t (*)();
void SetTickSource(TickSource source);

// Kind codes: "PCF" any picture, "BMF" bitmaps, "LAF" vector pictures, else a filter's GetID.
// By content the file is opened and sniffed; otherwise the text after the last '.' of `path`
// (or all of it) is upper-cased and matched against the filters' identifiers.
bool IsPictureOfKind(const std::string& path, const std::string& kind, bool by_content);

// Reads a picture: 0 read, 1 interrupted, 2 failed. `kind` is set whenever a filter search ran.
// A resolution index of -1 picks the smallest offered resolution with a side above 128; any
// other index applies only to a format with several resolutions of its own, so a fixed
// index (the preview window's) shows other pictures at their full size.
int LoadPicture(PictureLoadObserver* observer, const std::string& path, oDIB& dib,
                vMETAFILE& metafile, int& kind, int resolution_index);

// Why the calling thread's last LoadPicture or WritePicture did not succeed, empty after one
// that did or was interrupted: the format's identifier and its filter's reason
// ("PNG: IDAT: unexpected end of data"), or why no filter got to the file. Each failure is
// also traced with its path.
const FilterFailure& LastPictureFailure();
// Sets it for a failure decided without reading the file (one remembered from an earlier
// read), so that no older reason stands for it; traced like the others.
void NotePictureFailure(const std::string& path, FilterFailure failure);

// The automatic resolution choice: starting from a best of 9999 x 9999, every size with a
// side above 128 that is smaller than the best in either side replaces it. -1 when none does.
int ChooseAutomaticResolution(std::span<const vSIZE> sizes);

// Fills the whole target white and draws the picture fitted into its top-left corner; returns
// the size the picture covers (0 x 0 for other kinds).
vSIZE RenderPicture(oDIB& target, int kind, const oDIB& dib, const vMETAFILE& metafile);

// The largest rectangle of the source's proportions in the box, at (0, 0).
Rect FitToBox(int32_t source_width, int32_t source_height, int32_t box_width, int32_t box_height);

// Writes through the filter named `id`: its status (0 success), or 6 when the file cannot be
// created or no filter has that identifier. The file is replaced only on success.
int WritePicture(const std::string& path, const std::string& id, const oDIB* dib,
                 const vMETAFILE* metafile);

// Reads a plain Windows bitmap file (whatever its extension): the 14-byte file header, a 40-byte
// info header, the colour table and the bits straight after it. A name without '/' is looked
// up in the program's folders (FindProgramFile): its own, then the installed data folder.
bool LoadBitmapFile(const std::string& name, oDIB& target);

// The calling thread's last filter matched by extension (null before the first match).
const oFILTER* LastMatchedFilter();

}  // namespace scopa
